// Finding the firmware images beside the executable by their size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// ".bin" files of one folder by last-write time. Files of equal time are all kept, the first met
// ahead, so two images copied in the same tick (a FAT stick has 2-second times) are both found.
class CImageCandidates
{
public:
    // Scans once: only while the list is empty. False when the folder could not be listed; the
    // entries read before a failure are kept.
    bool Scan(const std::filesystem::path& folder);
    // The newest candidate whose size is strictly between the bounds, or an empty path.
    std::filesystem::path Find(std::uintmax_t lower, std::uintmax_t upper) const;
    bool Empty() const { return m_byTime.empty(); }

private:
    struct Entry
    {
        std::filesystem::path path;
        std::uintmax_t size;
    };
    std::multimap<std::int64_t, Entry> m_byTime;
};
