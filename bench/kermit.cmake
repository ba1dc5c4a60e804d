# Kermit benchmarks: run with `ninja kermit_bench` (peers over a pty pair and over a faulty
# line, the program's memory) and `ninja kermit_nullmodem_bench && bench/kermit_nullmodem_bench`
# (paced line).
if(TARGET vxtestsupport)
  add_executable(kermit_nullmodem_bench kermit_nullmodem_bench.cpp)
  target_link_libraries(kermit_nullmodem_bench PRIVATE vxtestsupport)
  # The faulty line the benchmark script puts between two programs.
  add_executable(faultyline faultyline.cpp)
  target_link_libraries(faultyline PRIVATE vxtestsupport)
endif()
if(TARGET vxkermit AND TARGET faultyline)
  add_custom_target(kermit_bench
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kermit_bench.sh $<TARGET_FILE:vxkermit>
            $<TARGET_FILE:faultyline>
    DEPENDS vxkermit faultyline USES_TERMINAL)
elseif(TARGET vxkermit)
  add_custom_target(kermit_bench
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kermit_bench.sh $<TARGET_FILE:vxkermit>
    DEPENDS vxkermit USES_TERMINAL)
endif()
