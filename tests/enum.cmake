add_vx_test(enum_test)
add_vx_test(enum_watch_test)
target_compile_definitions(enum_watch_test PRIVATE VXCOMM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
