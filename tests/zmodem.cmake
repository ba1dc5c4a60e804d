add_vx_test(zmodem_frame_test)
add_vx_test(zmodem_fuzz_test TIMEOUT 300)
