# vxmodem: XMODEM and YMODEM file transfer from the command line, without a display.
add_executable(vxmodem ${CMAKE_CURRENT_LIST_DIR}/vxmodem.cpp
                       ${CMAKE_CURRENT_LIST_DIR}/modemoptions.cpp)
# The programs link the library as installed (shared in a BUILD_SHARED_LIBS tree).
target_link_libraries(vxmodem PRIVATE vxcomm vxtools_transferrun)
target_compile_definitions(vxmodem PRIVATE VXCOMM_VERSION="${PROJECT_VERSION}")
if(VXCOMM_INSTALL)
  install(TARGETS vxmodem COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vxmodem.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT programs)
endif()
