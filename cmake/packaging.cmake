# A Debian package of the author's tools (scripts/package.sh): qpk, its
# manual page and its bash completion, the "tools" install component alone.
# The installer itself goes onto routers with the system image, not by dpkg.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qpk)
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick router developers <dev@tarnwick.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build, inspect, sign and verify Tarnwick router package files")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qpk)
set(CPACK_DEBIAN_TOOLS_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
       "qpk makes signed package files and bundles from directory trees, shows every\n"
       "part of a package file (as text or JSON), makes signing keys, signs package\n"
       "files again and checks their signatures as the router's installer does.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS bash-completion)
# The libraries qpk links dynamically (libcrypto and zlib are static unless
# INSTALLER_STATIC is off) are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
