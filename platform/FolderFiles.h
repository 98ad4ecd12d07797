// The files of one folder with their size and last-write time, for the image search.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct FolderFile
{
    std::filesystem::path path;
    std::uintmax_t size = 0;
    std::int64_t writeTime = 0; // the platform's finest unit: 100 ns on Windows (a FILETIME)
};

// Not recursive, folders left out. False when the folder cannot be listed; what was read before
// a failure is kept.
bool ListFolderFiles(const std::filesystem::path& folder, std::vector<FolderFile>& files);
