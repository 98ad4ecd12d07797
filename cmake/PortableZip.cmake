# Windows: both programs and a short how-to in a portable zip, made by cpack in the build folder
# (build/windows/package/kd7x-update-VERSION-win32.zip, or win64 for the 64-bit build).
set(KD7X_INSTALL_BINDIR .)
# CRLF line ends, so every Windows editor shows the how-to as written.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kd7x-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kd7x-update-${PROJECT_VERSION}-${KD7X_WINEARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
