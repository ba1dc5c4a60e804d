# The demo program, built into build/demo/.
include(${CMAKE_CURRENT_LIST_DIR}/form.cmake)
add_executable(vurizoziza ${CMAKE_CURRENT_LIST_DIR}/vurizoziza.cpp)
target_link_libraries(vurizoziza PRIVATE vurizoziza_form vxcommwidgets)
target_compile_definitions(vurizoziza PRIVATE VXCOMM_VERSION="${PROJECT_VERSION}")
if(VXCOMM_INSTALL)
  install(TARGETS vurizoziza COMPONENT programs)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vurizoziza.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT programs)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/vurizoziza.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
endif()
