#include "app/ImageSearch.h"

bool CImageCandidates::Scan(const std::filesystem::path& folder)
{
    if (!m_byTime.empty())
        return true;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return false;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec))
    {
        if (ec)
            return false;
        const auto& entry = *it;
        std::error_code entryError;
        if (entry.is_directory(entryError) || entryError)
            continue;
        if (entry.path().extension().native() != std::filesystem::path(".bin").native())
            continue;
        const auto size = entry.file_size(entryError);
        if (entryError)
            continue;
        const auto time = entry.last_write_time(entryError);
        if (entryError)
            continue;
        const auto ticks = static_cast<std::int64_t>(time.time_since_epoch().count());
        m_byTime.emplace_hint(m_byTime.upper_bound(ticks), ticks, Entry{entry.path(), size});
    }
    return !ec;
}

std::filesystem::path CImageCandidates::Find(std::uintmax_t lower, std::uintmax_t upper) const
{
    // Newest time first; within one time, the file met first.
    for (auto group = m_byTime.rbegin(); group != m_byTime.rend();)
    {
        const auto [first, last] = m_byTime.equal_range(group->first);
        for (auto it = first; it != last; ++it)
        {
            if (it->second.size > lower && it->second.size < upper)
                return it->second.path;
        }
        group = std::make_reverse_iterator(first);
    }
    return {};
}
