# Packages of what "cmake --install" puts in place, made by cpack in the
# build directory:
#
#   cpack -G DEB    apfold_<version>_<arch>.deb  (scripts/package.sh builds and checks it)
#   cpack -G TGZ    apfold-<version>-<system>.tar.gz
#
# One package holds the commands, their manual pages and the library for
# developers: the library is static, so nothing else needs installing to run
# a program built with it.
set(APFOLD_PACKAGE_CONTACT "apfold maintainers <apfold@example.org>" CACHE STRING
  "Maintainer of the packages: name <address>")

set(CPACK_PACKAGE_NAME apfold)
set(CPACK_PACKAGE_VENDOR "apfold")
set(CPACK_PACKAGE_CONTACT "${APFOLD_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "radio map builder for wireless site surveys")
set(CPACK_PACKAGE_DESCRIPTION [[apfold turns a wireless site survey - reference points on a grid, each with
several saved iwlist scan reports - into a binary radio map: for every point
the access points seen there with their mean signal and noise levels.
apdump reads a radio map back as a summary, CSV, JSON or an SVG heat map.
The static library apfold_core, its headers and a CMake package
(find_package(apfold)) let other programs read surveys, fold scans, write
radio maps and convert laser range scans.]])
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)  # the commands; the static library keeps its symbols
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${APFOLD_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libc6 and libstdc++6, as dpkg-shlibdeps reads them off the two commands.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
