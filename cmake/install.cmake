# Installing: the programs, the GPU library and the code-page table together
# in lib/vexel (the program loads the library and keeps the table beside
# itself), links to the programs in bin, and the desktop's files: the man
# page, the desktop entry, the MIME type of .vx files, the thumbnailer entry
# and the icons; libvexel in lib (component libvexel1), its header and
# pkg-config file (component libvexel-dev). "cmake --install build --prefix
# P"; "cpack -G DEB" in the build folder makes vexel_<version>_amd64.deb,
# libvexel1_... and libvexel-dev_... (and vexel-gpu_... when the GPU library
# is built).
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
install(FILES packaging/vexel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vexel)
install(FILES packaging/vexel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT vexel)
install(FILES packaging/vexel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT vexel)
if(TARGET pixSpray_module)
  install(TARGETS pixSpray_module LIBRARY DESTINATION ${VEXEL_PROGRAM_DIR} COMPONENT gpu)
endif()

set(CPACK_PACKAGE_NAME vexel)
set(CPACK_PACKAGE_VENDOR "Vexel")
set(CPACK_PACKAGE_CONTACT "Vexel developers <vexel@localhost>")
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
set(CPACK_COMPONENT_VEXEL_DESCRIPTION
    "Turns 24-bit BMP pictures into compressed .vx files and back, groups frames into videos, shows pictures and plays videos in its own window; with vexel-probe and vexel-thumbnailer.")
set(CPACK_DEBIAN_GPU_PACKAGE_NAME vexel-gpu)
set(CPACK_DEBIAN_GPU_PACKAGE_DEPENDS "vexel (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GPU_PACKAGE_SHLIBDEPS OFF) # libcuda comes with the NVIDIA driver
set(CPACK_COMPONENT_GPU_DESCRIPTION "Draws the gradient blocks of Vexel's viewer on an NVIDIA card.")
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_NAME libvexel1)
set(CPACK_DEBIAN_LIBVEXEL1_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBVEXEL1_DESCRIPTION "Reads and writes .vx pictures and videos: the shared library of Vexel's C interface.")
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_NAME libvexel-dev)
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_DEPENDS "libvexel1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBVEXEL-DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_LIBVEXEL-DEV_DESCRIPTION "Reads and writes .vx pictures and videos: the header and pkg-config file of libvexel's C interface.")
set(CPACK_COMPONENTS_ALL vexel libvexel1 libvexel-dev)
if(TARGET pixSpray_module)
  list(APPEND CPACK_COMPONENTS_ALL gpu)
endif()
include(CPack)
