#include "engines/fat/fat_geometry.h"

#include <algorithm>
#include <bit>

#include "engines/layouts/boot_area.h"
#include "platform/little_endian.h"

namespace keltra {

uint64_t FatGeometry::ClusterSector(uint32_t n) const {
    if (n < 2) return RootAreaStart();
    return dataAreaStart + uint64_t{n - 2} * sectorsPerCluster;
}

uint32_t FatGeometry::MaxFolderClusters() const {
    constexpr uint32_t kMaxFolderBytes = 65536 * 32;
    return std::max<uint32_t>(1, kMaxFolderBytes / ClusterBytes());
}

std::optional<FatGeometry> ReadFatGeometry(std::span<const std::byte> boot) {
    if (boot.size() < 512) return std::nullopt;
    const bool fat32 = BytesEqual(boot, 82, kFat32TypeText);
    const FatBootFields f = ReadFatBootFields(boot, fat32);
    if (f.bytesPerSector < 512 || f.bytesPerSector > 4096 ||
        !std::has_single_bit(f.bytesPerSector)) {
        return std::nullopt;
    }
    if (f.sectorsPerCluster == 0 || !std::has_single_bit(f.sectorsPerCluster)) return std::nullopt;
    if (f.fatCount == 0 || f.fatSectors == 0) return std::nullopt;

    FatGeometry g;
    g.bytesPerSector = f.bytesPerSector;
    g.sectorsPerCluster = f.sectorsPerCluster;
    g.reservedSectors = f.reservedSectors;
    g.fatCount = f.fatCount;
    g.fatSectors = f.fatSectors;
    g.totalSectors = f.totalSectors;
    const uint64_t fatArea = uint64_t{f.fatCount} * f.fatSectors;
    if (fat32) {
        g.kind = FatKind::Fat32;
        g.rootCluster = f.rootCluster;
        g.dataAreaStart = f.reservedSectors + fatArea;
    } else {
        g.rootDirSectors = f.rootDirSectors;
        g.dataAreaStart = f.reservedSectors + fatArea + f.rootDirSectors;
    }
    if (g.totalSectors <= g.dataAreaStart) return std::nullopt;
    // Clusters are limited by the data area and by the entries one FAT can hold.
    const uint64_t byArea = (g.totalSectors - g.dataAreaStart) / g.sectorsPerCluster;
    const uint64_t fatBits = fat32 ? 32 : (byArea < 4085 ? 12 : 16);
    const uint64_t byFat = uint64_t{f.fatSectors} * f.bytesPerSector * 8 / fatBits;
    const uint64_t clusters = std::min<uint64_t>(byArea, byFat >= 2 ? byFat - 2 : 0);
    g.clusterCount = static_cast<uint32_t>(std::min<uint64_t>(clusters, 0x0FFFFFF5));
    if (!fat32) g.kind = byArea < 4085 ? FatKind::Fat12 : FatKind::Fat16;
    return g;
}

}  // namespace keltra
