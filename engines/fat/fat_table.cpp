#include "engines/fat/fat_table.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace keltra {

Status FatTable::Load(const SectorSource& source, uint64_t volumeStart,
                      const FatGeometry& geometry) {
    source_ = &source;
    geometry_ = geometry;
    fatStart_ = volumeStart + geometry.FatStart();
    const uint64_t fatBytes = uint64_t{geometry.fatSectors} * geometry.bytesPerSector;
    window_.assign(static_cast<size_t>(std::min<uint64_t>(kFatWindowBytes, fatBytes)),
                   std::byte{0});
    windowFirstSector_ = 0;
    windowBytes_ = 0;
    return MoveWindow(0, 1);
}

Status FatTable::MoveWindow(uint64_t bytePosition, size_t width) {
    const uint32_t bps = geometry_.bytesPerSector;
    const uint64_t first = bytePosition / bps;
    const uint64_t sectorsLeft = geometry_.fatSectors - first;
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(window_.size() / bps, sectorsLeft));
    uint32_t read = 0;
    windowBytes_ = 0;
    const Status s = ReadSectors(*source_, count, window_, fatStart_ + first, static_cast<int>(bps),
                                 read, window_.size());
    if (read == 0) return s != kOk ? s : kErrReadFault;
    windowFirstSector_ = first;
    windowBytes_ = uint64_t{read} * bps;
    const uint64_t offset = bytePosition - first * bps;
    return offset + width <= windowBytes_ ? kOk : kErrReadFault;
}

Status FatTable::Entry(uint32_t n, uint32_t& value) {
    if (source_ == nullptr) return kErrInvalidParameter;
    uint64_t position = 0;
    size_t width = 2;
    switch (geometry_.kind) {
        case FatKind::Fat12:
            position = uint64_t{n} + n / 2;
            break;
        case FatKind::Fat16:
            position = uint64_t{n} * 2;
            break;
        case FatKind::Fat32:
            position = uint64_t{n} * 4;
            width = 4;
            break;
    }
    if (position + width > uint64_t{geometry_.fatSectors} * geometry_.bytesPerSector) {
        return kErrInvalidParameter;
    }
    const uint64_t windowStart = windowFirstSector_ * geometry_.bytesPerSector;
    if (position < windowStart || position + width > windowStart + windowBytes_) {
        const Status s = MoveWindow(position, width);
        if (s != kOk) return s;
    }
    const size_t at = static_cast<size_t>(position - windowFirstSector_ * geometry_.bytesPerSector);
    switch (geometry_.kind) {
        case FatKind::Fat12: {
            const uint16_t pair = Le16(window_, at);
            value = (n & 1) != 0 ? pair >> 4 : pair & 0x0FFF;
            break;
        }
        case FatKind::Fat16:
            value = Le16(window_, at);
            break;
        case FatKind::Fat32:
            value = Le32(window_, at);
            break;
    }
    return kOk;
}

bool FatTable::IsEndOfChain(uint32_t value) const {
    switch (geometry_.kind) {
        case FatKind::Fat12:
            return value >= 0x0FF8;
        case FatKind::Fat16:
            return value >= 0xFFF8;
        case FatKind::Fat32:
            return (value & 0x0FFFFFFF) >= 0x0FFFFFF8;
    }
    return true;
}

std::optional<uint32_t> FatTable::Next(uint32_t n) {
    uint32_t v = 0;
    if (Entry(n, v) != kOk) return std::nullopt;
    if (v != 0) {
        if (IsEndOfChain(v)) return std::nullopt;
        if (geometry_.kind == FatKind::Fat32) v &= 0x0FFFFFFF;
        if (v == n || !geometry_.IsDataCluster(v)) return std::nullopt;
        return v;
    }
    const uint32_t following = n + 1;
    if (!geometry_.IsDataCluster(following)) return std::nullopt;
    uint32_t after = 0;
    if (Entry(following, after) != kOk || after != 0) return std::nullopt;
    return following;
}

std::optional<uint32_t> FatTable::NextFree(uint32_t n) {
    for (uint32_t m = n + 1; m > n && geometry_.IsDataCluster(m); ++m) {
        uint32_t v = 0;
        if (Entry(m, v) != kOk) return std::nullopt;
        if ((geometry_.kind == FatKind::Fat32 ? v & 0x0FFFFFFF : v) == 0) return m;
    }
    return std::nullopt;
}

}  // namespace keltra
