// Which clusters of an exFAT volume are in use (its allocation bitmap), how they link (its
// FAT), and the rule that gives the cluster after a cluster of a found file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engines/layouts/exfat_geometry.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

class ExFatClusterMap {
  public:
    static constexpr size_t kFatWindowBytes = 4 * 1024 * 1024;

    // Binds the map to the volume at `volumeStart` (absolute sector) on `source`; the source
    // must outlive the map. No bitmap yet: every cluster counts as free.
    void Bind(const SectorSource& source, uint64_t volumeStart, const ExFatGeometry& geometry);

    // The active FAT's entry of cluster n (read through a window of the FAT). 87 for a cluster
    // outside the heap, the read error when the FAT cannot be read there.
    Status FatEntry(uint32_t n, uint32_t& value);
    // The FAT link after n: nothing at the end of the chain, on a free, bad or looping entry or
    // one that leaves the heap.
    std::optional<uint32_t> FatNext(uint32_t n);

    // Sets the bitmap from its stored bytes (bit n − 2 for cluster n); bits the bytes do not
    // reach count as free.
    void SetBitmap(std::vector<uint8_t> bytes);
    bool HasBitmap() const { return hasBitmap_; }
    bool IsAllocated(uint32_t n) const;
    // The first free cluster after n; nothing when none is left.
    std::optional<uint32_t> NextFree(uint32_t n) const;

    // The cluster after n of a file whose data is chained: a cluster in use links on by its FAT
    // entry (a live file); a free one, a deleted file's, continues in the next free cluster: the
    // file was written into the clusters free at the time, around those in use, and those in
    // use now still were. Without a bitmap the FAT decides: a link is followed, a free entry
    // goes on in n + 1, an end-of-chain mark ends the chain.
    std::optional<uint32_t> NextChainedCluster(uint32_t n);

    // The next unallocated run at or after `position` (sectors from the volume start; positions
    // before the cluster heap stand for its start). Sectors after the last cluster count as
    // free, and without a bitmap everything is. At or past `volumeSectors`, or when nothing is
    // free any more: position = volumeSectors, length = 0.
    void NextFreeRange(uint64_t& position, uint64_t& length, uint64_t volumeSectors) const;

  private:
    uint64_t NextBit(uint64_t from, bool set) const;

    const SectorSource* source_ = nullptr;
    ExFatGeometry geometry_;
    uint64_t fatStart_ = 0;  // absolute sector of the active FAT
    std::vector<std::byte> window_;
    uint64_t windowFirstSector_ = 0;  // sectors from the FAT start
    uint64_t windowBytes_ = 0;
    std::vector<uint8_t> bitmap_;
    bool hasBitmap_ = false;
};

}  // namespace keltra
