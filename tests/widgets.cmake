add_vx_test(widgets_test)
