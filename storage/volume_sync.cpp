#include "storage/volume_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/disk_names.h"
#include "platform/mounts.h"

namespace keltra {

namespace fs = std::filesystem;

namespace {

void SyncFileSystemOf(const std::string& device) {
    const auto mountPoint = MountPointOfDevice(device);
    if (!mountPoint) return;
    const int fd = ::open(mountPoint->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}


}  // namespace

void SyncMountedVolumes(int diskNumber, uint64_t firstSector, uint64_t sectorCount) {
    const auto disks = ListWholeDisks();
    if (diskNumber < 0 || static_cast<size_t>(diskNumber) >= disks.size()) return;
    const WholeDisk& disk = disks[static_cast<size_t>(diskNumber)];
    SyncFileSystemOf(disk.devicePath);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path("/sys/block") / disk.name, ec)) {
        if (!fs::exists(entry.path() / "partition", ec)) continue;
        const std::string node = "/dev/" + entry.path().filename().string();
        const auto place = PartitionOfDevice(node);
        if (place && place->startSector < firstSector + sectorCount &&
            firstSector < place->startSector + place->sectorCount) {
            SyncFileSystemOf(node);
        }
    }
}

}  // namespace keltra
