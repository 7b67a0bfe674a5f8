# The Linux installation and its Debian package. `cmake --install` (any
# prefix, DESTDIR honoured) lays out the programs in bin/, a manual page per
# program in share/man/man1/ (gzipped, as Debian wants them), the demo in
# share/tessel/demo/, and the README, the licence, the copyright file and
# the changelog in share/doc/tessel/. `cpack -G DEB` (scripts/package-deb)
# packs the same files as tessel_VERSION_amd64.deb.
include(GNUInstallDirs)

# One version for the programs' --version and the package.
file(STRINGS ${CMAKE_SOURCE_DIR}/tools/version.h _version_line REGEX "TesselVersion = \"[0-9.]+\"")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" TESSEL_VERSION "${_version_line}")

set(TESSEL_PROGRAMS tessel tessel-map tessel-render tessel-demo tessel-x86)
set(TESSEL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tessel)

# Manual-page sources live next to the program they describe.
set(_man_sources ${CMAKE_SOURCE_DIR}/app/tessel.1)
foreach(program tessel-map tessel-render tessel-demo tessel-x86)
  list(APPEND _man_sources ${CMAKE_SOURCE_DIR}/tools/${program}/${program}.1)
endforeach()
# gzip -n: no name or time in the header, so the package is reproducible.
set(_gzipped)
foreach(source ${_man_sources} ${CMAKE_SOURCE_DIR}/cmake/changelog)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_BINARY_DIR}/share/${name}.gz)
  add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share
                     COMMAND gzip -9n -c ${source} > ${out} DEPENDS ${source} VERBATIM)
  list(APPEND _gzipped ${out})
endforeach()
add_custom_target(tessel-manpages ALL DEPENDS ${_gzipped})
list(FILTER _gzipped INCLUDE REGEX "\\.1\\.gz$")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS ${TESSEL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/Maps ${CMAKE_SOURCE_DIR}/demo/Tiles
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessel/demo FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/cmake/copyright
              ${CMAKE_BINARY_DIR}/share/changelog.gz
        DESTINATION ${TESSEL_DOCDIR})

# The package: runtime dependencies from the binaries (dpkg-shlibdeps), plus
# the font the overlay is drawn with, which no binary links.
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VERSION ${TESSEL_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessel developers <tessel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen 2D tile-map runner")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tessel takes the display, draws a map's layers with parallax and animated
tiles, scrolls with the arrow keys and shows the view position and the frame
rate. Maps are made from text with tessel-map or imported from the Tiled
editor; tessel-render runs a map without a display and writes a frame as PNG.
A demo map is installed in /usr/share/tessel/demo. MIT licence.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# cpack packs what is built; it does not build the tests and benchmarks first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
