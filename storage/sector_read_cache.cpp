#include "storage/sector_read_cache.h"

#include <algorithm>
#include <cstring>

namespace keltra {

SectorReadCache::SectorReadCache(const SectorSource& source, uint32_t sectorSize)
    : source_(source),
      sectorSize_(sectorSize),
      windowSectors_(sectorSize == 0 ? 0 : std::max<uint64_t>(1, kWindowBytes / sectorSize)) {}

SectorReadCache::Window* SectorReadCache::Find(uint64_t lba, uint32_t count) {
    for (Window& w : windows_) {
        if (lba >= w.first && lba - w.first < w.sectors && count <= w.sectors - (lba - w.first)) {
            return &w;
        }
    }
    return nullptr;
}

SectorReadCache::Window& SectorReadCache::Victim() {
    if (windows_.size() < kWindows) return windows_.emplace_back();
    return *std::min_element(
        windows_.begin(), windows_.end(),
        [](const Window& a, const Window& b) { return a.lastUse < b.lastUse; });
}

Status SectorReadCache::Read(uint64_t lba, uint32_t count, std::span<std::byte> buffer,
                             uint32_t& sectorsRead) {
    const uint64_t bytes = uint64_t{count} * sectorSize_;
    if (count == 0 || sectorSize_ == 0 || count > windowSectors_ || buffer.size() < bytes ||
        lba > source_.totalSectors || count > source_.totalSectors - lba) {
        ++sourceReads_;
        return ReadSectors(source_, count, buffer, lba, static_cast<int>(sectorSize_), sectorsRead);
    }
    if (Window* w = Find(lba, count)) {
        std::memcpy(buffer.data(), w->bytes.data() + (lba - w->first) * sectorSize_, bytes);
        w->lastUse = ++clock_;
        sectorsRead = count;
        return kOk;
    }
    // A miss at most a window beyond what the previous miss read: the reads are walking
    // forward, read ahead.
    const bool forward = lastMissEnd_ != 0 && lba >= lastMissStart_ &&
                         lba - lastMissStart_ <= lastMissEnd_ - lastMissStart_ + windowSectors_;
    const uint64_t wanted = forward ? std::min(windowSectors_, source_.totalSectors - lba) : count;
    lastMissStart_ = lba;
    lastMissEnd_ = lba + wanted;
    Window& w = Victim();
    w.bytes.resize(wanted * sectorSize_);
    uint32_t got = 0;
    ++sourceReads_;
    IgnoreStatus(ReadSectors(source_, static_cast<uint32_t>(wanted), w.bytes, lba,
                             static_cast<int>(sectorSize_), got, kLargeReadPieceBytes),
                 "a short read shows in got");
    if (got < count) {
        // What the window could not give is asked for as the caller asked; a window cut short
        // by a fault past the request still holds good sectors.
        w.sectors = 0;
        w.lastUse = 0;
        ++sourceReads_;
        return ReadSectors(source_, count, buffer, lba, static_cast<int>(sectorSize_), sectorsRead);
    }
    w.first = lba;
    w.sectors = got;
    w.lastUse = ++clock_;
    std::memcpy(buffer.data(), w.bytes.data(), bytes);
    sectorsRead = count;
    return kOk;
}

}  // namespace keltra
