# The demo window as a library of its own, so that the tests drive the very same TForm1
# (also in builds without the demo program).
include_guard(GLOBAL)
add_library(vurizoziza_form STATIC ${CMAKE_CURRENT_LIST_DIR}/Unit1.cpp ${CMAKE_CURRENT_LIST_DIR}/Unit1.h
  ${CMAKE_CURRENT_LIST_DIR}/Unit1.ui ${CMAKE_CURRENT_LIST_DIR}/progressbar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progressbar.h)
target_include_directories(vurizoziza_form PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# A device that went away is told in the words of the command-line programs.
target_sources(vurizoziza_form PRIVATE ${PROJECT_SOURCE_DIR}/tools/devicelost.cpp)
target_include_directories(vurizoziza_form PRIVATE ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(vurizoziza_form PUBLIC vxcommwidgets_headers)
