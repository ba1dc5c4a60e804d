add_vx_test(serial_layer_test LABELS threads)
