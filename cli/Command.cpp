#include "cli/Command.h"

#include "cli/Console.h"
#include "cli/Report.h"

#include <cstdio>
#include <iostream>

void PrintJson(nlohmann::json doc, const CliOptions& options)
{
    if (!options.warnings.empty())
        doc["warnings"] = options.warnings;
    std::cout << Dump(doc) << std::endl;
}

int Refuse(const CliOptions& options, int code, const std::string& outcome, const std::string& message,
           const std::vector<std::string>& listing)
{
    std::string shown = TerminalText(message);
    std::string whole = message;
    for (const auto& line : listing)
    {
        shown += "\n  " + TerminalText(line);
        whole += "\n  " + line;
    }
    std::cerr << "kd7x-update: " << shown << std::endl;
    if (options.json)
        PrintJson(FailureJson(code, outcome, whole), options);
    return code;
}

std::string PortLine(const PortInfo& port)
{
    std::string line = port.path;
    if (port.vid >= 0)
    {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", port.vid & 0xFFFF, port.pid & 0xFFFF);
        line += std::string("  USB ") + ids;
    }
    for (const std::string* part : {&port.manufacturer, &port.description})
        if (!part->empty())
            line += "  " + *part;
    if (!port.serial.empty())
        line += "  serial " + port.serial;
    if (!port.byId.empty())
        line += "  (" + port.byId + ")";
    return line;
}

int ListPortsCommand(const CliOptions& options)
{
    const auto ports = ListPorts();
    if (options.json)
    {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& port : ports)
        {
            nlohmann::json entry = {{"path", port.path},
                                    {"by_id", port.byId},
                                    {"description", port.description},
                                    {"manufacturer", port.manufacturer},
                                    {"serial", port.serial},
                                    {"usb", port.vid >= 0}};
            char id[8];
            std::snprintf(id, sizeof id, "%04x", port.vid & 0xFFFF);
            entry["vid"] = port.vid >= 0 ? nlohmann::json(id) : nlohmann::json(nullptr);
            std::snprintf(id, sizeof id, "%04x", port.pid & 0xFFFF);
            entry["pid"] = port.vid >= 0 ? nlohmann::json(id) : nlohmann::json(nullptr);
            list.push_back(entry);
        }
        std::cout << Dump(list) << std::endl;
        return kExitSuccess;
    }
    if (ports.empty())
        std::cout << "no serial ports found" << std::endl;
    for (const auto& port : ports)
        std::cout << PortLine(port) << std::endl;
    return kExitSuccess;
}
