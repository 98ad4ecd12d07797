#include "serial/win32/ComPortList.h"

#include "platform/Text.h"

#include <windows.h>

void FillComPortList(IPortList& list)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD values = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
    {
        RegCloseKey(key);
        return;
    }
    for (DWORD index = 0; index < values; ++index)
    {
        DWORD nameSize = longestName + 1;
        auto* name = static_cast<char*>(VirtualAlloc(nullptr, nameSize, MEM_COMMIT, PAGE_READWRITE));
        // Six bytes, terminator included: a longer port name does not fit and is left out.
        DWORD dataSize = 6;
        auto* data = static_cast<BYTE*>(VirtualAlloc(nullptr, dataSize, MEM_COMMIT, PAGE_READWRITE));
        if (name != nullptr && data != nullptr)
        {
            const LONG enumerated = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
            if ((enumerated == ERROR_SUCCESS || enumerated == ERROR_NO_MORE_ITEMS) &&
                RegQueryValueExA(key, name, nullptr, nullptr, data, &dataSize) == ERROR_SUCCESS)
            {
                const std::string text(reinterpret_cast<const char*>(data),
                                       strnlen(reinterpret_cast<const char*>(data), 6));
                InsertPortByNumber(list, NarrowToWide(text));
            }
        }
        if (name != nullptr)
            VirtualFree(name, 0, MEM_RELEASE);
        if (data != nullptr)
            VirtualFree(data, 0, MEM_RELEASE);
    }
    RegCloseKey(key);
}
