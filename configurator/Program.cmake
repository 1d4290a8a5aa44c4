# Vantrel.exe: the Win32 shell of the configurator over its portable core.
include(${PROJECT_SOURCE_DIR}/cmake/Pictures.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/Resources.cmake)

# The resources (templates, icons, row marks) once, for the program and the window test.
krt_rc_cp1251(vantrel_rc Vantrel.rc)
add_library(krt_vantrel_resources OBJECT ${vantrel_rc})
target_include_directories(krt_vantrel_resources PRIVATE ${PROJECT_SOURCE_DIR})
krt_add_pictures(krt_vantrel_resources ${vantrel_rc}
  pictures/vantrel_app.ico.px
  pictures/vantrel_read.ico.px
  pictures/vantrel_port.ico.px
  pictures/vantrel_exit.ico.px
  pictures/row_marks.bmp.px)

# The shell's windows as a library, so that the in-process window test links the same code.
file(GLOB vantrel_shell_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_win32.cpp)
list(REMOVE_ITEM vantrel_shell_src ${CMAKE_CURRENT_SOURCE_DIR}/ConfiguratorApp_win32.cpp)
add_library(krt_vantrel_shell STATIC ${vantrel_shell_src})
target_link_libraries(krt_vantrel_shell PUBLIC krt_configurator krt_adapter krt_portselect krt_selectcom_win32
                      krt_serial krt_ui_win32 krt_fw_win32 krt_fw comctl32 gdi32 user32)
krt_target_defaults(krt_vantrel_shell)

add_executable(Vantrel WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/ConfiguratorApp_win32.cpp)
target_link_libraries(Vantrel PRIVATE krt_vantrel_shell krt_vantrel_resources)
krt_target_defaults(Vantrel)
