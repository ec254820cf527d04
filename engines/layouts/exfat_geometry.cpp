#include "engines/layouts/exfat_geometry.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace keltra {

bool HasExFatSignature(std::span<const std::byte> b) {
    if (b.size() < 512 || !BytesEqual(b, 3, kExFatSignature)) return false;
    for (size_t i = 11; i < 64; ++i) {
        if (Byte(b, i) != 0) return false;
    }
    return Byte(b, 510) == 0x55 && Byte(b, 511) == 0xAA;
}

std::optional<ExFatGeometry> ReadExFatGeometry(std::span<const std::byte> b) {
    if (!HasExFatSignature(b)) return std::nullopt;
    const uint8_t sectorShift = Byte(b, 108);
    const uint8_t clusterShift = Byte(b, 109);
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) {
        return std::nullopt;
    }
    ExFatGeometry g;
    g.bytesPerSector = 1u << sectorShift;
    g.sectorsPerCluster = 1u << clusterShift;
    g.volumeSectors = Le64(b, 72);
    g.fatOffset = Le32(b, 80);
    g.fatSectors = Le32(b, 84);
    g.clusterHeapOffset = Le32(b, 88);
    g.clusterCount = Le32(b, 92);
    g.rootCluster = Le32(b, 96);
    g.serialNumber = Le32(b, 100);
    g.volumeFlags = Le16(b, 106);
    g.fatCount = Byte(b, 110);
    if (g.fatCount < 1 || g.fatCount > 2 || g.fatSectors == 0 || g.clusterCount == 0) {
        return std::nullopt;
    }
    if (g.fatOffset < 24 ||
        uint64_t{g.clusterHeapOffset} <
            uint64_t{g.fatOffset} + uint64_t{g.fatSectors} * g.fatCount ||
        g.volumeSectors <= g.clusterHeapOffset) {
        return std::nullopt;
    }
    // Clusters the FAT has entries for, and clusters the volume has room for.
    const uint64_t fatEntries = uint64_t{g.fatSectors} * g.bytesPerSector / 4;
    const uint64_t fitting = (g.volumeSectors - g.clusterHeapOffset) / g.sectorsPerCluster;
    const uint64_t limit =
        std::min({fatEntries > 2 ? fatEntries - 2 : 0, fitting, uint64_t{0xFFFFFFF5}});
    if (limit == 0) return std::nullopt;
    g.clusterCount = static_cast<uint32_t>(std::min<uint64_t>(g.clusterCount, limit));
    if (!g.IsDataCluster(g.rootCluster)) return std::nullopt;
    return g;
}

uint32_t ExFatBootChecksum(std::span<const std::byte> region, uint32_t bytesPerSector) {
    const size_t bytes = std::min<size_t>(region.size(), size_t{bytesPerSector} * 11);
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) != 0 ? 0x80000000u : 0u) + (sum >> 1) + Byte(region, i);
    }
    return sum;
}

bool ExFatBootChecksumMatches(std::span<const std::byte> region, uint32_t bytesPerSector) {
    if (bytesPerSector == 0 || region.size() < size_t{bytesPerSector} * kExFatBootRegionSectors) {
        return false;
    }
    const uint32_t sum = ExFatBootChecksum(region, bytesPerSector);
    const size_t at = size_t{bytesPerSector} * 11;
    for (size_t i = 0; i < bytesPerSector; i += 4) {
        if (Le32(region, at + i) != sum) return false;
    }
    return true;
}

}  // namespace keltra
