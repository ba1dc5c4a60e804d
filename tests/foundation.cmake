add_vx_test(rtl_test LABELS threads)
add_vx_test(baseio_test LABELS threads)
add_vx_test(dataprocessor_test)
