# Runs inside cpack after the staging install, before each package is made.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

# A package's library lies where the loader looks without help, so the tool
# needs no RUNPATH there.
if(EXISTS "${root}/${CPACK_VXL_BINDIR}/vxlfixup")
  file(RPATH_REMOVE FILE "${root}/${CPACK_VXL_BINDIR}/vxlfixup")
endif()

# RPM-based x86-64 systems load their libraries from /usr/lib64; the build
# host's layout may say lib or lib/<multiarch>. The library directory moves
# there and its pkg-config and CMake files are written for the new place.
if(CPACK_GENERATOR STREQUAL "RPM" AND NOT IS_ABSOLUTE "${CPACK_VXL_LIBDIR}"
   AND NOT CPACK_VXL_LIBDIR STREQUAL "lib64")
  file(RENAME "${root}/${CPACK_VXL_LIBDIR}" "${root}/lib64")
  # An emptied parent (lib of lib/<multiarch>) is not packaged.
  get_filename_component(parent "${root}/${CPACK_VXL_LIBDIR}" DIRECTORY)
  while(NOT parent STREQUAL root)
    file(GLOB left "${parent}/*")
    if(left)
      break()
    endif()
    file(REMOVE_RECURSE "${parent}")
    get_filename_component(parent "${parent}" DIRECTORY)
  endwhile()
  include(${CMAKE_CURRENT_LIST_DIR}/DevelopmentFiles.cmake)
  vxl_write_development_files("${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    "${CPACK_PACKAGING_INSTALL_PREFIX}" lib64 "${CPACK_VXL_INCLUDEDIR}" "${CPACK_PACKAGE_VERSION}")
endif()
