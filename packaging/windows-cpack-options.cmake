# Read by cpack for each of its generators: the installer says in its name what it is, beside the zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_KD7X_INSTALLER_NAME}")
endif()
