# Debian packages: cpack -G DEB in a tree configured with -DCMAKE_INSTALL_PREFIX=/usr (so that
# the libraries go to the multiarch directory) and -DBUILD_SHARED_LIBS=ON.
#   libvxcomm1      the shared libraries (component runtime)
#   libvxcomm-dev   headers, CMake and pkg-config packages, the link names (development)
#   vxcomm-tools    vxkermit and vxterm, their manual pages, and the demo window (programs)
# The libraries' and the programs' dependencies are computed by dpkg-shlibdeps.
foreach(program vxkermit vxterm)
  set(VXCOMM_MAN_PAGE ${PROJECT_BINARY_DIR}/${program}.1.gz)
  file(ARCHIVE_CREATE OUTPUT ${VXCOMM_MAN_PAGE} PATHS ${PROJECT_SOURCE_DIR}/docs/${program}.1
    FORMAT raw COMPRESSION GZip)
  if(TARGET ${program})
    install(FILES ${VXCOMM_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endif()
endforeach()

set(CPACK_PACKAGE_NAME vxcomm)
set(CPACK_PACKAGE_VENDOR "vxComm Lib developers")
set(CPACK_PACKAGE_CONTACT "vxComm Lib developers <vxcomm@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES OFF)

set(CPACK_COMPONENTS_ALL development)
if(BUILD_SHARED_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL runtime)
endif()
if(TARGET vxkermit)
  list(APPEND CPACK_COMPONENTS_ALL programs)
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# libvxcommwidgets.so.1 needs libvxcomm.so.1 from the same package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvxcomm${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "${PROJECT_DESCRIPTION}: shared libraries\n The serial components, the Kermit file-transfer component and the log file\n (libvxcomm), and their QtWidgets bindings (libvxcommwidgets).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvxcomm-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# What the installed headers and the CMake package need at build time: no ELF file to
# compute it from, so it is the one list written here.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev (>= 6.2)")
if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "${PROJECT_DESCRIPTION}: development files\n Headers, the CMake package (find_package(vxcomm)) and the pkg-config files.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME vxcomm-tools)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION comm)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
  "${PROJECT_DESCRIPTION}: programs\n vxkermit sends and receives files with Kermit over a serial line; vxterm\n is a serial terminal for the console with Kermit built in; vurizoziza is the\n Kermit demo window.")

include(CPack)
