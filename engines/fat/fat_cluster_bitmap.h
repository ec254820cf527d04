// Which data clusters of a FAT volume are in use, and the free runs between them.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/fat/fat_geometry.h"
#include "engines/fat/fat_table.h"

namespace keltra {

class FatClusterBitmap {
  public:
    // One bit per data cluster (cluster n at bit n − 2), set when the FAT entry of n is not free
    // or when another entry links to n. Unreadable entries stay clear.
    void Load(FatTable& table, const FatGeometry& geometry);
    bool IsLoaded() const { return loaded_; }
    bool IsAllocated(uint32_t cluster) const;

    // The next unallocated run of the volume at or after `position` (sectors from the volume
    // start; positions before the data area stand for its start). Sectors after the last whole
    // cluster count as unallocated. Without a bitmap everything is. At or past `volumeSectors`,
    // or when nothing is free any more: position = volumeSectors, length = 0.
    void NextFreeRange(uint64_t& position, uint64_t& length, uint64_t volumeSectors) const;

  private:
    // Index of the first clear bit at or after `from`; bits_ when none.
    uint64_t NextClear(uint64_t from) const;
    uint64_t NextSet(uint64_t from) const;

    FatGeometry geometry_;
    std::vector<uint8_t> bytes_;
    uint64_t bits_ = 0;
    bool loaded_ = false;
};

}  // namespace keltra
