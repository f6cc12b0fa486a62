# A Debian package of what `cmake --install` installs, made with
#   cpack -G DEB --config build/release/CPackConfig.cmake
# One package, korvane: the program, the shared library, its headers and CMake
# package, the man page and the shell completions (scripts/package.sh builds,
# checks, installs and removes it).
set(KORVANE_PACKAGE_MAINTAINER "The Korvane Developers <maintainers@korvane.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR "The Korvane Developers")
set(CPACK_PACKAGE_CONTACT "${KORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "create and verify SFV, MD5 and SHA checksum files")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://korvane.org/)
# The long description, under the summary CPack puts first; an empty line
# separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "korvane creates and verifies checksum lists: SFV files (CRC-32) and MD5,
SHA-1, SHA-256 and SHA-512 lists in the layout of md5sum and the sha*sum
tools. A verification hashes every listed file and reports for each whether
it is Ok, differs or cannot be read; an SFV list can remember which entries
verified, so that later runs skip files unchanged since. Lists can also be
updated in place and audited for files they do not name.

The package also holds libkorvane, the shared library the program is built
on, with its headers and CMake package files.")
# Dependencies from the ELF files (dpkg-shlibdeps), and a shlibs file plus
# the ldconfig trigger for the library the package ships.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library's directory is the loader's: its cache is refreshed by the
# ldconfig trigger (CPack's own postinst and postrm call ldconfig as well).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/triggers)

# What Debian wants beside the installed files (copyright, a compressed
# changelog and man page) is added to the staged tree before it is packed.
string(TIMESTAMP KORVANE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(KORVANE_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/KorvaneDebianFiles.cmake.in
               ${CMAKE_CURRENT_BINARY_DIR}/packaging/KorvaneDebianFiles.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_BINARY_DIR}/packaging/KorvaneDebianFiles.cmake)

include(CPack)
