// The first 16 KiB of a volume: reading them, their classification, and the boot-sector fields
// the engines use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

inline constexpr size_t kBootAreaBytes = 16384;

enum class SourceClass { Unrecognised, Ntfs, Fat32, Fat12or16, Ext, ExFat };

// The first test that passes wins: NTFS, exFAT (its boot sector describes a volume, see
// ReadExFatGeometry), FAT (FAT32 and FAT12/16 tried in the order the cluster count suggests),
// Ext; else unrecognised. `bootArea` must hold 16,384 bytes.
SourceClass ClassifyBootArea(std::span<const std::byte> bootArea);

// For a boot area whose first sector describes no file system: the backup boot sector that
// FAT32 (its sector 6) or exFAT (its sector 12, with the backup region's checksum intact) keeps
// inside the area, for volumes of 512-byte sectors, is copied over the first sector and its
// sector number given back. Nothing (the area untouched) when the first sector is sound or no
// backup is.
std::optional<uint32_t> RestoreBackupBootSector(std::span<std::byte> bootArea);

inline bool IsFat(SourceClass c) {
    return c == SourceClass::Fat32 || c == SourceClass::Fat12or16;
}
// "NTFS", "FAT32", "FAT12/16", "Ext", "exFAT", "unrecognised"
std::string SourceClassName(SourceClass c);

struct NtfsBootFields {
    uint16_t bytesPerSector;
    int8_t sectorsPerClusterRaw;  // signed, as the quick NTFS engine reads it
    uint64_t totalSectors;
    uint64_t mftCluster;
    uint64_t mftMirrorCluster;
    int8_t clustersPerRecordRaw;  // negative: record size is 2^-value bytes
    int8_t clustersPerIndexRaw;
    uint64_t serialNumber;
};
NtfsBootFields ReadNtfsBootFields(std::span<const std::byte> bootSector);

struct FatBootFields {
    uint16_t bytesPerSector;
    uint8_t sectorsPerCluster;
    uint16_t reservedSectors;
    uint8_t fatCount;
    uint16_t rootEntries;
    uint32_t totalSectors;    // the 32-bit field, else the 16-bit one
    uint32_t fatSectors;      // the 16-bit field, else the FAT32 32-bit one
    uint32_t rootCluster;     // FAT32 only (0 otherwise)
    uint32_t rootDirSectors;  // rootEntries × 32 rounded up to whole sectors
    uint64_t clusterCount;    // data sectors ÷ sectors per cluster (0 on nonsense geometry)
    std::string label;        // volume label of the extended boot record, trailing blanks cut
};
FatBootFields ReadFatBootFields(std::span<const std::byte> bootSector, bool fat32);

// Reads the boot area of a partition of an open disk (`sectorSize` = the disk's logical sector
// size) or of an image (`sectorSize` = 512, start 0). 87 or 30 when it cannot be read whole.
// When its first sector describes no file system, a sound backup boot sector stands in for it:
// FAT32's or exFAT's inside the area (see RestoreBackupBootSector), or NTFS's in the last of the
// volume's `sectorCount` sectors when the count is given. `backupSector`, when given, receives
// the backup's sector number from the start, or 0 when the first sector was used.
Status ReadBootArea(const SectorSource& source, uint64_t startSector, uint32_t sectorSize,
                    std::span<std::byte, kBootAreaBytes> out, uint64_t sectorCount = 0,
                    uint64_t* backupSector = nullptr);

}  // namespace keltra
