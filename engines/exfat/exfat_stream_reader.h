// Reading the data of an exFAT stream (a file's or a folder's) back, cluster by cluster.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engines/exfat/exfat_cluster_map.h"
#include "engines/exfat/exfat_entry_set.h"
#include "engines/layouts/exfat_geometry.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// Where reads go: the volume's source, its first sector on it, its size and its layout.
struct ExFatVolume {
    const SectorSource* source = nullptr;
    uint64_t start = 0;    // absolute sector of the boot sector
    uint64_t sectors = 0;  // sectors of the partition (reads never go past its end)
    ExFatGeometry geometry;

    uint64_t ClusterSector(uint32_t n) const { return start + geometry.ClusterSector(n); }
    uint64_t End() const { return start + sectors; }
};

// Delivers the first min(stream length, maxBytes, the cluster heap's size) bytes of the stream to
// `sink` in pieces of at most 64 KiB. A NoFatChain stream's clusters follow one another; a chained
// one's follow ExFatClusterMap::NextChainedCluster. Bytes from the valid length on are zeros and
// are not read. Returns kOk when all was delivered; the sink's non-zero answer; 30 for a read that
// returns nothing; and 38 (end of file) when the clusters end (the chain ends or comes back to a
// cluster it passed, the heap ends) before the bytes asked for, after delivering what they hold.
// `clusters`, when given, receives each cluster read from, in order; `unreadSectors`, when given,
// is raised by the sectors of a piece the disk failed to give (the reading stops there).
Status ReadExFatStream(const ExFatVolume& volume, ExFatClusterMap& map, const ExFatStream& stream,
                       uint64_t maxBytes,
                       const std::function<Status(std::span<const std::byte>)>& sink,
                       std::vector<uint32_t>* clusters = nullptr,
                       uint64_t* unreadSectors = nullptr);

}  // namespace keltra
