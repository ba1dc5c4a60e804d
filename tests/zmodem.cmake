add_vx_test(zmodem_frame_test)
add_vx_test(zmodem_fuzz_test TIMEOUT 300)
add_vx_test(zmodem_peer_test LABELS peers nosanitize TIMEOUT 600)
