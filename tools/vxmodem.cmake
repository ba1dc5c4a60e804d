# vxmodem: XMODEM and YMODEM file transfer from the command line, without a display.
vxtools_program(vxmodem ${CMAKE_CURRENT_LIST_DIR}/vxmodem.cpp
                        ${CMAKE_CURRENT_LIST_DIR}/modemoptions.cpp)
target_link_libraries(vxmodem PRIVATE vxtools_transferrun)
