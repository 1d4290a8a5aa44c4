# The Win32 side of the image button, linked by both programs. Owner dialogs forward
# WM_DRAWITEM to ImageButton::HandleDrawItem (see ImageButton.h).
add_library(krt_ui_win32 STATIC ${CMAKE_CURRENT_LIST_DIR}/ImageButton_win32.cpp)
target_link_libraries(krt_ui_win32 PUBLIC krt_ui krt_fw_win32 gdi32 user32)
krt_target_defaults(krt_ui_win32)
