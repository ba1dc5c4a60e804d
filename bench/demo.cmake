# The demo window's transfer speed beside vxkermit's: `ninja demo_bench && bench/demo_bench`.
if(TARGET vurizoziza_form AND TARGET vxkermit AND TARGET vxtestsupport)
  add_executable(demo_bench demo_bench.cpp)
  target_link_libraries(demo_bench PRIVATE vurizoziza_form vxcommwidgets_internal vxtestsupport)
  target_compile_definitions(demo_bench PRIVATE VXCOMM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VXKERMIT_BIN="$<TARGET_FILE:vxkermit>")
  add_dependencies(demo_bench vxkermit)
endif()
