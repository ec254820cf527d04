// Reading a found FAT file's data back, cluster by cluster, from the geometry its record holds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "engines/fat/fat_table.h"
#include "engines/found_record.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// Clusters larger than this are not copied (status 29).
inline constexpr int64_t kMaxCopyClusterBytes = 0x6400000;

struct FatFileLayout {
    uint32_t bytesPerSector = 512;
    // The FAT12/16 root folder area, in sectors (0 on FAT32): cluster 0 stands for it.
    uint32_t rootDirSectors = 0;
    // Clusters above this lie past the volume.
    uint32_t maxCluster = 0;
    // The volume's FAT where it survives; without it a file's clusters follow each other.
    FatTable* table = nullptr;
};

// The cluster after n of a found file. Without the FAT: n + 1. With it, a cluster in use links
// on by its entry (a live file, or a file inside a deleted folder); a free cluster, a deleted
// file's, continues in the next free cluster: the file was written into the clusters free at
// the time, around those in use, and those in use now still were. Nothing at the chain's end.
std::optional<uint32_t> NextFileCluster(const FatFileLayout& layout, uint32_t n);

// Delivers up to `maxBytes` (at most the record's size) of the file's data to `sink` in pieces
// of at most 64 KiB, starting at the record's first cluster (key) and following
// the chain. Cluster n lies at partition start (offset 78) + data area start (offset 62) +
// (n − 2) × cluster bytes (offset 26) ÷ bytes per sector; NextFileCluster gives the clusters
// after the first. Returns kOk when all was delivered;
// the sink's non-zero answer; 29 for a cluster over 100 MiB; 30 for a read that returns
// nothing; and 38 (end of file) when the chain ends before the bytes asked for, after
// delivering what the chain holds.
Status ReadFatFileData(const SectorSource& source, const FatFileLayout& layout,
                       const FoundRecord& record, uint64_t maxBytes,
                       const std::function<Status(std::span<const std::byte>)>& sink);

}  // namespace keltra
