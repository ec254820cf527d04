// Small reads of a scan that tend to come in ascending order (the first sector of each deleted
// file, in the order the scan meets the files): a miss that lies a little ahead of the previous
// miss reads a whole window of sectors, so that the next requests are answered from memory,
// while reads far apart stay as small as asked. A few windows are kept, so that requests that
// come back to the same sectors (the same clusters tried for many files) are answered from
// memory too. The bytes given are always those ReadSectors gives for the same request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

class SectorReadCache {
  public:
    static constexpr size_t kWindowBytes = 256 * 1024;
    static constexpr size_t kWindows = 8;

    // The source must outlive the cache; its contents must not change meanwhile (sources are
    // read-only).
    SectorReadCache(const SectorSource& source, uint32_t sectorSize);

    // As ReadSectors(source, count, buffer, lba, sectorSize, sectorsRead). A request the window
    // read could not cover is read again as asked, so errors come out as ReadSectors reports
    // them.
    Status Read(uint64_t lba, uint32_t count, std::span<std::byte> buffer, uint32_t& sectorsRead);

    // Read calls made on the source so far (for the benchmarks and tests).
    uint64_t SourceReads() const { return sourceReads_; }

  private:
    struct Window {
        uint64_t first = 0;
        uint64_t sectors = 0;
        uint64_t lastUse = 0;
        std::vector<std::byte> bytes;
    };
    Window* Find(uint64_t lba, uint32_t count);
    Window& Victim();

    const SectorSource& source_;
    uint32_t sectorSize_;
    uint64_t windowSectors_;
    std::vector<Window> windows_;
    uint64_t clock_ = 0;
    uint64_t lastMissStart_ = 0;  // the sectors the previous miss read; none while the end is 0
    uint64_t lastMissEnd_ = 0;
    uint64_t sourceReads_ = 0;
};

}  // namespace keltra
