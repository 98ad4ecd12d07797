#include "platform/LineFile.h"

#include "platform/Text.h"

#include <windows.h>

#include <vector>

namespace
{
std::string Why(const std::string& what) { return what + " (system error " + std::to_string(GetLastError()) + ")"; }

HANDLE Handle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// The size the file has without a torn last line: just after its last line end.
LONGLONG WholeLinesEnd(HANDLE file, LONGLONG size)
{
    char chunk[4096];
    for (LONGLONG end = size; end > 0;)
    {
        const LONGLONG start =
            end > static_cast<LONGLONG>(sizeof chunk) ? end - static_cast<LONGLONG>(sizeof chunk) : 0;
        LARGE_INTEGER at{};
        at.QuadPart = start;
        DWORD got = 0;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
            !ReadFile(file, chunk, static_cast<DWORD>(end - start), &got, nullptr) || got == 0)
            return size;
        for (DWORD i = got; i > 0; --i)
        {
            if (chunk[i - 1] == '\n')
                return start + i;
        }
        end = start;
    }
    return 0;
}
} // namespace

CLineFile::~CLineFile()
{
    if (m_file != -1)
        CloseHandle(Handle(m_file));
}

bool CLineFile::Open(const std::string& path, std::string& error, std::size_t& cut)
{
    cut = 0;
    HANDLE file = CreateFileW(NarrowToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        error = Why("cannot open " + path);
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0)
    {
        const LONGLONG whole = WholeLinesEnd(file, size.QuadPart);
        if (whole < size.QuadPart)
        {
            LARGE_INTEGER at{};
            at.QuadPart = whole;
            if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
            {
                error = Why("cannot cut the torn last line of " + path);
                CloseHandle(file);
                return false;
            }
            cut = static_cast<std::size_t>(size.QuadPart - whole);
            FlushFileBuffers(file);
        }
    }
    m_file = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool CLineFile::Append(const std::string& line, std::string& error)
{
    HANDLE file = Handle(m_file);
    if (m_file == -1)
    {
        error = "the file is not open";
        return false;
    }
    LARGE_INTEGER end{};
    LARGE_INTEGER zero{};
    DWORD written = 0;
    if (!SetFilePointerEx(file, zero, &end, FILE_END) ||
        !WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
    {
        error = Why("write");
        return false;
    }
    if (written != line.size())
    {
        // A full disk took part of it: take the part back so no torn line stays.
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        error = "write: the disk took only part of the line";
        return false;
    }
    if (!FlushFileBuffers(file))
    {
        error = Why("FlushFileBuffers");
        return false;
    }
    return true;
}
