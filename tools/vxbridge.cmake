# vxbridge: a serial port (a network port above all) as a local pseudo-terminal.
add_executable(vxbridge ${CMAKE_CURRENT_LIST_DIR}/vxbridge.cpp
                        ${CMAKE_CURRENT_LIST_DIR}/bridge/ptybridge.cpp
                        ${CMAKE_CURRENT_LIST_DIR}/bridge/ptyline.cpp)
target_include_directories(vxbridge PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vxbridge PRIVATE vxcomm vxtools_lineoptions)
target_compile_definitions(vxbridge PRIVATE VXCOMM_VERSION="${PROJECT_VERSION}")
if(VXCOMM_INSTALL)
  install(TARGETS vxbridge COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vxbridge.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT programs)
endif()
