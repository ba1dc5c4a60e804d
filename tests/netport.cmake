add_vx_test(netport_test LABELS peers TIMEOUT 300)
add_vx_test(netport_codec_test LABELS unit)
add_vx_test(netport_scripted_test LABELS peers TIMEOUT 120)
add_vx_test(netport_kermit_test LABELS peers nosanitize TIMEOUT 600)
