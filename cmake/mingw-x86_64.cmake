# 64-bit Windows: the same programs, and the Windows tests on hosts that cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KD7X_MINGW x86_64-w64-mingw32)
set(KD7X_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
