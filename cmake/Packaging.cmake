# The Debian package: `cpack -G DEB` in a build tree, which scripts/package and the package test run.
# The binary goes to /usr/bin, the desktop entry, icons and metainfo under /usr/share.

# Debian keeps each package's copyright and licence note in its own doc folder.
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/batch-renamer)

# The manual page and the package's Debian changelog go in gzipped, as Debian wants them: at the
# strongest level and without the name and time stamp that would make every build's file differ.
if(NOT WIN32)
    find_program(RENAMER_GZIP gzip REQUIRED)
    set(manual_page ${PROJECT_BINARY_DIR}/batch-renamer.1.gz)
    set(debian_changelog ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
    add_custom_command(OUTPUT ${manual_page}
        COMMAND ${RENAMER_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/data/batch-renamer.1 > ${manual_page}
        DEPENDS ${PROJECT_SOURCE_DIR}/data/batch-renamer.1 VERBATIM)
    add_custom_command(OUTPUT ${debian_changelog}
        COMMAND ${RENAMER_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/data/changelog > ${debian_changelog}
        DEPENDS ${PROJECT_SOURCE_DIR}/data/changelog VERBATIM)
    add_custom_target(gzipped_docs ALL DEPENDS ${manual_page} ${debian_changelog})
    install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${debian_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/batch-renamer)
endif()

set(CPACK_PACKAGE_NAME batch-renamer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: the package carries data/changelog, whose top entry names this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "Batch Renamer developers")
set(CPACK_PACKAGE_CONTACT "Batch Renamer developers <rename@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/batch-renamer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch file renamer with a simplified Chinese interface")
# Control files want the long description in lines of under 80 characters; CPack keeps the breaks.
set(CPACK_PACKAGE_DESCRIPTION [[
A small Qt desktop tool that renames many files at once. It searches a
folder and every folder below it for files whose names contain a text (a
suffix such as .txt, or a keyword), lists them as a checklist, previews the
new names (a zero-padded start number, a keyword, keyword-dash-number, or a
replaced extension) and renames the checked files.

It never overwrites a file, and names that are not valid UTF-8 are kept
byte for byte.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps adds the libraries the binary links; these are what it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window asks for this font first; without a CJK font the Chinese texts show as boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei")
# Qt's Wayland platform plugin, so the window runs natively on Wayland desktops rather than XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
