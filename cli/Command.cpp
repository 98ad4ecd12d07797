#include "cli/Command.h"

#include "app/Logging.h"
#include "app/RadioText.h"
#include "cli/Console.h"
#include "cli/Pinned.h"
#include "cli/Tuning.h"
#include "config/Settings.h"
#include "platform/Digest.h"
#include "platform/Text.h"

#include <spdlog/spdlog.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <tuple>

namespace
{
const char* const kSimulatedConfirm = "upgrade OK";
const char* const kSimulatedRadioId = "S/N (KD7X-[0-9]+)";

// Small sample images keep a demonstration within a minute at the default pauses.
std::wstring WriteSample(const std::filesystem::path& folder, const char* name, std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<char> data(size);
    for (auto& c : data)
        c = static_cast<char>(rng() & 0xFF);
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return PathToWide(path);
}
} // namespace

void Note(const CliOptions& options, const std::string& text)
{
    if (!options.quiet)
        std::cerr << "kd7x-update: " << TerminalText(text) << std::endl;
}

void Warn(CliOptions& options, const std::string& text)
{
    // --quiet keeps the warnings: a value not taken or a file not written is never silent.
    options.warnings.push_back(text);
    std::cerr << "kd7x-update: " << TerminalText(text) << std::endl;
}

int SetUpFlash(CliOptions& options, FlashSetUp& setUp)
{
    // Where the settings and the log live.
    // The program's own folders are made as needed; a folder the person named is theirs to make.
    FileLocations& files = setUp.files;
    files = DefaultFileLocations();
    std::error_code ec;
    for (auto [file, named] : {std::pair(&files.settings, &options.settings), std::pair(&files.log, &options.log),
                               std::pair(&files.record, &options.record)})
    {
        // The arguments are UTF-8; file names stay wide up to the system.
        if (!named->empty())
            *file = Utf8ToWide(*named);
        else if (files.makeFolders && (file != &files.record || options.station))
            std::filesystem::create_directories(PathFromWide(*file).parent_path(), ec);
    }
    SetIniPathOverride(files.settings);
    if (const std::string why = SettingsFileUnreadable(); !why.empty())
    {
        options.settingsUnreadable = true;
        Warn(options, "the settings file " + WideToUtf8(files.settings) + " cannot be read (" + why +
                          "): its values are not used, and it is left as it is");
    }
    std::string logError;
    setUp.logger = CreateAppLogger(PathFromWide(files.log), &logError, true);
    if (!setUp.logger)
        Warn(options, "no log file (" + logError + "); going on without one");
    else
        setUp.logger->set_error_handler([](const std::string& why) {
            // Said once: a full disk would otherwise say it at every record.
            static std::atomic<bool> said{false};
            if (!said.exchange(true))
                std::cerr << "kd7x-update: the log cannot be written (" << why << ")" << std::endl;
        });

    std::map<std::string, int> tuning = options.tuning;
    if (options.fast && tuning.count("WriteDataFrameInterval") == 0)
        tuning["WriteDataFrameInterval"] = 0;
    for (const auto& warning : ApplyTuning(tuning, WideToUtf8(files.settings)))
        Warn(options, warning);

    UpgradeRequest& base = setUp.base;
    // The radio's own word: a pattern on the command line wins over the settings file's.
    std::vector<std::string> patternWarnings;
    base.patterns = ReadRadioPatterns(patternWarnings);
    for (const auto& warning : patternWarnings)
        Warn(options, WideToUtf8(files.settings) + ": " + warning);
    for (auto [given, text, flag, pattern, kept] : {std::tuple(options.confirmGiven, &options.confirm, "--confirm",
                                                               &base.patterns.confirm, &base.patterns.confirmText),
                                                    std::tuple(options.radioIdGiven, &options.radioId, "--radio-id",
                                                               &base.patterns.radioId, &base.patterns.radioIdText)})
    {
        if (!given)
            continue;
        const std::string why = CompilePattern(*text, *pattern);
        if (!why.empty())
            return Refuse(options, kExitUsage, "usage_error",
                          std::string(flag) + " " + *text + " is not a regular expression: " + why);
        *kept = *text;
    }
    // The simulated radios say what a real one says: their word is asked for unless told otherwise.
    if (options.simulate && !base.patterns.confirm)
        base.patterns.confirmText = kSimulatedConfirm, CompilePattern(kSimulatedConfirm, base.patterns.confirm);
    if (options.simulate && !base.patterns.radioId)
        base.patterns.radioIdText = kSimulatedRadioId, CompilePattern(kSimulatedRadioId, base.patterns.radioId);
    if (options.confirmWaitSeconds > 0)
        base.patterns.confirmWaitMs = static_cast<DWORD>(options.confirmWaitSeconds * 1000);
    if (options.confirmWaitSeconds > 0 && !base.patterns.confirm)
        Warn(options, "--confirm-wait has no effect without --confirm (or ConfirmPattern in the settings file)");
    if (options.once && !base.patterns.radioId)
        return Refuse(options, kExitUsage, "usage_error",
                      "--once needs --radio-id (or RadioIdPattern in the settings file) to know a radio again");
    // Pinned images: digests from the command line or a manifest, checked before any port opens.
    PinnedDigests pinned;
    if (const std::string error = ParsePinnedDigests(options.expectSha256, pinned); !error.empty())
        return Refuse(options, kExitUsage, "usage_error", error);
    if (!options.manifest.empty())
    {
        if (const std::string error = ReadManifest(options.manifest, options.app, options.rcdb, pinned); !error.empty())
            return Refuse(options, kExitImageUnreadable, ExitName(kExitImageUnreadable), error);
    }
    base.strictImages = true;
    base.saveSettings = false;
    base.appPath = ResolvedPath(options.app);
    base.rcdbPath = ResolvedPath(options.rcdb);
    base.waitMs = static_cast<DWORD>(options.waitSeconds * 1000);
    if (options.simulate && base.appPath.empty() && base.rcdbPath.empty())
    {
        setUp.sampleFolder =
            std::filesystem::temp_directory_path(ec) / ("kd7x-simulate-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(setUp.sampleFolder, ec);
        base.appPath = WriteSample(setUp.sampleFolder, "sample-app.bin", 48 * 1024 + 300, 1);
        base.rcdbPath = WriteSample(setUp.sampleFolder, "sample-rcdb.bin", 12 * 1024 + 40, 2);
    }

    // Images are read, checked and framed once, before any port is opened.
    std::vector<UpgradeImage> loaded;
    UpgradeResult imageResult;
    if (!LoadImages(base, loaded, imageResult))
    {
        if (!setUp.sampleFolder.empty())
            std::filesystem::remove_all(setUp.sampleFolder, ec);
        return Refuse(options, kExitImageUnreadable, ExitName(kExitImageUnreadable), WideToUtf8(imageResult.message));
    }
    if (loaded.empty())
        return Refuse(options, kExitNoData, "no_data", "no data can be written! (name an image with --app or --rcdb)");
    for (const auto& image : loaded)
    {
        const std::string role = image.code == kImageApp ? "app" : "rcdb";
        const std::string sha256 = Sha256Hex(image.bytes->data(), image.bytes->size());
        const auto expected = pinned.find(role);
        if (expected != pinned.end() && expected->second != sha256)
        {
            if (!setUp.sampleFolder.empty())
                std::filesystem::remove_all(setUp.sampleFolder, ec);
            return Refuse(options, kExitImageUnreadable, ExitName(kExitImageUnreadable),
                          "the " + role + " image " + WideToUtf8(image.path) + " has the SHA-256 " + sha256 +
                              ", not the expected " + expected->second + ": it is not the image pinned");
        }
        pinned.erase(role);
        setUp.images.push_back(
            {role, WideToUtf8(image.path), image.bytes->size(), sha256, static_cast<int>(image.frames->size())});
        setUp.paths.push_back(image.path);
        setUp.imageBytes += image.bytes->size();
    }
    if (!pinned.empty())
        return Refuse(options, kExitUsage, "usage_error",
                      "--expect-sha256 " + pinned.begin()->first + "=... names no image: give --" +
                          (pinned.begin()->first == "app" ? "app" : "rcdb"));
    base.images = std::make_shared<const std::vector<UpgradeImage>>(std::move(loaded));
    return -1;
}

int RefuseSimulation(const CliOptions& options, const std::string& error)
{
    const bool unsupported = error.rfind("--simulate", 0) == 0;
    return Refuse(options, unsupported ? kExitUsage : kExitSerialError, unsupported ? "usage_error" : "serial_error",
                  error);
}

std::string PrefixLines(const std::string& prefix, std::string text)
{
    for (std::size_t at = 0; !prefix.empty() && at < text.size();)
    {
        text.insert(at, prefix);
        const std::size_t end = text.find('\n', at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return text;
}

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
