# vxterm's display throughput and CPU against picocom: `ninja vxterm_bench`.
if(TARGET vxterm)
  add_custom_target(vxterm_bench
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/vxterm_bench.sh $<TARGET_FILE:vxterm>
    DEPENDS vxterm USES_TERMINAL)
endif()
