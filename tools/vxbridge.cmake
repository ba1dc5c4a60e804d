# vxbridge: a serial port (a network port above all) as a local pseudo-terminal.
vxtools_program(vxbridge ${CMAKE_CURRENT_LIST_DIR}/vxbridge.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/bridge/ptybridge.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/bridge/ptyline.cpp)
target_include_directories(vxbridge PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vxbridge PRIVATE vxtools_transferrun vxtools_lineoptions)
