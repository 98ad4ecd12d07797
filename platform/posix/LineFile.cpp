#include "platform/LineFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace
{
std::string Why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The size the file has without a torn last line: just after its last line end.
off_t WholeLinesEnd(int fd, off_t size)
{
    char chunk[4096];
    for (off_t end = size; end > 0;)
    {
        const off_t start = end > static_cast<off_t>(sizeof chunk) ? end - static_cast<off_t>(sizeof chunk) : 0;
        const ssize_t got = pread(fd, chunk, static_cast<std::size_t>(end - start), start);
        if (got <= 0)
            return size;
        for (ssize_t i = got; i > 0; --i)
        {
            if (chunk[i - 1] == '\n')
                return start + i;
        }
        end = start;
    }
    return 0;
}

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

CLineFile::~CLineFile()
{
    if (m_file != -1)
        ::close(static_cast<int>(m_file));
}

bool CLineFile::Open(const std::string& path, std::string& error, std::size_t& cut)
{
    cut = 0;
    const bool existed = access(path.c_str(), F_OK) == 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        error = Why(("cannot open " + path).c_str());
        return false;
    }
    struct stat st
    {
    };
    if (fstat(fd, &st) == 0 && st.st_size > 0)
    {
        const off_t whole = WholeLinesEnd(fd, st.st_size);
        if (whole < st.st_size)
        {
            if (ftruncate(fd, whole) != 0)
            {
                error = Why(("cannot cut the torn last line of " + path).c_str());
                ::close(fd);
                return false;
            }
            cut = static_cast<std::size_t>(st.st_size - whole);
            fsync(fd);
        }
    }
    if (!existed)
        SyncFolder(path);
    m_file = fd;
    return true;
}

bool CLineFile::Append(const std::string& line, std::string& error)
{
    const int fd = static_cast<int>(m_file);
    if (fd < 0)
    {
        error = "the file is not open";
        return false;
    }
    ssize_t written = 0;
    do
        written = ::write(fd, line.data(), line.size());
    while (written < 0 && errno == EINTR);
    if (written < 0)
    {
        error = Why("write");
        return false;
    }
    if (static_cast<std::size_t>(written) != line.size())
    {
        // A full disk took part of it: take the part back so no torn line stays.
        struct stat st
        {
        };
        error = "write: the disk took only part of the line";
        if (fstat(fd, &st) != 0 || ftruncate(fd, st.st_size - written) != 0)
            error += ", and it could not be taken back";
        return false;
    }
    if (fsync(fd) != 0)
    {
        error = Why("fsync");
        return false;
    }
    return true;
}
