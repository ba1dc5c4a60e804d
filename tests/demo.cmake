include(${PROJECT_SOURCE_DIR}/demo/form.cmake)
add_vx_test(demo_test LABELS gui TIMEOUT 120)
target_link_libraries(demo_test PRIVATE vurizoziza_form)
target_compile_definitions(demo_test PRIVATE VXCOMM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
