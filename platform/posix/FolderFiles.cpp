#include "platform/FolderFiles.h"

bool ListFolderFiles(const std::filesystem::path& folder, std::vector<FolderFile>& files)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return false;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec))
    {
        if (ec)
            return false;
        std::error_code entryError;
        if (it->is_directory(entryError) || entryError)
            continue;
        const auto size = it->file_size(entryError);
        const auto time = it->last_write_time(entryError);
        if (entryError)
            continue;
        files.push_back({it->path(), size, static_cast<std::int64_t>(time.time_since_epoch().count())});
    }
    return !ec;
}
