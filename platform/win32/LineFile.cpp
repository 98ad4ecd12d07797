#include "platform/LineFile.h"

#include "platform/Text.h"

#include <windows.h>

namespace
{
std::string Why(const std::string& what) { return what + " (system error " + std::to_string(GetLastError()) + ")"; }
} // namespace

bool CLineFile::OpenFile(const std::wstring& path, std::string& error)
{
    // Append access alone: every write goes to the end in one piece.
    HANDLE file = CreateFileW(path.c_str(), FILE_GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        error = Why("cannot open " + WideToUtf8(path));
        return false;
    }
    // One station per record, as another's radios under way would look interrupted to it: a lock
    // on a byte far past any record's end, so readers and the cut of a torn line go on.
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = 0x40000000;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lockAt))
    {
        error = GetLastError() == ERROR_LOCK_VIOLATION ? WideToUtf8(path) + " is in use by another station"
                                                       : Why("cannot lock " + WideToUtf8(path));
        CloseHandle(file);
        return false;
    }
    m_file = reinterpret_cast<std::intptr_t>(file);
    return true;
}

std::int64_t CLineFile::Size() const
{
    LARGE_INTEGER size{};
    return GetFileSizeEx(reinterpret_cast<HANDLE>(m_file), &size) ? size.QuadPart : -1;
}

std::int64_t CLineFile::ReadAt(std::int64_t at, char* buffer, std::size_t size) const
{
    HANDLE file = reinterpret_cast<HANDLE>(m_file);
    LARGE_INTEGER where{};
    where.QuadPart = at;
    DWORD got = 0;
    if (!SetFilePointerEx(file, where, nullptr, FILE_BEGIN) ||
        !ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr))
        return -1;
    return got;
}

bool CLineFile::Truncate(std::int64_t size, std::string& error)
{
    // Cutting needs write access, which the appending handle does not have.
    HANDLE file = ReOpenFile(reinterpret_cast<HANDLE>(m_file), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    LARGE_INTEGER where{};
    where.QuadPart = size;
    const bool ok = file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, where, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(file) && FlushFileBuffers(file);
    if (!ok)
        error = Why("SetEndOfFile");
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

bool CLineFile::Write(const std::string& bytes, std::size_t& written, std::string& error)
{
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(m_file), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr))
    {
        error = Why("write");
        return false;
    }
    written = done;
    return true;
}

bool CLineFile::Sync(std::string& error)
{
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(m_file)))
    {
        error = Why("FlushFileBuffers");
        return false;
    }
    return true;
}

void CLineFile::Close()
{
    if (m_file != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_file));
    m_file = -1;
}
