#include "engines/exfat/exfat_cluster_map.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace keltra {

namespace {
constexpr uint32_t kFirstSpecialValue = 0xFFFFFFF7;  // bad cluster and end-of-chain values
}

void ExFatClusterMap::Bind(const SectorSource& source, uint64_t volumeStart,
                           const ExFatGeometry& geometry) {
    source_ = &source;
    geometry_ = geometry;
    fatStart_ = volumeStart + geometry.ActiveFatStart();
    window_.clear();
    windowFirstSector_ = 0;
    windowBytes_ = 0;
    bitmap_.clear();
    hasBitmap_ = false;
}

Status ExFatClusterMap::FatEntry(uint32_t n, uint32_t& value) {
    if (source_ == nullptr || !geometry_.IsDataCluster(n)) return kErrInvalidParameter;
    const uint32_t bps = geometry_.bytesPerSector;
    const uint64_t position = uint64_t{n} * 4;
    const uint64_t windowStart = windowFirstSector_ * bps;
    if (position < windowStart || position + 4 > windowStart + windowBytes_) {
        const uint64_t fatBytes = uint64_t{geometry_.fatSectors} * bps;
        if (window_.empty()) {
            window_.resize(static_cast<size_t>(std::min<uint64_t>(kFatWindowBytes, fatBytes)));
        }
        const uint64_t first = position / bps;
        const uint32_t count = static_cast<uint32_t>(
            std::min<uint64_t>(window_.size() / bps, geometry_.fatSectors - first));
        uint32_t read = 0;
        windowBytes_ = 0;
        const Status s = ReadSectors(*source_, count, window_, fatStart_ + first,
                                     static_cast<int>(bps), read, kLargeReadPieceBytes);
        if (read == 0) return s != kOk ? s : kErrReadFault;
        windowFirstSector_ = first;
        windowBytes_ = uint64_t{read} * bps;
        if (position + 4 > first * bps + windowBytes_) return kErrReadFault;
    }
    value = Le32(window_, static_cast<size_t>(position - windowFirstSector_ * bps));
    return kOk;
}

std::optional<uint32_t> ExFatClusterMap::FatNext(uint32_t n) {
    uint32_t v = 0;
    if (FatEntry(n, v) != kOk || v >= kFirstSpecialValue || v == n || !geometry_.IsDataCluster(v)) {
        return std::nullopt;
    }
    return v;
}

void ExFatClusterMap::SetBitmap(std::vector<uint8_t> bytes) {
    bytes.resize((uint64_t{geometry_.clusterCount} + 7) / 8, 0);
    bitmap_ = std::move(bytes);
    hasBitmap_ = true;
}

bool ExFatClusterMap::IsAllocated(uint32_t n) const {
    if (!hasBitmap_ || !geometry_.IsDataCluster(n)) return false;
    const uint64_t bit = n - 2;
    return (bitmap_[bit / 8] >> (bit % 8) & 1) != 0;
}

uint64_t ExFatClusterMap::NextBit(uint64_t from, bool set) const {
    const uint64_t bits = geometry_.clusterCount;
    const uint8_t skip = set ? 0x00 : 0xFF;
    uint64_t bit = from;
    while (bit < bits) {
        const uint8_t byte = bitmap_[bit / 8];
        if (bit % 8 == 0 && byte == skip) {
            bit += 8;
            continue;
        }
        if (((byte >> (bit % 8) & 1) != 0) == set) return bit;
        ++bit;
    }
    return bits;
}

std::optional<uint32_t> ExFatClusterMap::NextFree(uint32_t n) const {
    if (!geometry_.IsDataCluster(n)) return std::nullopt;
    const uint64_t bit = NextBit(uint64_t{n} - 1, false);
    if (bit >= geometry_.clusterCount) return std::nullopt;
    return static_cast<uint32_t>(bit + 2);
}

std::optional<uint32_t> ExFatClusterMap::NextChainedCluster(uint32_t n) {
    if (!hasBitmap_) {
        // A free entry is a deleted file's: its clusters are taken to follow one another.
        uint32_t v = 0;
        if (FatEntry(n, v) != kOk) return std::nullopt;
        if (v != 0) return FatNext(n);
        return n < geometry_.MaxCluster() ? std::optional<uint32_t>(n + 1) : std::nullopt;
    }
    return IsAllocated(n) ? FatNext(n) : NextFree(n);
}

void ExFatClusterMap::NextFreeRange(uint64_t& position, uint64_t& length,
                                    uint64_t volumeSectors) const {
    length = 0;
    if (position >= volumeSectors) {
        position = volumeSectors;
        return;
    }
    const uint64_t heap = geometry_.clusterHeapOffset;
    const uint64_t spc = geometry_.sectorsPerCluster;
    const uint64_t from = std::max(position, heap);
    if (!hasBitmap_) {
        position = std::min(from, volumeSectors);
        length = volumeSectors - position;
        if (length == 0) position = volumeSectors;
        return;
    }
    const uint64_t bits = geometry_.clusterCount;
    const uint64_t free = NextBit((from - heap) / spc, false);
    const uint64_t used = NextBit(free, true);
    const uint64_t start = std::max(from, heap + free * spc);
    const uint64_t end = used == bits ? volumeSectors : std::min(volumeSectors, heap + used * spc);
    if (start >= end) {
        position = volumeSectors;
        return;
    }
    position = start;
    length = end - start;
}

}  // namespace keltra
