#include "storage/image_destination.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "platform/disk_names.h"

namespace keltra {

namespace fs = std::filesystem;

bool ImageLandsOnSource(const std::string& imagePath, int diskNumber, uint64_t firstSector,
                        uint64_t sectorCount) {
    std::error_code ec;
    fs::path where = fs::absolute(imagePath, ec);
    if (ec) return false;
    struct stat st {};
    while (::stat(where.c_str(), &st) != 0) {
        if (!where.has_relative_path()) return false;
        where = where.parent_path();
    }
    // The block device behind the file system, through /sys/dev/block/MAJOR:MINOR.
    const fs::path link = fs::path("/sys/dev/block") / (std::to_string(major(st.st_dev)) + ":" +
                                                        std::to_string(minor(st.st_dev)));
    const fs::path real = fs::canonical(link, ec);
    if (ec) return false;
    const std::string node = "/dev/" + real.filename().string();
    if (const auto part = PartitionOfDevice(node)) {
        return part->diskNumber == diskNumber && part->startSector < firstSector + sectorCount &&
               firstSector < part->startSector + part->sectorCount;
    }
    const auto disk = DiskNumberOfDevice(node);
    return disk && *disk == diskNumber;
}

}  // namespace keltra
