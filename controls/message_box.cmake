# The message box with remembered answers: its rules (no window code) and the dialog.
add_library(tessel_message_box_rules STATIC message_box_rules.cpp)
target_link_libraries(tessel_message_box_rules PUBLIC tessel_platform)

add_library(tessel_message_box STATIC message_box_dialog.cpp)
target_link_libraries(tessel_message_box PUBLIC tessel_message_box_rules tessel_widgets tessel_log
                      tessel_wx)
