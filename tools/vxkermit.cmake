# vxkermit: Kermit file transfer from the command line, without a display.
add_executable(vxkermit ${CMAKE_CURRENT_LIST_DIR}/vxkermit.cpp)
target_link_libraries(vxkermit PRIVATE vxcomm)
install(TARGETS vxkermit)
