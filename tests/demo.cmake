include(${PROJECT_SOURCE_DIR}/demo/form.cmake)
add_vx_test(demo_test LABELS gui TIMEOUT 120)
target_link_libraries(demo_test PRIVATE vurizoziza_form vxcommwidgets_internal)
target_compile_definitions(demo_test PRIVATE VXCOMM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Two minutes of random use by default (VXCOMM_MONKEY_SECONDS), plus the transfers' ends.
add_vx_test(demo_monkey_test LABELS gui monkey TIMEOUT 900)
target_link_libraries(demo_monkey_test PRIVATE vurizoziza_form vxcommwidgets_internal)
# Alone on the machine: other tests' peers free and reuse pseudo-terminal numbers, and a
# peer of theirs still running holds its lock file on a number the monkey's pair may get.
set_tests_properties(demo_monkey_test PROPERTIES RUN_SERIAL TRUE)
