// Where an exFAT volume's cluster heap lies when its boot region is gone: exFAT folders hold no
// link to themselves, but their parents name each folder's first cluster, and the folder's
// entries were found at some sector. A cluster size and a heap start that put many named first
// clusters exactly where folder data begins are the volume's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace keltra {

struct ExFatHeap {
    uint32_t sectorsPerCluster = 0;
    uint64_t heapStart = 0;  // absolute sector of cluster 2
    uint32_t folders = 0;    // named first clusters this heap puts where folder data begins

    uint64_t ClusterSector(uint32_t cluster) const {
        return heapStart + uint64_t{cluster - 2} * sectorsPerCluster;
    }
    // The cluster that holds `sector`, or 0 before the heap (or beyond 32-bit clusters).
    uint32_t ClusterAt(uint64_t sector) const;
    bool operator==(const ExFatHeap& o) const {
        return sectorsPerCluster == o.sectorsPerCluster && heapStart == o.heapStart;
    }
};

// What the inference weighs at most: first clusters and folder-start sectors beyond these are
// not taken into account (the heaps found from the first ones still place all of them).
inline constexpr size_t kMaxInferenceClusters = 512;
inline constexpr size_t kMaxInferenceStarts = 2048;
// Heaps reported at most.
inline constexpr size_t kMaxInferredHeaps = 8;

// The heaps that `firstClusters` (first clusters named by folder entries, ≥ 2) and
// `folderStarts` (absolute sectors where a set begins at the sector's start, sorted) imply:
// sectors per cluster a power of two from 1 to `maxSectorsPerCluster`, cluster 2 at or after
// `earliestHeap`. A heap is kept when it puts at least two of the first clusters, none of them
// put by a heap kept before it, on a folder start; the best explaining heap comes first.
std::vector<ExFatHeap> InferExFatHeaps(std::span<const uint32_t> firstClusters,
                                       std::span<const uint64_t> folderStarts,
                                       uint64_t earliestHeap, uint32_t maxSectorsPerCluster);

// How many of `firstClusters` the heap puts on one of `folderStarts` (sorted).
uint32_t CountPlacedFolders(const ExFatHeap& heap, std::span<const uint32_t> firstClusters,
                            std::span<const uint64_t> folderStarts);

}  // namespace keltra
