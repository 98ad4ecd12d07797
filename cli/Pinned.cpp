#include "cli/Pinned.h"

#include "platform/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace
{
// 64 hex digits, lower case; empty when it is none.
std::string Digest(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool hex = text.size() == 64 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
                         return std::isdigit(c) || (c >= 'a' && c <= 'f');
                     });
    return hex ? text : std::string();
}
} // namespace

std::string ParsePinnedDigests(const std::vector<std::string>& values, PinnedDigests& pinned)
{
    for (const auto& value : values)
    {
        const std::size_t equals = value.find('=');
        const std::string role = value.substr(0, equals);
        const std::string digest = equals == std::string::npos ? std::string() : Digest(value.substr(equals + 1));
        if ((role != "app" && role != "rcdb") || digest.empty())
            return "--expect-sha256 " + value + " is not ROLE=HEX (ROLE app or rcdb, HEX 64 hex digits)";
        const auto [it, added] = pinned.emplace(role, digest);
        if (!added && it->second != digest)
            return "--expect-sha256 names two digests for the " + role + " image";
    }
    return {};
}

std::string ReadManifest(const std::string& file, std::string& app, std::string& rcdb, PinnedDigests& pinned)
{
    const auto path = PathFromWide(Utf8ToWide(file));
    // A manifest names two files: a bigger one, or a device, is not one.
    constexpr std::uintmax_t kLargest = 1u << 20;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > kLargest)
        return "the manifest " + file + " is not a file of at most 1 MiB";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "cannot read the manifest " + file;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    nlohmann::json doc;
    try
    {
        doc = nlohmann::json::parse(text);
    }
    catch (const nlohmann::json::parse_error& e)
    {
        // Where, as an editor shows it.
        const std::size_t at = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
        const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n');
        const std::size_t lineStart = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t column = at - (lineStart == std::string::npos || at == 0 ? 0 : lineStart + 1) + 1;
        return "the manifest " + file + " is not JSON (line " + std::to_string(line) + ", column " +
               std::to_string(column) + ")";
    }
    if (!doc.is_object() || doc.empty())
        return "the manifest " + file + " is not an object naming the app and rcdb images";
    const auto folder = path.parent_path();
    for (const auto& [role, entry] : doc.items())
    {
        if (role != "app" && role != "rcdb")
            return "the manifest " + file + " names an unknown role \"" + role + "\" (app or rcdb)";
        const auto where = entry.is_object() ? entry.find("path") : entry.end();
        const auto digest = entry.is_object() ? entry.find("sha256") : entry.end();
        if (where == entry.end() || !where->is_string() || where->get<std::string>().empty())
            return "the manifest " + file + " gives the " + role + " image no path";
        if (digest == entry.end() || !digest->is_string() || Digest(digest->get<std::string>()).empty())
            return "the manifest " + file + " gives the " + role + " image no SHA-256 of 64 hex digits";
        const auto image = PathFromWide(Utf8ToWide(where->get<std::string>()));
        (role == "app" ? app : rcdb) = WideToUtf8(PathToWide(image.is_absolute() ? image : folder / image));
        pinned[role] = Digest(digest->get<std::string>());
    }
    return {};
}
