// Whether a destination folder lies on the disk area being recovered from. Writing recovered
// files there can overwrite the very clusters that still hold deleted data.
#pragma once

#include <cstdint>
#include <string>

namespace keltra {

// True when the file system holding `path` (or, for a path not made yet, the nearest folder
// above it that exists) lives on a block device that overlaps sectors
// [startSector, startSector + sectorCount) of disk `diskNumber`. Devices stacked on others
// (device mapper, RAID) are followed down to the disks under them. File systems without a
// block device (tmpfs, network shares) never match.
bool PathOnDiskArea(const std::string& path, int diskNumber, uint64_t startSector,
                    uint64_t sectorCount);

}  // namespace keltra
