# Installing: the programs, the GPU library and the code-page table together
# in lib/vexel (the program loads the library and keeps the table beside
# itself), links to the programs in bin, and the desktop's files: the man
# page, the desktop entry, the MIME type of .vx files, the thumbnailer entry
# and the icons. "cmake --install build --prefix P"; "cpack -G DEB" in the
# build folder makes vexel_<version>_amd64.deb (and vexel-gpu_... when the
# GPU library is built).
include(GNUInstallDirs)
set(VEXEL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/vexel)
set(VEXEL_PROGRAMS vexel vexel-probe)
if(TARGET vexel-thumbnailer)
  list(APPEND VEXEL_PROGRAMS vexel-thumbnailer)
endif()
install(TARGETS ${VEXEL_PROGRAMS} RUNTIME DESTINATION ${VEXEL_PROGRAM_DIR} COMPONENT vexel)
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
set(CPACK_DEBIAN_VEXEL_PACKAGE_NAME vexel)
# SDL2 and SDL2_ttf are loaded when the first window opens (not linked), so
# the library scan cannot find them.
set(CPACK_DEBIAN_VEXEL_PACKAGE_DEPENDS "fonts-dejavu-core, libsdl2-2.0-0, libsdl2-ttf-2.0-0")
set(CPACK_COMPONENT_VEXEL_DESCRIPTION
    "Turns 24-bit BMP pictures into compressed .vx files and back, groups frames into videos, shows pictures and plays videos in its own window; with vexel-probe and vexel-thumbnailer.")
set(CPACK_DEBIAN_GPU_PACKAGE_NAME vexel-gpu)
set(CPACK_DEBIAN_GPU_PACKAGE_DEPENDS "vexel (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GPU_PACKAGE_SHLIBDEPS OFF) # libcuda comes with the NVIDIA driver
set(CPACK_COMPONENT_GPU_DESCRIPTION "Draws the gradient blocks of Vexel's viewer on an NVIDIA card.")
set(CPACK_COMPONENTS_ALL vexel)
if(TARGET pixSpray_module)
  list(APPEND CPACK_COMPONENTS_ALL gpu)
endif()
include(CPack)
