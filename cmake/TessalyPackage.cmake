# The Debian package, built by CPack from the install rules: `cpack -G DEB` in the build folder
# (scripts/package-check.sh builds and checks it). Its dependencies on shared libraries come
# from dpkg-shlibdeps; what the program loads at run time (Qt's platform and SVG plug-ins, Qt's
# own translations) is named here.
include_guard(GLOBAL)

set(TESSALY_PACKAGE_CONTACT "ORVANTA <support@orvanta.example>" CACHE STRING
    "Maintainer of the Debian package (name <address>)")

# The files every Debian package carries in share/doc/<package>: the copyright and, compressed,
# the changelog.
set(TESSALY_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/tessaly")
# The licence file, with where Debian keeps the LGPL that the icon set names.
file(READ "${PROJECT_SOURCE_DIR}/resources/license.txt" TESSALY_LICENSE)
file(WRITE "${CMAKE_BINARY_DIR}/package/copyright" "${TESSALY_LICENSE}"
  "\nOn Debian systems, the complete text of the GNU Lesser General Public License\n"
  "version 3 is in /usr/share/common-licenses/LGPL-3.\n")
install(FILES "${CMAKE_BINARY_DIR}/package/copyright" DESTINATION "${TESSALY_DOC_DIR}")
find_program(TESSALY_GZIP gzip)
if(TESSALY_GZIP)
  # The program's manual page (tessaly-convert's is made from its --help).
  add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/package/tessaly.1.gz"
    COMMAND ${TESSALY_GZIP} -9nc "${PROJECT_SOURCE_DIR}/resources/tessaly.1" > "${CMAKE_BINARY_DIR}/package/tessaly.1.gz"
    DEPENDS "${PROJECT_SOURCE_DIR}/resources/tessaly.1")
  add_custom_target(tessaly_man ALL DEPENDS "${CMAKE_BINARY_DIR}/package/tessaly.1.gz")
  install(FILES "${CMAKE_BINARY_DIR}/package/tessaly.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  string(TIMESTAMP TESSALY_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE "${CMAKE_BINARY_DIR}/package/changelog.Debian"
    "tessaly (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
    "  * Tessaly ${PROJECT_VERSION}, packaged from its sources.\n\n"
    " -- ${TESSALY_PACKAGE_CONTACT}  ${TESSALY_PACKAGE_DATE}\n")
  add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/package/changelog.Debian.gz"
    COMMAND ${TESSALY_GZIP} -9nkf "${CMAKE_BINARY_DIR}/package/changelog.Debian"
    DEPENDS "${CMAKE_BINARY_DIR}/package/changelog.Debian"
    VERBATIM)
  add_custom_target(tessaly_package_changelog ALL DEPENDS "${CMAKE_BINARY_DIR}/package/changelog.Debian.gz")
  install(FILES "${CMAKE_BINARY_DIR}/package/changelog.Debian.gz" DESTINATION "${TESSALY_DOC_DIR}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR ORVANTA)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TESSALY_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vCard to CSV, text and Excel converter")
# The long description, under the summary.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessaly turns address-book exports (vCard .vcf files) into tables: CSV files\n"
    "that the contact import of mail services and programs accepts, plain text with\n"
    "one value per line, and Excel workbooks (.xls and .xlsx).\n"
    "\n"
    "The package holds the desktop program and tessaly-convert, its command-line\n"
    "twin for batches.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs Qt's platform plug-ins and its SVG icon engine, both loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
