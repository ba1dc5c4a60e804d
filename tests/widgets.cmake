add_vx_test(widgets_test)
add_vx_test(textview_test)
add_vx_test(terminalscreen_test)
add_vx_test(terminalpane_test)
