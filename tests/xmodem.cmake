add_vx_test(xmodem_nullmodem_test TIMEOUT 600)
# Not under the sanitizers: slowed down there, our sender met more than its session's few
# errors against rx's timing (rx gave up at 62 kB of 100 kB once). The null-modem, hostile-line
# and fuzz tests run the same code under them.
add_vx_test(xmodem_peer_test LABELS peers nosanitize TIMEOUT 600)
add_vx_test(xmodem_hostile_test TIMEOUT 900)
add_vx_test(xmodem_fuzz_test TIMEOUT 300)
add_vx_test(blocktransfer_limits_test TIMEOUT 300)
