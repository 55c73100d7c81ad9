# The .deb of the program: `cmake --build build --target package` (or
# scripts/package). What `cmake --install` puts in place goes into it; the
# stand-ins in tools/ have no install rules and stay out. Runtime
# dependencies come from the shared libraries the binaries actually link
# (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orv-dashboard)
set(CPACK_PACKAGE_VENDOR "ORV Software")
set(CPACK_PACKAGE_CONTACT "ORV Software <support@orvsoftware.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manage ORV component products for the Delphi IDE")
set(CPACK_PACKAGE_DESCRIPTION
  "ORV Dashboard shows the vendor's dashboard in its own window and does the local work for it: downloads, classic installs and updates, batches for the ORV Kitwright package manager, and the products of your account.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.orvsoftware.com")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Links and files open with the desktop's handlers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
