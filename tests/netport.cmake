add_vx_test(netport_test LABELS peers TIMEOUT 300)
