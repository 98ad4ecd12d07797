#include "serial/PortWatcher.h"

#include "platform/Text.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace
{
class CComPortWatcher : public IPortWatcher
{
public:
    std::vector<WatchedPort> List() override
    {
        std::vector<WatchedPort> ports;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return ports;
        for (DWORD index = 0;; ++index)
        {
            wchar_t name[256];
            wchar_t data[64];
            DWORD nameSize = 256;
            DWORD dataSize = sizeof data;
            DWORD type = 0;
            const LONG got =
                RegEnumValueW(key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
            if (got == ERROR_NO_MORE_ITEMS)
                break;
            if (got != ERROR_SUCCESS || type != REG_SZ)
                continue;
            data[std::min<DWORD>(dataSize / sizeof(wchar_t), 63)] = L'\0';
            // \Device\SerialN are the machine's own UARTs, \Device\BthModemN Bluetooth links (opening
            // one starts a connection); USB adapters register under their drivers' names.
            const std::wstring driver = name;
            if (driver.rfind(L"\\Device\\Serial", 0) == 0 || driver.rfind(L"\\Device\\BthModem", 0) == 0)
                continue;
            const std::wstring com = data;
            ports.push_back({WideToUtf8(com), L"\\\\.\\" + com, {}, {}});
        }
        RegCloseKey(key);
        return ports;
    }
};
} // namespace

std::unique_ptr<IPortWatcher> MakeUsbPortWatcher() { return std::make_unique<CComPortWatcher>(); }

// Windows names no by-id path, and the registry's port list no serial number.
void DescribePort(WatchedPort&) {}

std::string DeviceIdentity(const std::wstring& device)
{
    std::wstring name = device.rfind(L"\\\\.\\", 0) == 0 ? device.substr(4) : device;
    for (auto& c : name)
        c = static_cast<wchar_t>(std::towupper(c));
    return WideToUtf8(name);
}
