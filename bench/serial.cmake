add_executable(serial_bench serial_bench.cpp)
target_link_libraries(serial_bench PRIVATE vxcomm util)
