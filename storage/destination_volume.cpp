#include "storage/destination_volume.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <system_error>

#include "platform/disk_names.h"

namespace keltra {

namespace fs = std::filesystem;

namespace {

// Stacking is never deep; the limit only guards against a malformed sysfs.
constexpr int kMaxStackDepth = 8;

bool DeviceOnDiskArea(const fs::path& sysDevice, int diskNumber, uint64_t startSector,
                      uint64_t sectorCount, int level) {
    if (level > kMaxStackDepth) return false;
    std::error_code ec;
    const fs::path real = fs::canonical(sysDevice, ec);
    if (ec) return false;
    bool stacked = false;
    for (const auto& slave : fs::directory_iterator(real / "slaves", ec)) {
        stacked = true;
        if (DeviceOnDiskArea(slave.path(), diskNumber, startSector, sectorCount, level + 1)) {
            return true;
        }
    }
    if (stacked) return false;
    const std::string device = "/dev/" + real.filename().string();
    if (const auto place = PartitionOfDevice(device)) {
        return place->diskNumber == diskNumber && place->startSector < startSector + sectorCount &&
               startSector < place->startSector + place->sectorCount;
    }
    const auto disk = DiskNumberOfDevice(device);
    return disk && *disk == diskNumber;
}

}  // namespace

bool PathOnDiskArea(const std::string& path, int diskNumber, uint64_t startSector,
                    uint64_t sectorCount) {
    std::error_code ec;
    fs::path existing = fs::absolute(path, ec);
    if (ec) return false;
    struct stat st {};
    while (::stat(existing.c_str(), &st) != 0) {
        if (!existing.has_relative_path()) return false;
        existing = existing.parent_path();
    }
    const fs::path sysDevice = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                               std::to_string(minor(st.st_dev));
    return DeviceOnDiskArea(sysDevice, diskNumber, startSector, sectorCount, 0);
}

}  // namespace keltra
