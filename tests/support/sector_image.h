// A disk image in memory for the carving tests: zero sectors with files written at sector
// boundaries, read through a sector source that may fail from a given byte on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/sector_source.h"
#include "support/test_support.h"

namespace keltra::test {

class SectorImage {
  public:
    static constexpr size_t kSector = 512;

    explicit SectorImage(size_t sectors) : bytes_(sectors * kSector) {}
    void Put(size_t sector, std::span<const std::byte> data) {
        const size_t at = sector * kSector;
        if (bytes_.size() < at + data.size())
            bytes_.resize((at + data.size() + kSector - 1) / kSector * kSector);
        std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(at));
    }
    std::span<const std::byte> Sector(uint64_t s) const {
        return std::span(bytes_).subspan(static_cast<size_t>(s) * kSector, kSector);
    }
    size_t SectorCount() const { return bytes_.size() / kSector; }
    std::span<std::byte> Bytes() { return bytes_; }
    SectorSource Source(uint64_t faultFrom = UINT64_MAX) const {
        SectorSource source;
        OpenReaderSource(source, std::make_unique<MemoryReader>(bytes_, faultFrom), SectorCount());
        return source;
    }

  private:
    std::vector<std::byte> bytes_;
};

}  // namespace keltra::test
