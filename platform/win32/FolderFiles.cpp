#include "platform/FolderFiles.h"

#include <windows.h>

// The listing's own FILETIMEs: the standard library's file times lose everything below a second
// here, and two images written apart within a second must not tie.
bool ListFolderFiles(const std::filesystem::path& folder, std::vector<FolderFile>& files)
{
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do
    {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        FolderFile file;
        file.path = folder / data.cFileName;
        file.size = (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        file.writeTime =
            static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                      data.ftLastWriteTime.dwLowDateTime);
        files.push_back(std::move(file));
    } while (FindNextFileW(find, &data));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}
