// A sector source over bytes in memory, for the fuzz targets.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "storage/sector_source.h"

namespace keltra::fuzz {

// Reads from bytes it does not own: they must outlive every source made over them.
class MemoryView : public SectorReader {
  public:
    explicit MemoryView(std::span<const std::byte> bytes) : bytes_(bytes) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= bytes_.size()) return kOk;
        done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return kOk;
    }

  private:
    std::span<const std::byte> bytes_;
};

// A source over whole sectors already in memory.
inline SectorSource ViewSource(std::span<const std::byte> bytes, uint32_t sectorSize) {
    SectorSource source;
    OpenReaderSource(source, std::make_unique<MemoryView>(bytes), bytes.size() / sectorSize);
    return source;
}

// The bytes padded with zeros to whole sectors (at least one) in `copy`, behind a source that
// reads `copy` in place; `copy` must outlive the source.
inline SectorSource MemorySource(const uint8_t* data, size_t size, uint32_t sectorSize,
                                 std::vector<std::byte>& copy) {
    const size_t sectors = std::max<size_t>(1, (size + sectorSize - 1) / sectorSize);
    copy.assign(sectors * sectorSize, std::byte{0});
    if (size != 0) std::memcpy(copy.data(), data, size);
    return ViewSource(copy, sectorSize);
}

}  // namespace keltra::fuzz
