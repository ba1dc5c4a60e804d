add_vx_test(serial_layer_test LABELS threads)
add_vx_test(serial_comm_test LABELS threads)
add_vx_test(serial_line_test)
add_vx_test(serial_threads_test LABELS threads)
