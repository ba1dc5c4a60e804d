add_vx_test(rtl_test)
add_vx_test(baseio_test)
add_vx_test(dataprocessor_test)
