# Quillon.exe: the Win32 shell of the loader over its portable core.
include(${PROJECT_SOURCE_DIR}/cmake/Pictures.cmake)

# The resource script is kept in UTF-8 like every source; windres reads its input in one
# single-byte code page, so the build hands it a Windows-1251 copy (see #pragma code_page there).
set(quillon_rc ${CMAKE_CURRENT_BINARY_DIR}/Quillon_cp1251.rc)
find_program(ICONV_PROGRAM iconv REQUIRED)
add_custom_command(
  OUTPUT ${quillon_rc}
  COMMAND ${ICONV_PROGRAM} -f UTF-8 -t CP1251 ${CMAKE_CURRENT_SOURCE_DIR}/Quillon.rc -o ${quillon_rc}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Quillon.rc
  COMMENT "Quillon.rc in Windows-1251"
  VERBATIM)
set_property(SOURCE ${quillon_rc} APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resource.h)

add_executable(Quillon WIN32
  ${CMAKE_CURRENT_SOURCE_DIR}/LoaderApp_win32.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/LoaderDialog_win32.cpp
  ${quillon_rc})
target_link_libraries(Quillon PRIVATE krt_loader krt_selectcom_win32 krt_portselect krt_serial krt_ui_win32
                      krt_fw_gui krt_fw comdlg32 comctl32 gdi32 user32)
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
