# vxterm: a serial terminal for the console with Kermit built in.
add_library(vxterm_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/linemap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/pacing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/zheaderdetector.cpp)
target_include_directories(vxterm_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/vxterm)
target_link_libraries(vxterm_core PUBLIC vxcomm_headers)
vxtools_program(vxterm ${CMAKE_CURRENT_LIST_DIR}/vxterm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/reconnect.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/commandrun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/linecommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/sessionlog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vxterm/transfer.cpp)
target_include_directories(vxterm PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vxterm PRIVATE vxkermit_progress vxtools_lineoptions vxterm_core)
