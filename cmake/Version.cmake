# The one version number, project(VERSION) in the top CMakeLists.txt, as a generated header for
# the programs and the resource script: kd7x_version gives its folder.
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${CMAKE_BINARY_DIR}/generated/Version.h @ONLY)
add_library(kd7x_version INTERFACE)
target_include_directories(kd7x_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
