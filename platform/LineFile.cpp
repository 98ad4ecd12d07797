#include "platform/LineFile.h"

#include "platform/Text.h"

namespace
{
constexpr std::int64_t kChunk = 4096;
} // namespace

bool CLineFile::Open(const std::wstring& path, std::string& error, std::size_t& cut, std::size_t& ended,
                     const std::function<bool(const std::string&)>& isWhole)
{
    cut = ended = 0;
    if (!OpenFile(path, error))
        return false;
    // The file ends just after its last line end; anything behind it, however long, is a line a
    // crash or a power cut tore.
    const std::int64_t size = Size();
    std::int64_t whole = 0;
    char chunk[kChunk];
    for (std::int64_t end = size; end > 0 && whole == 0;)
    {
        const std::int64_t start = end > kChunk ? end - kChunk : 0;
        const std::int64_t got = ReadAt(start, chunk, static_cast<std::size_t>(end - start));
        if (got <= 0)
        {
            whole = size; // unreadable: left as it is
            break;
        }
        for (std::int64_t i = got; i > 0 && whole == 0; --i)
        {
            if (chunk[i - 1] == '\n')
                whole = start + i;
        }
        end = start;
    }
    // A line that lacks only its end (written by hand, or torn just before it) keeps what it says.
    constexpr std::int64_t kLongestWhole = 1 << 20;
    if (whole < size && size - whole <= kLongestWhole && isWhole)
    {
        std::string tail(static_cast<std::size_t>(size - whole), '\0');
        std::size_t written = 0;
        if (ReadAt(whole, tail.data(), tail.size()) == static_cast<std::int64_t>(tail.size()) && isWhole(tail) &&
            Write("\n", written, error) && Sync(error))
        {
            ended = tail.size();
            return true;
        }
    }
    if (whole < size)
    {
        if (!Truncate(whole, error))
        {
            error = "cannot cut the torn last line of " + WideToUtf8(path) + ": " + error;
            Close();
            return false;
        }
        cut = static_cast<std::size_t>(size - whole);
    }
    return true;
}

bool CLineFile::Append(const std::string& line, std::string& error)
{
    if (m_file == -1)
    {
        error = "the file is not open";
        return false;
    }
    const std::int64_t before = Size();
    std::size_t written = 0;
    if (!Write(line, written, error))
    {
        // A write that failed part-way leaves no fragment for the next line to be glued to.
        std::string why;
        if (before >= 0 && Size() != before)
            Truncate(before, why);
        return false;
    }
    if (written != line.size())
    {
        // A full disk took part of it: take the part back so no torn line stays.
        error = "the disk took only part of the line";
        std::string why;
        if (before < 0 || !Truncate(before, why))
            error += ", and it could not be taken back";
        return false;
    }
    return Sync(error);
}
