#include "app/ImageSearch.h"

#include "platform/FolderFiles.h"

bool CImageCandidates::Scan(const std::filesystem::path& folder)
{
    if (!m_byTime.empty())
        return true;
    std::vector<FolderFile> files;
    const bool listed = ListFolderFiles(folder, files);
    for (const auto& file : files)
    {
        if (file.path.extension().native() != std::filesystem::path(".bin").native())
            continue;
        m_byTime.emplace_hint(m_byTime.upper_bound(file.writeTime), file.writeTime, Entry{file.path, file.size});
    }
    return listed;
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
