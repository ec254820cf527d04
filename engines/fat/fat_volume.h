// Where a FAT walk reads and how it files what it finds, shared by the folder walks and the
// guess of a cleared high cluster word.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "engines/fat/fat_geometry.h"
#include "storage/sector_source.h"

namespace keltra {

// The parent key under which a record is filed: the parent folder's first cluster in the low
// half, that folder's depth (root 0) in the high half.
inline uint64_t FolderKey(uint32_t cluster, uint32_t depth) {
    return (uint64_t{depth} << 32) | cluster;
}

// Where the walk reads: the volume's source, its first sector on it, its size and its layout.
struct FatVolume {
    const SectorSource* source = nullptr;
    uint64_t start = 0;    // absolute sector of the volume's boot sector
    uint64_t sectors = 0;  // sectors of the partition (reads never go past its end)
    FatGeometry geometry;

    // Absolute sector of cluster n (0: the FAT12/16 root area).
    uint64_t ClusterSector(uint32_t n) const { return start + geometry.ClusterSector(n); }
    uint64_t End() const { return start + sectors; }
};

// Whether the first bytes of a found file match what its extension promises (true for
// extensions no recogniser knows). `sector` is the absolute sector the bytes were read from.
using FatContentCheck = std::function<bool(std::span<const std::byte> firstBytes,
                                           std::string_view extension, uint64_t sector)>;

}  // namespace keltra
