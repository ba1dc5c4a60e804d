add_vx_test(logfile_test)
add_vx_test(logfile_platform_test)
add_vx_test(logfile_pane_test LABELS threads)
add_vx_test(logfile_threads_test LABELS threads)
add_vx_test(logfile_place_test)
# The header names the library's version; the tests compare against the same value.
foreach(t logfile_test logfile_platform_test logfile_pane_test logfile_threads_test
    logfile_place_test)
  target_compile_definitions(${t} PRIVATE VXCOMM_VERSION="${PROJECT_VERSION}")
endforeach()
