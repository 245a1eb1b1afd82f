# The Windows installer: `cpack -G NSIS` in a Windows build tree, which scripts/build-windows runs.
# It installs batch-renamer.exe (Qt linked in, no DLLs beside it) with a Start-menu entry and an
# uninstaller, for all users under Program Files.

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME batch-renamer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Batch Renamer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch file renamer with a simplified Chinese interface")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/batch-renamer")
set(CPACK_PACKAGE_FILE_NAME batch-renamer-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Batch Renamer")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY batch-renamer)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The Start-menu entry, named as the window is; the program carries its own icon.
set(CPACK_PACKAGE_EXECUTABLES "batch-renamer;Batch Renamer")
set(CPACK_NSIS_DISPLAY_NAME "Batch Renamer")
set(CPACK_NSIS_PACKAGE_NAME "Batch Renamer ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME batch-renamer.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/windows/batch-renamer.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/windows/batch-renamer.ico)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_URL_INFO_ABOUT ${CPACK_PACKAGE_HOMEPAGE_URL})

include(CPack)
