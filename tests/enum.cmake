add_vx_test(enum_test)
