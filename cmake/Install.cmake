# Installing the Linux programs with their manual pages, shell completion and udev rule, and a
# Debian package of them that lintian passes.
include(GNUInstallDirs)
set(KD7X_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
set(KD7X_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/kd7x-update)
find_program(KD7X_HELP2MAN help2man)
set(KD7X_MAINTAINER "KD7X upgrade tool team <kd7x-update@example.com>"
    CACHE STRING "The package's Maintainer and the changelog's signature: a name and an e-mail address")
# The Debian revision of a release: 1, and higher when only the packaging changes.
set(KD7X_DEB_RELEASE 1)

# The manual page of a program: the options from its own --help and --version, the other sections
# written once in docs/<program>.h2m; installed compressed. The page describes KD7X_PORT, not the
# value the build's environment happens to hold.
function(kd7x_man_page program description)
  if(NOT KD7X_HELP2MAN)
    message(STATUS "help2man not found: no manual page for ${program}")
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  set(include ${PROJECT_SOURCE_DIR}/docs/${program}.h2m)
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env --unset=KD7X_PORT
            ${KD7X_HELP2MAN} --no-info --name "${description}" --include ${include} --output ${page}
            $<TARGET_FILE:${program}>
    COMMAND sh -c "gzip -9nc \"$0\" >\"$0.gz\"" ${page}
    DEPENDS ${program} ${include}
    VERBATIM)
  add_custom_target(${program}-man ALL DEPENDS ${page}.gz)
  # OPTIONAL: a build of the programs alone (scripts/demo) still installs them.
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
endfunction()

# The bash and zsh completion of a program, printed by its hidden --completion from its own
# options, where the shells look for them.
function(kd7x_completion program)
  set(folder ${CMAKE_BINARY_DIR}/completion)
  add_custom_command(OUTPUT ${folder}/${program} ${folder}/_${program}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND sh -c "\"$0\" --completion bash >\"$1\" && \"$0\" --completion zsh >\"$2\""
            $<TARGET_FILE:${program}> ${folder}/${program} ${folder}/_${program}
    DEPENDS ${program}
    VERBATIM)
  add_custom_target(${program}-completion ALL DEPENDS ${folder}/${program} ${folder}/_${program})
  install(FILES ${folder}/${program} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions OPTIONAL)
  install(FILES ${folder}/_${program} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions OPTIONAL)
endfunction()

# The package's own files: the udev rule, the copyright and the Debian changelog (dated by
# SOURCE_DATE_EPOCH when it is set, for a reproducible package).
set(KD7X_DEB_VERSION ${PROJECT_VERSION}-${KD7X_DEB_RELEASE})
string(TIMESTAMP KD7X_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${KD7X_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/60-kd7x-update.rules DESTINATION lib/udev/rules.d)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kd7x-update)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kd7x-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KD7X_DEB_RELEASE})
set(CPACK_PACKAGE_CONTACT "${KD7X_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash KD7X two-way radios over a serial port")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "kd7x-update sends the application and resource-database (RCDB) images to a\n"
    "KD7X two-way radio in its upgrade mode, over a USB serial programming cable,\n"
    "and has the radio write them. It flashes one radio or many at once, shows\n"
    "the progress of each, and reports the outcome as a line, an exit status and\n"
    "optionally a JSON document, for service benches and scripts alike.\n"
    "\n"
    "kd7x-radio-sim is a simulated radio on a pseudo-terminal that checks every\n"
    "byte of an upgrade and can misbehave on request, for trying the tool, tests\n"
    "and demonstrations without hardware.\n"
    "\n"
    "A udev rule gives the dialout group the common USB serial adapters of\n"
    "programming cables (FTDI, Prolific, Silicon Labs, WCH).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped programs, the debug symbols left out of the package.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
