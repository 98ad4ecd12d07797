// A file that only grows by whole lines, such as a record of every radio: each line goes in one
// write and is on disk before Append returns, and a line torn by a crash or a power cut is cut
// away when the file is opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CLineFile
{
public:
    CLineFile() = default;
    ~CLineFile() { Close(); }
    CLineFile(const CLineFile&) = delete;
    CLineFile& operator=(const CLineFile&) = delete;

    // Opens for appending, made when missing (its folder is not), and for this process alone: a
    // second writer is refused. False with a reason. A last line without its line end, of any
    // length, is cut (cut: the bytes removed), unless isWhole says it is a line that lacks only its
    // end (then it gets one; ended: its bytes): the caller makes sure the file is one of its own
    // first. The path is wide, so a folder outside the Windows code page is kept whole.
    bool Open(const std::wstring& path, std::string& error, std::size_t& cut, std::size_t& ended,
              const std::function<bool(const std::string&)>& isWhole = {});
    // One line, its line end included; false with a reason.
    bool Append(const std::string& line, std::string& error);
    bool IsOpen() const { return m_file != -1; }

private:
    // The system's part: a file handle and its calls, each false (or -1) with the reason in error.
    bool OpenFile(const std::wstring& path, std::string& error);
    std::int64_t Size() const;
    std::int64_t ReadAt(std::int64_t at, char* buffer, std::size_t size) const;
    bool Truncate(std::int64_t size, std::string& error);
    // Appends at the end in one write; written is how much of it the disk took.
    bool Write(const std::string& bytes, std::size_t& written, std::string& error);
    bool Sync(std::string& error);
    void Close();

    std::intptr_t m_file = -1;
};
