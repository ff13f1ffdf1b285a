# Writes the pkg-config file and the CMake package of an installed tree. Both
# name the library and the header by absolute path, so they are written when
# the prefix is known: by the install rules, and again by CPackPreBuild.cmake
# when a package moves its library directory.
set(_vxl_development_templates ${CMAKE_CURRENT_LIST_DIR})

# destdir: staging root ("" for a direct install); prefix: the prefix as the
# installed system sees it; libdir, includedir: relative to prefix or absolute.
function(vxl_write_development_files destdir prefix libdir includedir version)
  foreach(dir libdir includedir)
    if(IS_ABSOLUTE "${${dir}}")
      set(VXL_FULL_${dir} "${${dir}}")
      set(VXL_PC_${dir} "${${dir}}")
    else()
      set(VXL_FULL_${dir} "${prefix}/${${dir}}")
      set(VXL_PC_${dir} "\${prefix}/${${dir}}")
    endif()
  endforeach()
  set(VXL_PREFIX "${prefix}")
  set(VXL_VERSION "${version}")
  string(REGEX MATCH "^[0-9]+" VXL_SOVERSION "${version}")
  set(written)
  foreach(pair "vxlfixup.pc.in;pkgconfig/vxlfixup.pc"
               "vxlfixupConfig.cmake.in;cmake/vxlfixup/vxlfixupConfig.cmake")
    list(GET pair 0 template)
    list(GET pair 1 target)
    set(file "${destdir}${VXL_FULL_libdir}/${target}")
    message(STATUS "Installing: ${file}")
    configure_file("${_vxl_development_templates}/${template}" "${file}" @ONLY)
    list(APPEND written "${file}")
  endforeach()
  # Listed in install_manifest.txt with the other installed files.
  set(CMAKE_INSTALL_MANIFEST_FILES ${CMAKE_INSTALL_MANIFEST_FILES} ${written} PARENT_SCOPE)
endfunction()
