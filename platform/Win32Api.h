// The Win32 names the portable code uses: the real ones on Windows, our own elsewhere.
#pragma once
#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/Win32Compat.h"
#endif
