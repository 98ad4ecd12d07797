# Third-party pieces as one interface target, kd7x_thirdparty.
add_library(kd7x_thirdparty INTERFACE)

if(WIN32)
  # The cross build sees only the Debian headers it needs, through a staging folder of links,
  # never the whole of /usr/include. spdlog and fmt are used header-only.
  set(KD7X_STAGING ${CMAKE_BINARY_DIR}/staging/include)
  file(MAKE_DIRECTORY ${KD7X_STAGING})
  foreach(dir boost spdlog fmt CLI nlohmann)
    if(NOT EXISTS ${KD7X_STAGING}/${dir})
      file(CREATE_LINK /usr/include/${dir} ${KD7X_STAGING}/${dir} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(kd7x_thirdparty SYSTEM INTERFACE ${KD7X_STAGING})
  target_compile_definitions(kd7x_thirdparty INTERFACE
    FMT_HEADER_ONLY SPDLOG_WCHAR_FILENAMES UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)

  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(spdlog REQUIRED)
  find_package(fmt REQUIRED)
  find_package(GTest REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SERIALPORT REQUIRED IMPORTED_TARGET libserialport)
  target_link_libraries(kd7x_thirdparty INTERFACE spdlog::spdlog fmt::fmt nlohmann_json::nlohmann_json)
endif()
