# cpack -G DEB: a Debian package that installs what `cmake --install` installs, with the
# dependencies worked out from the executables (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME tollvane)
set(CPACK_PACKAGE_VENDOR "Vintrelle")
set(CPACK_PACKAGE_CONTACT "Tollvane developers <tollvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop FTP client with transfer queues that survive restarts")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_GENERATOR DEB)
# Only the program's own files: no test or benchmark helpers.
set(CPACK_COMPONENTS_ALL Unspecified)
include(CPack)
