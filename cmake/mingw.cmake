# Windows cross build with the POSIX-threads MinGW compiler of KD7X_MINGW (a target triple set by
# the toolchain file that includes this one); tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KD7X_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KD7X_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KD7X_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KD7X_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Wine of the build's architecture (KD7X_WINEARCH): a 64-bit prefix runs the 64-bit programs without
# needing the host to execute 32-bit x86 code.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --arch ${KD7X_WINEARCH})
