# The demo program, built into build/demo/.
include(${CMAKE_CURRENT_LIST_DIR}/form.cmake)
add_executable(vurizoziza ${CMAKE_CURRENT_LIST_DIR}/vurizoziza.cpp)
target_link_libraries(vurizoziza PRIVATE vurizoziza_form vxcommwidgets)
if(VXCOMM_INSTALL)
  install(TARGETS vurizoziza COMPONENT programs)
endif()
