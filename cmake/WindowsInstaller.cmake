# The Windows packages, which scripts/build-windows makes with `cpack` in a Windows build tree:
# batch-renamer-<version>-win64.exe, the installer (NSIS, from cmake/NSIS.template.in), and
# batch-renamer-<version>-win64-portable.zip. Both hold batch-renamer.exe (Qt linked in, no DLLs
# beside it) and the licence.

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME batch-renamer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Batch Renamer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch file renamer with a simplified Chinese interface")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/batch-renamer")
set(CPACK_PACKAGE_FILE_NAME batch-renamer-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Release program is linked stripped; stripping it again would only stamp it anew, so that the
# installed file would differ from the one built and tested.
set(CPACK_STRIP_FILES OFF)

# The installer: the project's template (CPack finds NSIS.template.in on the module path) says what
# CPack's cannot: 64-bit Unicode, per user without elevation, the folder verbs.
list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
# The folder under %LOCALAPPDATA%\Programs or Program Files, and the name of the registry keys.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Batch Renamer")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY batch-renamer)
# The Start-menu shortcut and the Apps & Features entry, named as the window is.
set(CPACK_NSIS_DISPLAY_NAME "批量文件重命名")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/windows/batch-renamer.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/windows/batch-renamer.ico)
set(CPACK_NSIS_URL_INFO_ABOUT ${CPACK_PACKAGE_HOMEPAGE_URL})
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")

# The portable build: the two files at the top of the archive, to unpack anywhere (a USB stick).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/WindowsPackageNames.cmake)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

include(CPack)
