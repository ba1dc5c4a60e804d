add_vx_test(xmodem_nullmodem_test TIMEOUT 600)
