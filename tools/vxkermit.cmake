# vxkermit: Kermit file transfer from the command line, without a display.
add_library(vxkermit_progress STATIC ${CMAKE_CURRENT_LIST_DIR}/progressline.cpp
                                     ${CMAKE_CURRENT_LIST_DIR}/farendtext.cpp)
target_include_directories(vxkermit_progress PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vxkermit_progress PUBLIC Qt6::Core)
# The line and Kermit options the programs take (vxkermit, vxterm, vxmodem), how they read a
# peer that still sends after an abort, how they catch the signals that end them, which names
# a send can take, how they judge a transfer that ended, and how they tell of a device that
# went away.
add_library(vxtools_lineoptions STATIC ${CMAKE_CURRENT_LIST_DIR}/lineoptions.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/peerquiet.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/signalcatch.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/sendnames.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/transferverdict.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/devicelost.cpp)
target_include_directories(vxtools_lineoptions PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vxtools_lineoptions PUBLIC vxcomm_headers)
# What the transfer programs (vxkermit, vxmodem) share around one session: their command
# line as bytes, their log, and the session from opening the line to the exit status.
add_library(vxtools_transferrun STATIC ${CMAKE_CURRENT_LIST_DIR}/commandline.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/programlog.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/transferrun.cpp)
target_link_libraries(vxtools_transferrun PUBLIC vxcomm_headers vxkermit_progress
                                                 vxtools_lineoptions)
vxtools_program(vxkermit ${CMAKE_CURRENT_LIST_DIR}/vxkermit.cpp)
target_link_libraries(vxkermit PRIVATE vxtools_transferrun)
