# Installing: the programs, the GPU library and the code-page table together
# in lib/vexel (the program loads the library and keeps the table beside
# itself), links to the programs in bin, and the desktop's files: the man
# page, the message catalogue, the desktop entry, the MIME type of .vx files, the thumbnailer entry
# and the icons; libvexel in lib (component libvexel1), its header and
# pkg-config file (component libvexel-dev). "cmake --install build --prefix
# P"; "cpack -G DEB" in the build folder makes vexel_<version>_amd64.deb,
# libvexel1_... and libvexel-dev_... (and vexel-gpu_... when the GPU library
# is built). A tree configured with -DCMAKE_INSTALL_PREFIX=/usr installs into
# Debian's lib/<multiarch> folders, as the packages must (tools/test.sh);
# each package carries its copyright and changelog.
include(GNUInstallDirs)
set(VEXEL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/vexel)
set(VEXEL_PROGRAMS vexel vexel-probe)
if(TARGET vexel-thumbnailer)
  list(APPEND VEXEL_PROGRAMS vexel-thumbnailer)
endif()
install(TARGETS ${VEXEL_PROGRAMS} RUNTIME DESTINATION ${VEXEL_PROGRAM_DIR} COMPONENT vexel)
# The probe and the thumbnailer find libvexel one folder up, wherever the
# prefix is.
set_target_properties(vexel-probe PROPERTIES INSTALL_RPATH "\$ORIGIN/..")
if(TARGET vexel-thumbnailer)
  set_target_properties(vexel-thumbnailer PROPERTIES INSTALL_RPATH "\$ORIGIN/..")
endif()
install(TARGETS libvexel
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libvexel1 NAMELINK_COMPONENT libvexel-dev)
install(FILES include/vexel/vexel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexel COMPONENT libvexel-dev)
# The pkg-config file finds the prefix from its own place, so that the same
# file serves any prefix (a package is built for /usr, a test installs elsewhere).
file(RELATIVE_PATH VEXEL_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(lib/vexel.pc.in ${CMAKE_BINARY_DIR}/vexel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vexel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libvexel-dev)
# The gdk-pixbuf loader (component pixbuf), in gdk-pixbuf's loader folder:
# pkg-config's, taken below the prefix, so that /usr gets the very folder
# whose loader cache Debian's trigger of libgdk-pixbuf-2.0-0 updates, and
# another prefix the same path under it (where GDK_PIXBUF_MODULEDIR or a
# cache made with gdk-pixbuf-query-loaders finds it).
if(TARGET pixbufloader-vexel)
  pkg_get_variable(GDK_PIXBUF_MODULEDIR gdk-pixbuf-2.0 gdk_pixbuf_moduledir)
  pkg_get_variable(GDK_PIXBUF_PREFIX gdk-pixbuf-2.0 prefix)
  file(RELATIVE_PATH VEXEL_PIXBUF_MODULEDIR "${GDK_PIXBUF_PREFIX}" "${GDK_PIXBUF_MODULEDIR}")
  install(TARGETS pixbufloader-vexel LIBRARY DESTINATION ${VEXEL_PIXBUF_MODULEDIR} COMPONENT pixbuf)
  # Outside /usr, libvexel is not where the system's loader looks: the
  # module finds it from its own place.
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    file(RELATIVE_PATH up "/${VEXEL_PIXBUF_MODULEDIR}" "/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(pixbufloader-vexel PROPERTIES INSTALL_RPATH "\$ORIGIN/${up}")
  endif()
endif()
if(TARGET vexel_desktop_files)
  install(FILES ${CMAKE_BINARY_DIR}/Ansi1251.wcs DESTINATION ${VEXEL_PROGRAM_DIR} COMPONENT vexel)
  foreach(size 48 64 128 256)
    install(FILES ${CMAKE_BINARY_DIR}/icons/vexel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME vexel.png COMPONENT vexel)
  endforeach()
  install(FILES packaging/vexel.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers COMPONENT vexel)
endif()
foreach(program ${VEXEL_PROGRAMS})
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bin}\")
    file(CREATE_LINK \"../${VEXEL_PROGRAM_DIR}/${program}\" \"\${bin}/${program}\" SYMBOLIC)
    message(STATUS \"Installing: \${bin}/${program} -> ../${VEXEL_PROGRAM_DIR}/${program}\")"
    COMPONENT vexel)
endforeach()
# The man pages, and each package's copyright and changelog, go out
# compressed as Debian wants them (gzip -9n: no name, no time, the same
# bytes on every build). The project packages itself: its packages are
# native (no Debian revision), so the changelog is changelog.gz.
set(VEXEL_MAINTAINER_ADDRESS "maintainers@vexel-project.org")
set(packaging ${CMAKE_BINARY_DIR}/packaging)
configure_file(packaging/changelog.in ${packaging}/changelog @ONLY)
configure_file(packaging/copyright ${packaging}/copyright @ONLY)
set(VEXEL_MAN_PAGES vexel vexel-probe)
if(TARGET vexel-thumbnailer)
  list(APPEND VEXEL_MAN_PAGES vexel-thumbnailer)
endif()
set(compressed ${packaging}/changelog.gz)
add_custom_command(OUTPUT ${packaging}/changelog.gz
                   COMMAND gzip -9nkf ${packaging}/changelog
                   DEPENDS ${packaging}/changelog VERBATIM)
foreach(page ${VEXEL_MAN_PAGES})
  add_custom_command(OUTPUT ${packaging}/${page}.1.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/${page}.1 ${packaging}/${page}.1
                     COMMAND gzip -9nf ${packaging}/${page}.1
                     DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${page}.1 VERBATIM)
  list(APPEND compressed ${packaging}/${page}.1.gz)
  install(FILES ${packaging}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vexel)
endforeach()
add_custom_target(vexel_packaging_files ALL DEPENDS ${compressed})
set(VEXEL_PACKAGE_COMPONENTS vexel:vexel libvexel1:libvexel1 libvexel-dev:libvexel-dev)
if(TARGET pixSpray_module)
  list(APPEND VEXEL_PACKAGE_COMPONENTS gpu:vexel-gpu)
endif()
if(TARGET pixbufloader-vexel)
  list(APPEND VEXEL_PACKAGE_COMPONENTS pixbuf:vexel-pixbuf-loader)
endif()
foreach(pair ${VEXEL_PACKAGE_COMPONENTS})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${packaging}/copyright ${packaging}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
# The English message catalogue, where the program looks for it.
install(FILES ${VEXEL_MO} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/en/LC_MESSAGES COMPONENT vexel)
install(FILES packaging/vexel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT vexel)
install(FILES packaging/vexel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT vexel)
if(TARGET pixSpray_module)
  install(TARGETS pixSpray_module LIBRARY DESTINATION ${VEXEL_PROGRAM_DIR} COMPONENT gpu)
endif()

set(CPACK_PACKAGE_NAME vexel)
set(CPACK_PACKAGE_VENDOR "Vexel")
set(CPACK_PACKAGE_CONTACT "Vexel developers <${VEXEL_MAINTAINER_ADDRESS}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compressor and viewer for pictures and short videos in the .vx format")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The library scan finds libvexel.so.1 in the build tree; the programs'
# dependency on its package is written out below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_VEXEL_PACKAGE_NAME vexel)
# SDL2 and SDL2_ttf are loaded when the first window opens (not linked), so
# the library scan cannot find them.
set(CPACK_DEBIAN_VEXEL_PACKAGE_DEPENDS "libvexel1 (= ${PROJECT_VERSION}), fonts-dejavu-core, libsdl2-2.0-0, libsdl2-ttf-2.0-0")
# Descriptions: one line per line of the package's description (at most 80
# columns each).
set(CPACK_COMPONENT_VEXEL_DESCRIPTION
    "Turns 24-bit BMP pictures into compressed .vx files and back, groups frames
into videos, shows pictures and plays videos in its own window; with
vexel-probe, which lists and checks the records of .vx files, and
vexel-thumbnailer, which makes thumbnails of them for file managers.")
set(CPACK_DEBIAN_GPU_PACKAGE_NAME vexel-gpu)
set(CPACK_DEBIAN_GPU_PACKAGE_DEPENDS "vexel (= ${PROJECT_VERSION})")
# The library links the CUDA runtime statically, and that loads libcuda (from
# the NVIDIA driver) when it starts: the scan finds only the C and C++ libraries.
set(CPACK_COMPONENT_GPU_DESCRIPTION "Draws the gradient blocks of Vexel's viewer on an NVIDIA card.
The viewer loads this library when it is installed and a card answers.")
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_NAME libvexel1)
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBVEXEL1_DESCRIPTION "Reads and writes .vx pictures and videos:
the shared library of Vexel's C interface.")
# dpkg runs ldconfig through its trigger; the scripts cpack writes to call it
# are taken out after the packages are built.
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/libvexel1/triggers)
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/deb_post_build.cmake)
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_NAME libvexel-dev)
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_DEPENDS "libvexel1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_LIBVEXEL-DEV_DESCRIPTION "Reads and writes .vx pictures and videos:
the header and pkg-config file of libvexel's C interface.")
# The loader: the library scan finds gdk-pixbuf's and GLib's packages (as
# built against); libvexel's is written out, and vexel's, which brings the
# MIME type of .vx files: gdk-pixbuf picks a loader by the type the shared
# MIME database gives a file.
set(CPACK_DEBIAN_PIXBUF_PACKAGE_NAME vexel-pixbuf-loader)
set(CPACK_DEBIAN_PIXBUF_PACKAGE_DEPENDS "libvexel1 (= ${PROJECT_VERSION}), vexel (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_PIXBUF_DESCRIPTION "Opens .vx pictures and videos in programs built on gdk-pixbuf:
image viewers such as Eye of GNOME, file managers' thumbnailers and GTK
programs show .vx pictures, and play .vx videos as animations.")
set(CPACK_COMPONENTS_ALL vexel libvexel1 libvexel-dev)
if(TARGET pixSpray_module)
  list(APPEND CPACK_COMPONENTS_ALL gpu)
endif()
if(TARGET pixbufloader-vexel)
  list(APPEND CPACK_COMPONENTS_ALL pixbuf)
endif()
include(CPack)
