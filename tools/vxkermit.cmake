# vxkermit: Kermit file transfer from the command line, without a display.
add_executable(vxkermit ${CMAKE_CURRENT_LIST_DIR}/vxkermit.cpp)
target_link_libraries(vxkermit PRIVATE vxcomm_internal)
if(VXCOMM_INSTALL)
  install(TARGETS vxkermit COMPONENT programs)
endif()
