// The first file allocation table of a volume, read through a window of at most 16 MiB, and the
// rule that gives the cluster after a cluster.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engines/fat/fat_geometry.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

inline constexpr size_t kFatWindowBytes = 0x1000000;

class FatTable {
  public:
    // Binds the table to the volume at `volumeStart` (absolute sector) on `source` and fills the
    // window from the start of the first FAT. The source must outlive the table.
    Status Load(const SectorSource& source, uint64_t volumeStart, const FatGeometry& geometry);
    bool IsLoaded() const { return source_ != nullptr; }

    // The stored entry of cluster n: 12, 16 or 32 bits by the FAT kind. 87 when the entry lies
    // past the end of the FAT; the read error when the window cannot be moved to it.
    Status Entry(uint32_t n, uint32_t& value);
    // An entry value that ends a chain (end-of-chain marks), for the table's FAT kind.
    bool IsEndOfChain(uint32_t value) const;
    // The cluster after n, or nothing when the chain ends there. A stored link is followed when
    // it names another data cluster; a free entry (a deleted file) is taken to continue into
    // n + 1 while that cluster is free too.
    std::optional<uint32_t> Next(uint32_t n);
    // The first free cluster after n, clusters in use skipped; nothing when none is left or
    // the FAT cannot be read there.
    std::optional<uint32_t> NextFree(uint32_t n);

  private:
    Status MoveWindow(uint64_t bytePosition, size_t width);

    const SectorSource* source_ = nullptr;
    FatGeometry geometry_;
    uint64_t fatStart_ = 0;  // absolute sector of the first FAT
    std::vector<std::byte> window_;
    uint64_t windowFirstSector_ = 0;  // sectors from the FAT start
    uint64_t windowBytes_ = 0;        // valid bytes in the window
};

}  // namespace keltra
