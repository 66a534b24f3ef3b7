# Run by cpack after it wrote the .deb files. A package that lets dpkg run
# ldconfig through its trigger (a "triggers" file of "activate-noawait
# ldconfig") needs no maintainer script that calls it; cpack writes such a
# postinst and postrm for every shared library in /usr/lib all the same.
# Those two scripts are taken out here and the package is put together
# again, owned by root, with the same contents otherwise.
cmake_policy(SET CMP0007 NEW)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  get_filename_component(name "${deb}" NAME_WE)
  set(root "${CPACK_TOPLEVEL_DIRECTORY}/post-build/${name}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}/post-build")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  set(triggers "")
  if(EXISTS "${root}/DEBIAN/triggers")
    file(READ "${root}/DEBIAN/triggers" triggers)
  endif()
  if(triggers MATCHES "activate-noawait ldconfig")
    set(changed FALSE)
    foreach(script postinst postrm)
      set(path "${root}/DEBIAN/${script}")
      if(EXISTS "${path}")
        file(STRINGS "${path}" lines)
        # Only the script cpack wrote: "set -e" and ldconfig on configure or
        # remove.
        list(FILTER lines EXCLUDE REGEX "^(#!/bin/sh|set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|\tldconfig|fi|)$")
        if(lines STREQUAL "")
          file(REMOVE "${path}")
          set(changed TRUE)
        endif()
      endif()
    endforeach()
    if(changed)
      execute_process(COMMAND dpkg-deb --root-owner-group --build "${root}" "${deb}"
                      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endif()
  file(REMOVE_RECURSE "${root}")
endforeach()
