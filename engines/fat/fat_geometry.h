// Where the parts of a FAT volume lie: the geometry read from its boot sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace keltra {

enum class FatKind { Fat12, Fat16, Fat32 };

struct FatGeometry {
    FatKind kind = FatKind::Fat16;
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t reservedSectors = 0;
    uint32_t fatCount = 0;
    uint32_t fatSectors = 0;      // sectors of one FAT
    uint32_t rootDirSectors = 0;  // FAT12/16 root folder area: entries × 32 in whole sectors
    uint64_t totalSectors = 0;    // of the volume, from the boot sector
    uint64_t dataAreaStart = 0;   // sectors from the volume start to cluster 2
    uint32_t rootCluster = 0;     // FAT32: from the boot sector; FAT12/16: 0 (the root area)
    uint32_t clusterCount = 0;    // data clusters: clusters 2 … clusterCount + 1 exist

    uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    // Sectors from the volume start to the first FAT.
    uint64_t FatStart() const { return reservedSectors; }
    // Sectors from the volume start to the FAT12/16 root folder area.
    uint64_t RootAreaStart() const { return dataAreaStart - rootDirSectors; }
    // Highest cluster number that lies in the data area.
    uint32_t MaxCluster() const { return clusterCount + 1; }
    bool IsDataCluster(uint32_t n) const { return n >= 2 && n <= MaxCluster(); }
    // Sectors from the volume start to the first sector of cluster n ≥ 2; cluster 0 stands for
    // the FAT12/16 root area (callers never give 0 or 1 on FAT32).
    uint64_t ClusterSector(uint32_t n) const;
    // Bytes a folder cluster may follow in its chain before the folder is known to loop: a FAT
    // folder holds at most 65,536 entries.
    uint32_t MaxFolderClusters() const;
};

inline constexpr size_t kFatBootAreaBytes = 4096;
// The 8 bytes at offset 82 that make a boot sector FAT32.
inline constexpr char kFat32TypeText[] = "FAT32   ";

// The geometry of the boot sector in `boot` (at least 512 bytes). The volume is FAT32 when the
// type text at offset 82 says so; otherwise FAT12 when it has fewer than 4,085 clusters, else
// FAT16. Nothing when the sector cannot describe a volume (sector size not 512-4096, cluster size
// not a power of two, no FAT, no data area).
std::optional<FatGeometry> ReadFatGeometry(std::span<const std::byte> boot);

}  // namespace keltra
