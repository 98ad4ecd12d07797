#include "platform/LineFile.h"

#include "platform/Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace
{
std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

// A new file's name is on disk only once its folder is.
void SyncFolder(const std::string& path)
{
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    const int folder = ::open(dirname(copy.data()), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0)
    {
        fsync(folder);
        ::close(folder);
    }
}
} // namespace

bool CLineFile::OpenFile(const std::wstring& wide, std::string& error)
{
    const std::string path = WideToNarrow(wide);
    const bool existed = access(path.c_str(), F_OK) == 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        error = Why("cannot open " + path);
        return false;
    }
    // One station per record: another's radios under way would look interrupted to it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        error = errno == EWOULDBLOCK ? path + " is in use by another station" : Why("cannot lock " + path);
        ::close(fd);
        return false;
    }
    if (!existed)
        SyncFolder(path);
    m_file = fd;
    return true;
}

std::int64_t CLineFile::Size() const
{
    struct stat st
    {
    };
    return fstat(static_cast<int>(m_file), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t CLineFile::ReadAt(std::int64_t at, char* buffer, std::size_t size) const
{
    return pread(static_cast<int>(m_file), buffer, size, static_cast<off_t>(at));
}

bool CLineFile::Truncate(std::int64_t size, std::string& error)
{
    if (ftruncate(static_cast<int>(m_file), static_cast<off_t>(size)) != 0)
    {
        error = Why("ftruncate");
        return false;
    }
    return Sync(error);
}

bool CLineFile::Write(const std::string& bytes, std::size_t& written, std::string& error)
{
    ssize_t n = 0;
    do
        n = ::write(static_cast<int>(m_file), bytes.data(), bytes.size());
    while (n < 0 && errno == EINTR);
    if (n < 0)
    {
        error = Why("write");
        return false;
    }
    written = static_cast<std::size_t>(n);
    return true;
}

bool CLineFile::Sync(std::string& error)
{
    if (fsync(static_cast<int>(m_file)) != 0)
    {
        error = Why("fsync");
        return false;
    }
    return true;
}

void CLineFile::Close()
{
    if (m_file != -1)
        ::close(static_cast<int>(m_file));
    m_file = -1;
}
