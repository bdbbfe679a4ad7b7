# The Debian package of velnor, made by `cpack -G DEB` in a build folder.
# Its dependencies are found by dpkg-shlibdeps from the libraries the
# installed command links, so they are the runtime packages (libsqlite3-0,
# ...) and never the -dev packages the build needs; libsmbclient and libpq5,
# which the command loads itself, are named here.
# cpack and `make install` package what the build made and build nothing
# themselves: a package is made after `cmake --build`, never halfway
# through one.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velnor)
set(CPACK_PACKAGE_VENDOR "VELNOR Log Analysis")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "collect IIS log statistics into report databases")
set(CPACK_PACKAGE_CONTACT "VELNOR Log Analysis maintainers <velnor@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at the first SMB call (platform/unc/smb.cpp) and at the first use
# of a PostgreSQL store (platform/ado/pg_library.cpp), so dpkg-shlibdeps
# cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsmbclient, libpq5")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
