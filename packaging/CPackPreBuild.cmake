# Runs inside cpack after the staging install, before the packages are made.
# Each component was staged in a folder of its own under
# CPACK_TEMPORARY_INSTALL_DIRECTORY; this puts each package's files where its
# kind of system expects them.
set(prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
set(staged library development tool)
macro(vxl_root var component)
  set(${var} "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${component}${prefix}")
endmacro()

# A package's library lies where the loader looks without help, so the tool
# needs no RUNPATH there.
vxl_root(tool_root tool)
if(EXISTS "${tool_root}/${CPACK_VXL_BINDIR}/vxlfixup")
  file(RPATH_REMOVE FILE "${tool_root}/${CPACK_VXL_BINDIR}/vxlfixup")
endif()

# RPM-based x86-64 systems load their libraries from /usr/lib64, Debian from
# its multiarch folder; the build host's layout may say otherwise. The library
# folder moves there and the pkg-config and CMake files are written for the
# new place.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(libdir lib64)
else()
  set(libdir "${CPACK_VXL_DEB_LIBDIR}")
endif()
if(NOT IS_ABSOLUTE "${CPACK_VXL_LIBDIR}" AND NOT CPACK_VXL_LIBDIR STREQUAL libdir)
  foreach(component IN LISTS staged)
    vxl_root(root ${component})
    if(NOT EXISTS "${root}/${CPACK_VXL_LIBDIR}")
      continue()
    endif()
    # Through a side name: the new place may lie inside the old one.
    file(RENAME "${root}/${CPACK_VXL_LIBDIR}" "${root}/.vxl-libdir")
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
    get_filename_component(parent "${root}/${libdir}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(RENAME "${root}/.vxl-libdir" "${root}/${libdir}")
  endforeach()
  include(${CPACK_VXL_TEMPLATES}/DevelopmentFiles.cmake)
  vxl_write_development_files("${CPACK_TEMPORARY_INSTALL_DIRECTORY}/development"
    "${prefix}" "${libdir}" "${CPACK_VXL_INCLUDEDIR}" "${CPACK_PACKAGE_VERSION}")
endif()

vxl_root(library_root library)
vxl_root(development_root development)
if(CPACK_GENERATOR STREQUAL "RPM")
  # RPM systems strip and map shared libraries by their execute bit.
  file(GLOB libraries "${library_root}/${libdir}/libvxlfixup.so.*.*")
  foreach(library IN LISTS libraries)
    if(NOT IS_SYMLINK "${library}")
      file(CHMOD "${library}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
  file(RENAME "${development_root}/${CPACK_VXL_DOCDIR}/${CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME}"
    "${development_root}/${CPACK_VXL_DOCDIR}/${CPACK_RPM_DEVELOPMENT_PACKAGE_NAME}")
else()
  # Every Debian package carries its source's changelog, compressed.
  find_program(gzip gzip REQUIRED)
  foreach(component IN LISTS staged)
    vxl_root(root ${component})
    string(TOUPPER "${component}" upper)
    set(changelog
      "${root}/${CPACK_VXL_DOCDIR}/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}/changelog.Debian")
    configure_file("${CPACK_VXL_TEMPLATES}/changelog.Debian.in" "${changelog}" @ONLY)
    execute_process(COMMAND "${gzip}" -9nf "${changelog}" COMMAND_ERROR_IS_FATAL ANY)
    # The packages are not uploaded to Debian, so their first release closes
    # no request-for-package bug there.
    file(WRITE "${root}/share/lintian/overrides/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}"
      "# Not uploaded to Debian: no request-for-package bug to close.\n"
      "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}: initial-upload-closes-no-bugs\n")
  endforeach()
  # dpkg-shlibdeps on the tool reads its library from the library's staging
  # folder and the package that has it from shlibs.local, which says what
  # the library's shlibs file says.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${library_root}/${libdir}")
  string(REGEX MATCH "^[0-9]+" soversion "${CPACK_PACKAGE_VERSION}")
  file(WRITE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/tool/debian/shlibs.local"
    "libvxlfixup ${soversion} ${CPACK_DEBIAN_LIBRARY_PACKAGE_NAME} "
    "(${CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY} "
    "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})\n")
endif()
