#include "serial/PortWatcher.h"

#include "platform/Text.h"
#include "serial/posix/PortList.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{
class CUsbPortWatcher : public IPortWatcher
{
public:
    std::vector<WatchedPort> List() override
    {
        // The hub socket names a port: the same after every replug, whatever its device number.
        const auto byPath = LinksByDevice("/dev/serial/by-path");
        std::vector<WatchedPort> ports;
        for (const auto& info : ListSerialPorts())
        {
            if (info.vid < 0)
                continue;
            const auto place = byPath.find(info.device);
            ports.push_back({place != byPath.end() ? place->second : info.device, NarrowToWide(info.device), info.byId,
                             info.serial});
        }
        return ports;
    }
};
} // namespace

std::unique_ptr<IPortWatcher> MakeUsbPortWatcher() { return std::make_unique<CUsbPortWatcher>(); }

void DescribePort(WatchedPort& port)
{
    std::error_code ec;
    const auto device = std::filesystem::canonical(PathFromWide(port.device), ec);
    if (ec)
        return;
    for (const auto& info : ListSerialPorts())
    {
        if (info.device == device.string())
        {
            port.byId = info.byId;
            port.serial = info.serial;
        }
    }
}

std::string DeviceIdentity(const std::wstring& device)
{
    const std::string path = WideToNarrow(device);
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode))
        return "device " + std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    // Not there (yet): its name, with the links that lead to it followed as far as they go.
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}
