# Read by `cpack` for each package it makes: the portable archive is named apart from the installer.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-portable")
endif()
