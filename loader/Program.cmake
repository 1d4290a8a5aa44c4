# Quillon.exe: the Win32 shell of the loader over its portable core.
include(${PROJECT_SOURCE_DIR}/cmake/Pictures.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/Resources.cmake)

krt_rc_cp1251(quillon_rc Quillon.rc)

add_executable(Quillon WIN32
  ${CMAKE_CURRENT_SOURCE_DIR}/LoaderApp_win32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/LoaderDialog_win32.cpp
  ${quillon_rc})
target_link_libraries(Quillon PRIVATE krt_loader krt_selectcom_win32 krt_portselect krt_serial krt_ui_win32
                      krt_fw_win32 krt_fw comdlg32 comctl32 gdi32 user32)
krt_target_defaults(Quillon)

krt_add_pictures(Quillon ${quillon_rc}
  pictures/quillon_app.ico.px
  pictures/quillon_start.ico.px
  pictures/quillon_port.ico.px
  pictures/quillon_program.ico.px
  pictures/quillon_exit.ico.px
  pictures/quillon_apply.ico.px
  pictures/quillon_settings_exit.ico.px
  pictures/quillon_stop.ico.px)
