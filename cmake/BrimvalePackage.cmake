# The Debian package: "cpack -G DEB" in a build folder makes brimvale_VERSION_ARCH.deb from the
# install rules, with the project's one version number. dpkg-shlibdeps finds the libraries the
# program links (Qt, the C++ runtime); the designed font comes from fonts-liberation.

set(CPACK_PACKAGE_NAME brimvale)
set(CPACK_PACKAGE_VENDOR "Brimvale developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join the contents of several folders into one output folder")
set(CPACK_PACKAGE_DESCRIPTION
    "Brimvale copies the contents of several source folders into one output folder, either\n"
    "each folder whole or every file directly into the output folder. It has a window and a\n"
    "command line (brimvale join) whose dry run shows what a join would do before anything is\n"
    "written, including the names a FAT or exFAT volume would refuse or take as one.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "${BRIMVALE_HOME_PAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brimvale developers <${BRIMVALE_SUPPORT_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)

include(CPack)
