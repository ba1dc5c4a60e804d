add_executable(dataproc_bench dataproc_bench.cpp)
target_include_directories(dataproc_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(dataproc_bench PRIVATE vxcomm)
