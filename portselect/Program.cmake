# The port dialog on Windows (both variants) with the registry lists behind its port list;
# each program links it and brings the dialog's template and icons in its own resources.
add_library(krt_selectcom_win32 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SelectCOM_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistryPortSource_win32.cpp)
target_link_libraries(krt_selectcom_win32 PUBLIC krt_portselect krt_fw_win32 krt_ui_win32 advapi32)
krt_target_defaults(krt_selectcom_win32)
