#include "engines/fat/fat_cluster_bitmap.h"

#include <algorithm>

namespace keltra {

void FatClusterBitmap::Load(FatTable& table, const FatGeometry& geometry) {
    geometry_ = geometry;
    bits_ = geometry.clusterCount;
    bytes_.assign(static_cast<size_t>((bits_ + 7) / 8), 0);
    auto mark = [&](uint32_t n) {
        const uint64_t bit = n - 2;
        bytes_[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    };
    for (uint32_t n = 2; n <= geometry.MaxCluster(); ++n) {
        uint32_t v = 0;
        if (table.Entry(n, v) != kOk || v == 0) continue;
        mark(n);
        if (table.IsEndOfChain(v)) continue;
        if (geometry.kind == FatKind::Fat32) v &= 0x0FFFFFFF;
        if (geometry.IsDataCluster(v)) mark(v);
    }
    loaded_ = true;
}

bool FatClusterBitmap::IsAllocated(uint32_t cluster) const {
    if (!loaded_ || !geometry_.IsDataCluster(cluster)) return false;
    const uint64_t bit = cluster - 2;
    return (bytes_[bit / 8] >> (bit % 8) & 1) != 0;
}

uint64_t FatClusterBitmap::NextClear(uint64_t from) const {
    uint64_t bit = from;
    while (bit < bits_) {
        const uint8_t byte = bytes_[bit / 8];
        if (bit % 8 == 0 && byte == 0xFF) {
            bit += 8;
            continue;
        }
        if ((byte >> (bit % 8) & 1) == 0) return bit;
        ++bit;
    }
    return bits_;
}

uint64_t FatClusterBitmap::NextSet(uint64_t from) const {
    uint64_t bit = from;
    while (bit < bits_) {
        const uint8_t byte = bytes_[bit / 8];
        if (bit % 8 == 0 && byte == 0) {
            bit += 8;
            continue;
        }
        if ((byte >> (bit % 8) & 1) != 0) return bit;
        ++bit;
    }
    return bits_;
}

void FatClusterBitmap::NextFreeRange(uint64_t& position, uint64_t& length,
                                     uint64_t volumeSectors) const {
    length = 0;
    if (position >= volumeSectors) {
        position = volumeSectors;
        return;
    }
    const uint64_t dataStart = geometry_.dataAreaStart;
    const uint64_t spc = geometry_.sectorsPerCluster;
    const uint64_t from = std::max(position, dataStart);
    if (!loaded_) {
        position = from;
        length = volumeSectors > from ? volumeSectors - from : 0;
        if (length == 0) position = volumeSectors;
        return;
    }
    const uint64_t free = NextClear((from - dataStart) / spc);
    const uint64_t used = NextSet(free);
    const uint64_t start = std::max(from, dataStart + free * spc);
    const uint64_t end =
        used == bits_ ? volumeSectors : std::min(volumeSectors, dataStart + used * spc);
    if (start >= end) {
        position = volumeSectors;
        return;
    }
    position = start;
    length = end - start;
}

}  // namespace keltra
