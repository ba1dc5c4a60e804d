# The CMake package (install tree and build tree) and the pkg-config files. The Debian
# packages are built from debian/ (dpkg-buildpackage).
include(CMakePackageConfigHelpers)

set(VXCOMM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vxcomm)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vxcommConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vxcommConfig.cmake INSTALL_DESTINATION ${VXCOMM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vxcommConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)

# A build tree is a package too: find_package(vxcomm) with vxcomm_DIR set to it.
set(vxcomm_export_targets vxcomm)
if(TARGET vxcommwidgets)
  list(APPEND vxcomm_export_targets vxcommwidgets)
endif()
export(TARGETS ${vxcomm_export_targets} NAMESPACE vxcomm::
  FILE ${PROJECT_BINARY_DIR}/vxcommTargets.cmake)

if(NOT VXCOMM_INSTALL)
  return()
endif()

install(EXPORT vxcommTargets NAMESPACE vxcomm:: DESTINATION ${VXCOMM_CMAKE_DIR}
  COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/vxcommConfig.cmake
  ${PROJECT_BINARY_DIR}/vxcommConfigVersion.cmake DESTINATION ${VXCOMM_CMAKE_DIR}
  COMPONENT development)

# pkg-config files naming the prefix they are installed under (the one given to
# cmake --install --prefix, else CMAKE_INSTALL_PREFIX; a DESTDIR staging root is not part of
# it): the prefix is filled in when installing, the rest now.
set(vxcomm_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(VXCOMM_PC_PREFIX "@VXCOMM_PC_PREFIX@")
set(VXCOMM_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(VXCOMM_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
set(VXCOMM_PC_DL "")
if(CMAKE_DL_LIBS)
  set(VXCOMM_PC_DL "-l${CMAKE_DL_LIBS}")
endif()
set(VXCOMM_PC_STATIC "")
set(VXCOMMWIDGETS_PC_STATIC "")
if(NOT BUILD_SHARED_LIBS)
  set(VXCOMM_PC_STATIC "-DVXCOMM_STATIC_DEFINE")
  set(VXCOMMWIDGETS_PC_STATIC "-DVXCOMMWIDGETS_STATIC_DEFINE")
endif()
set(vxcomm_pc_files vxcomm)
if(TARGET vxcommwidgets)
  list(APPEND vxcomm_pc_files vxcommwidgets)
endif()
foreach(pc IN LISTS vxcomm_pc_files)
  set(pc_template ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc.in)
  set(pc_file ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${pc_template} @ONLY)
  install(CODE "set(VXCOMM_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${pc_template}\" \"${pc_file}\" @ONLY)" COMPONENT development)
  install(FILES ${pc_file} DESTINATION ${vxcomm_pc_dir} COMPONENT development)
endforeach()
