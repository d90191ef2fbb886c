# The Debian package, made by CPack from the install rules above (scripts/package.sh):
#   cmake --build build --target package   ->   build/bumple_<version>_<arch>.deb
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bumple)
set(CPACK_PACKAGE_VENDOR "the Bumple developers")
set(CPACK_PACKAGE_CONTACT "The Bumple developers <mara@quellmoor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a dial-up Internet connection alive")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://quellmoor.example/")
# CPack puts the summary above this as the first line.
set(CPACK_PACKAGE_DESCRIPTION "Bumple sits in the notification area and, every few minutes, opens a TCP
connection to port 80 of a web server from the user's list, sends one tiny
HTTP request and counts the first byte of the answer as success, so that an
idle dial-up connection is not dropped. The tray icon shows whether it is
running, stopped or waiting, and its tip counts down to the next request.")
# The shared libraries' packages are computed (dpkg-shlibdeps); the Qt plugins, the SVG
# image plugin and the icon theme are loaded at run time, so no library names them. Since
# 6.7.2-5 (Debian 13) the SVG plugins are a package of their own, which libqt6svg6 does not
# pull in; before that libqt6svg6 holds them, so one package serves both.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, libqt6svg6, qt6-svg-plugins | libqt6svg6 (<< 6.7.2-5~), hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
