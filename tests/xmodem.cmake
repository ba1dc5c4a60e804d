add_vx_test(xmodem_nullmodem_test TIMEOUT 600)
# A timing test against a real peer, out of the sanitizer stage as the other such tests are
# (it passes there by hand now that tries are counted per block); the null-modem,
# hostile-line, limits and fuzz tests run the same code under the sanitizers.
add_vx_test(xmodem_peer_test LABELS peers nosanitize TIMEOUT 600)
add_vx_test(xmodem_hostile_test TIMEOUT 900)
add_vx_test(xmodem_fuzz_test TIMEOUT 300)
add_vx_test(blocktransfer_limits_test TIMEOUT 300)
