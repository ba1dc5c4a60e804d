add_vx_test(devicebox_test)
