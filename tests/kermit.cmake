add_vx_test(kermit_packet_test)
add_vx_test(kermit_engine_test)
add_vx_test(kermit_peer_test LABELS peers TIMEOUT 600)
add_vx_test(kermit_peer_control_test LABELS peers TIMEOUT 300)
