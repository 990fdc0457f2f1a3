# The Debian package: `cpack -G DEB` in the build folder, or scripts/package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnel developers")
set(CPACK_PACKAGE_CONTACT "Varnel developers <varnel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and test electricity meters over an optical probe (IEC 62056-21)")
set(CPACK_PACKAGE_DESCRIPTION
  "Varnel reads electricity meters over an optical probe or a serial line with the\n"
  "IEC 62056-21 protocol (readout mode): each data line as a row with its OBIS\n"
  "code and value, protocol events as rows of their own, and a plain-text log.\n"
  "A line-test mode holds a break on TxD, drives RTS/DTR and shows breaks on RxD.\n"
  "Includes varnel-read (command line) and varnel-meter-sim (a simulated meter).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://varnel.example.org/)
# Depends computed from the binaries by dpkg-shlibdeps, never written by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)
