// A sector source over bytes in memory, for the fuzz targets.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "storage/sector_source.h"

namespace keltra::fuzz {

class MemoryBytes : public SectorReader {
  public:
    explicit MemoryBytes(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= bytes_.size()) return kOk;
        done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return kOk;
    }

  private:
    std::vector<std::byte> bytes_;
};

// The bytes padded with zeros to whole sectors (at least one) behind a source.
inline SectorSource MemorySource(const uint8_t* data, size_t size, uint32_t sectorSize,
                                 std::vector<std::byte>& copy) {
    const size_t sectors = std::max<size_t>(1, (size + sectorSize - 1) / sectorSize);
    copy.assign(sectors * sectorSize, std::byte{0});
    if (size != 0) std::memcpy(copy.data(), data, size);
    SectorSource source;
    OpenReaderSource(source, std::make_unique<MemoryBytes>(copy), sectors);
    return source;
}

}  // namespace keltra::fuzz
