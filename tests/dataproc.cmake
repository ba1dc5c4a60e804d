add_vx_test(dataproc_test)
add_vx_test(dataproc_random_test)
add_vx_test(ftbase_test LABELS threads)
