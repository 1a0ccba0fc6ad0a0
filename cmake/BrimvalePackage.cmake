# The Debian package: "cpack -G DEB" in a build folder makes brimvale_VERSION-RELEASE_ARCH.deb
# from the install rules, with the project's one version number and the package's own release
# (the number of the entry at the top of resources/debian/changelog). dpkg-shlibdeps finds the
# libraries the program links (Qt, the C++ runtime, the X and Wayland client libraries); the
# designed font comes from fonts-liberation. Extended description lines stay within 80 columns
# with their leading space.

set(CPACK_PACKAGE_NAME brimvale)
set(CPACK_PACKAGE_VENDOR "Brimvale developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join the contents of several folders into one output folder")
set(CPACK_PACKAGE_DESCRIPTION
    "Brimvale copies the contents of several source folders into one output\n"
    "folder, either each folder whole or every file directly into the output\n"
    "folder. It has a window and a command line (brimvale join) whose dry run\n"
    "shows what a join would do before anything is written, including the names\n"
    "a FAT or exFAT volume would refuse or take as one.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "${BRIMVALE_HOME_PAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(BRIMVALE_DEB_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brimvale developers <${BRIMVALE_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
# Qt's Wayland platform, for a Wayland desktop without X; under X or Xwayland the program needs none.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)

include(CPack)
