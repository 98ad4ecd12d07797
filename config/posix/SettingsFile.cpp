// The settings file without the private-profile functions: INI text read and edited whole.
#include "config/IniText.h"
#include "config/Settings.h"
#include "config/SettingsFile.h"
#include "platform/Text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr const char* kSection = "Device";
// A settings file is a few hundred bytes; anything this large is not one.
constexpr std::size_t kMaxFile = 1 << 20;

enum class Load
{
    Ok,
    Missing,
    Unreadable,
};

Load LoadText(const std::string& path, std::string& text, std::string& why)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return Load::Missing;
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        why = std::strerror(errno);
        return Load::Unreadable;
    }
    // Read at every use: in pieces, so a small file costs little and an endless one is stopped.
    char piece[4096];
    while (in.read(piece, sizeof piece) || in.gcount() > 0)
    {
        text.append(piece, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFile)
        {
            why = "it is larger than 1 MiB, not a settings file";
            return Load::Unreadable;
        }
    }
    if (in.bad())
    {
        why = "reading it failed";
        return Load::Unreadable;
    }
    return Load::Ok;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return fsync(fd) == 0;
}

// Written whole next to the file and renamed over it, so a failed write never leaves half a file;
// the file keeps its mode, and its owner where the process may give it. A file with more than one
// name (a hard link) is rewritten in place instead, so every name keeps seeing it.
bool StoreText(const std::string& path, const std::string& text, std::string& why)
{
    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec)
        target = path;
    struct stat old
    {
    };
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && old.st_nlink > 1)
    {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && WriteAll(fd, text) && ftruncate(fd, static_cast<off_t>(text.size())) == 0;
        why = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    const std::string temporary = target.string() + ".tmp" + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        // A folder that takes no new files may still hold a file we may write.
        why = std::strerror(errno);
        const int in = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const bool ok = in >= 0 && WriteAll(in, text);
        if (in >= 0)
            ::close(in);
        return ok;
    }
    if (exists)
    {
        fchmod(fd, old.st_mode & 07777);
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            fchown(fd, static_cast<uid_t>(-1), old.st_gid); // at least the group, where allowed
    }
    const bool written = WriteAll(fd, text);
    why = std::strerror(errno);
    ::close(fd);
    if (written && std::rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    why = std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
}
} // namespace

void InitModulePathsFromExecutable()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    const std::string path = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("./kd7x-update");
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    SetModulePaths(NarrowToWide(dir), NarrowToWide(name));
}

bool ReadSettingRaw(const char* key, std::string& value) { return ReadSectionRaw(kSection, key, value); }

bool ReadSettingUtf8(const char* key, std::string& value, bool& cut)
{
    constexpr std::size_t kLongest = 1023;
    if (!ReadSettingRaw(key, value))
        return false;
    cut = value.size() > kLongest;
    if (cut)
        value.resize(kLongest);
    return true;
}

bool ReadSectionRaw(const char* section, const char* key, std::string& value)
{
    std::string text, why;
    return LoadText(WideToNarrow(GetIniPath()), text, why) == Load::Ok && FindIniValue(text, section, key, value);
}

int ReadSettingFileInt(const char* key, int defaultValue)
{
    std::string value;
    if (!ReadSettingRaw(key, value) || value.empty())
        return defaultValue;
    std::size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-')
        negative = value[i++] == '-';
    long long result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    {
        result = result * 10 + (value[i] - '0');
        if (result > static_cast<long long>(INT_MAX) + 1)
            result = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        result = -result;
    if (result > INT_MAX)
        result = INT_MAX;
    return static_cast<int>(result);
}

std::string SettingsFileUnreadable()
{
    std::string text, why;
    return LoadText(WideToNarrow(GetIniPath()), text, why) == Load::Unreadable ? why : std::string();
}

std::string WriteSettingString(const char* key, const std::string& value)
{
    return WriteSectionString(kSection, key, value);
}

std::string WriteSectionString(const char* section, const char* key, const std::string& value)
{
    const std::string path = WideToNarrow(GetIniPath());
    std::string text, why;
    if (value.find_first_of("\r\n") != std::string::npos)
        return path + ": the value of " + key + " holds a line break";
    // A file that exists but cannot be read is never overwritten: its other lines would be lost.
    if (LoadText(path, text, why) == Load::Unreadable)
        return path + ": " + why;
    if (!StoreText(path, SetIniValue(text, section, key, value), why))
        return path + ": " + why;
    return {};
}
