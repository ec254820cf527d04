// The disk and partition list: one entry per volume, per unallocated stretch of a disk, and per
// disk that holds no volume at all, grouped by disk number and ordered by start.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace keltra {

// Kinds of entries: the partition type byte of a volume, overridden by its file system.
inline constexpr uint8_t kKindNone = 0;  // an unallocated stretch or a whole disk
inline constexpr uint8_t kKindFat = 6;
inline constexpr uint8_t kKindNtfs = 7;
inline constexpr uint8_t kKindFat32 = 11;

struct VolumeEntry {
    // Linux volumes have no drive letters: every entry holds its running number (1, 2, ...),
    // counted over all entries in disk order.
    uint16_t letter = 0;
    uint8_t kind = kKindNone;
    int32_t diskNumber = -1;
    int32_t partitionNumber = -1;  // -1 when there is none; 0 for a file system on a whole disk
    uint64_t totalBytes = 0;
    uint64_t usedBytes = 0;
    uint64_t freeBytes = 0;
    uint64_t start = 0;          // in sectors of the disk
    uint64_t length = 0;         // in sectors of the disk
    std::string fileSystemName;  // "NTFS", "FAT32", "FAT", "exFAT", "ext4", ...; empty if none
    // The partition's device node ("/dev/sdb1"); the disk's own node for a whole-disk entry or a
    // file system on the whole disk; empty for an unallocated stretch or a partition the kernel
    // made no node for.
    std::string volumePath;
    std::string volumeLabel;
    std::string mountPoint;  // where it is mounted; empty when it is not
};

// Disk number → that disk's entries, ordered by start.
using DiskMap = std::map<int, std::vector<VolumeEntry>>;

}  // namespace keltra
