#include "serial/posix/PortList.h"

#include "platform/Text.h"
#include "serial/PortOrder.h"

#include <libserialport.h>

#include <cstdlib>
#include <filesystem>
#include <map>

long DevicePortNumber(const std::wstring& device)
{
    std::size_t end = device.size();
    std::size_t start = end;
    while (start > 0 && device[start - 1] >= L'0' && device[start - 1] <= L'9')
        --start;
    if (start == end)
        return 0;
    return std::wcstol(device.c_str() + start, nullptr, 10);
}

std::map<std::string, std::string> LinksByDevice(const char* folder)
{
    std::map<std::string, std::string> links;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    {
        const auto target = std::filesystem::canonical(entry.path(), ec);
        if (!ec)
            links[target.string()] = entry.path().string();
    }
    return links;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    const auto byId = LinksByDevice("/dev/serial/by-id");

    std::map<std::wstring, SerialPortInfo> found;
    CPortVector order;
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) == SP_OK)
    {
        for (sp_port** p = ports; *p != nullptr; ++p)
        {
            SerialPortInfo info;
            info.device = sp_get_port_name(*p);
            const auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
            if (sp_get_port_transport(*p) == SP_TRANSPORT_USB)
            {
                info.manufacturer = text(sp_get_port_usb_manufacturer(*p));
                info.description = text(sp_get_port_usb_product(*p));
                info.serial = text(sp_get_port_usb_serial(*p));
                sp_get_port_usb_vid_pid(*p, &info.vid, &info.pid);
            }
            if (info.description.empty())
                info.description = text(sp_get_port_description(*p));
            const auto link = byId.find(info.device);
            if (link != byId.end())
                info.byId = link->second;
            const std::wstring name = NarrowToWide(info.device);
            found[name] = info;
            InsertPortByNumber(order, name, DevicePortNumber);
        }
        sp_free_port_list(ports);
    }
    std::vector<SerialPortInfo> result;
    for (const auto& name : order.m_names)
        result.push_back(found[name]);
    return result;
}
