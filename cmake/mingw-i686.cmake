# 32-bit Windows: the programs the operator's PC gets.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KD7X_MINGW i686-w64-mingw32)
set(KD7X_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
