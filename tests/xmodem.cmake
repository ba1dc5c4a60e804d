add_vx_test(xmodem_nullmodem_test TIMEOUT 600)
add_vx_test(xmodem_peer_test LABELS peers TIMEOUT 600)
add_vx_test(xmodem_hostile_test TIMEOUT 900)
add_vx_test(xmodem_fuzz_test TIMEOUT 300)
