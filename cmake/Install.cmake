# Installing the Linux programs with their manual pages and shell completion, and a Debian package
# of them.
include(GNUInstallDirs)
set(KD7X_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
find_program(KD7X_HELP2MAN help2man)

# The manual page of a program, made from its own --help and --version.
function(kd7x_man_page program description)
  if(NOT KD7X_HELP2MAN)
    message(STATUS "help2man not found: no manual page for ${program}")
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${KD7X_HELP2MAN} --no-info --name "${description}" --output ${page} $<TARGET_FILE:${program}>
    DEPENDS ${program}
    VERBATIM)
  add_custom_target(${program}-man ALL DEPENDS ${page})
  # OPTIONAL: a build of the programs alone (scripts/demo) still installs them.
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kd7x-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KD7X upgrade tool team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flashes KD7X two-way radios over a serial port; with a simulated radio")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
