# The registry's port lists (Win32), for the port dialog and the command line's port list.
add_library(krt_ports_win32 STATIC ${CMAKE_CURRENT_LIST_DIR}/RegistryPortSource_win32.cpp)
target_link_libraries(krt_ports_win32 PUBLIC krt_portselect advapi32 user32)
krt_target_defaults(krt_ports_win32)

# The port dialog on Windows (both variants); each program links it and brings the dialog's
# template and icons in its own resources.
add_library(krt_selectcom_win32 STATIC ${CMAKE_CURRENT_LIST_DIR}/SelectCOM_win32.cpp)
target_link_libraries(krt_selectcom_win32 PUBLIC krt_portselect krt_ports_win32 krt_fw_win32 krt_ui_win32)
krt_target_defaults(krt_selectcom_win32)
