# Windows: both programs and a short how-to, as a portable zip and as an installer, made by cpack in
# the build folder: build/windows/package/kd7x-update-VERSION-win32.zip and
# kd7x-update-VERSION-win32-setup.exe (win64 for the 64-bit build).
set(KD7X_INSTALL_BINDIR .)

set(CPACK_GENERATOR "ZIP;NSIS")
# The NSIS commands below reach the script as written, quotes and backslashes included.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME kd7x-update)
set(CPACK_PACKAGE_VENDOR "KD7X upgrade tool team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME kd7x-update-${PROJECT_VERSION}-${KD7X_WINEARCH})
# The installer's name, set for its generator by the options file (the zip keeps the name above).
set(CPACK_KD7X_INSTALLER_NAME ${CPACK_PACKAGE_FILE_NAME}-setup)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/windows-cpack-options.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)

# The installer: Program Files of the build's architecture, Start-menu entries, an uninstaller in
# Add/Remove Programs; /S and /D=FOLDER as with any NSIS installer.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "KD7X upgrade tool")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "KD7X upgrade tool")
set(CPACK_NSIS_PACKAGE_NAME "KD7X upgrade tool")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/KD7XUpdateTool.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/KD7XUpdateTool.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME KD7XUpdateTool.exe)
# An installer of the programs' own architecture: a 64-bit one sees the 64-bit Program Files and
# registry view unasked, and runs wherever its programs do. Unicode, for folders named in any script.
if(KD7X_WINEARCH STREQUAL win64)
  # Both may be installed side by side: their Start-menu folders and Add/Remove entries differ.
  set(CPACK_NSIS_PACKAGE_NAME "KD7X upgrade tool (64-bit)")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(kd7x_nsis_target amd64-unicode)
else()
  set(kd7x_nsis_target x86-unicode)
endif()
# cpack splits the command at spaces unless escaped.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-XTarget\\ ${kd7x_nsis_target}")
set(CPACK_NSIS_DISPLAY_NAME "${CPACK_NSIS_PACKAGE_NAME}")
# The station switch is the dialog's; the Start menu just passes it.
string(CONCAT CPACK_NSIS_CREATE_ICONS_EXTRA
  "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KD7X upgrade tool.lnk\" \"$INSTDIR\\KD7XUpdateTool.exe\"\n"
  "  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KD7X station.lnk\" \"$INSTDIR\\KD7XUpdateTool.exe\" \"/station\"")
string(CONCAT CPACK_NSIS_DELETE_ICONS_EXTRA
  "Delete \"$SMPROGRAMS\\$MUI_TEMP\\KD7X upgrade tool.lnk\"\n"
  "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\KD7X station.lnk\"")
# CRLF line ends, so every Windows editor shows the how-to as written; it names the installer.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
include(CPack)
