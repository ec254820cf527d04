#include "engines/exfat/exfat_heap_inference.h"

#include <algorithm>
#include <bit>
#include <unordered_map>
#include <unordered_set>

namespace keltra {

uint32_t ExFatHeap::ClusterAt(uint64_t sector) const {
    if (sectorsPerCluster == 0 || sector < heapStart) return 0;
    const uint64_t n = (sector - heapStart) / sectorsPerCluster + 2;
    return n > UINT32_MAX ? 0 : static_cast<uint32_t>(n);
}

uint32_t CountPlacedFolders(const ExFatHeap& heap, std::span<const uint32_t> firstClusters,
                            std::span<const uint64_t> folderStarts) {
    uint32_t placed = 0;
    for (const uint32_t c : firstClusters) {
        if (c < 2) continue;
        placed += std::binary_search(folderStarts.begin(), folderStarts.end(),
                                     heap.ClusterSector(c))
                      ? 1
                      : 0;
    }
    return placed;
}

std::vector<ExFatHeap> InferExFatHeaps(std::span<const uint32_t> firstClusters,
                                       std::span<const uint64_t> folderStarts,
                                       uint64_t earliestHeap, uint32_t maxSectorsPerCluster) {
    std::vector<uint32_t> clusters;
    {
        std::unordered_set<uint32_t> seen;
        for (const uint32_t c : firstClusters) {
            if (clusters.size() >= kMaxInferenceClusters) break;
            if (c >= 2 && seen.insert(c).second) clusters.push_back(c);
        }
    }
    const auto starts = folderStarts.first(std::min(folderStarts.size(), kMaxInferenceStarts));
    // Every pairing of a first cluster with a folder start votes for the heap that would put
    // it there, for each cluster size; the true heap gathers a vote from every folder found.
    struct Key {
        uint64_t heapStart;
        uint32_t shift;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const {
            return std::hash<uint64_t>()(k.heapStart * 31 + k.shift);
        }
    };
    std::unordered_map<Key, uint32_t, KeyHash> votes;
    for (uint32_t shift = 0; (1u << shift) <= maxSectorsPerCluster && shift < 32; ++shift) {
        for (const uint32_t c : clusters) {
            const uint64_t before = uint64_t{c - 2} << shift;
            for (const uint64_t s : starts) {
                if (s < before || s - before < earliestHeap) continue;
                ++votes[Key{s - before, shift}];
            }
        }
    }
    std::vector<std::pair<Key, uint32_t>> ranked;
    for (const auto& [key, count] : votes) {
        if (count >= 2) ranked.emplace_back(key, count);
    }
    // Most votes first; among equals the larger clusters (fewer chances to agree by accident),
    // then the earlier heap.
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        if (a.second != b.second) return a.second > b.second;
        if (a.first.shift != b.first.shift) return a.first.shift > b.first.shift;
        return a.first.heapStart < b.first.heapStart;
    });
    std::vector<ExFatHeap> heaps;
    std::unordered_set<uint32_t> explained;
    // Folder starts a kept heap put a folder on: a heap shifted against it by whole clusters
    // would put other folders on them again, by coincidence.
    std::unordered_set<uint64_t> claimed;
    for (const auto& [key, count] : ranked) {
        if (heaps.size() >= kMaxInferredHeaps) break;
        ExFatHeap heap{1u << key.shift, key.heapStart, 0};
        std::vector<uint32_t> fresh;
        for (const uint32_t c : clusters) {
            if (explained.count(c) != 0 || claimed.count(heap.ClusterSector(c)) != 0) continue;
            if (std::binary_search(starts.begin(), starts.end(), heap.ClusterSector(c)))
                fresh.push_back(c);
        }
        if (fresh.size() < 2) continue;
        heap.folders = static_cast<uint32_t>(fresh.size());
        for (const uint32_t c : fresh) {
            explained.insert(c);
            claimed.insert(heap.ClusterSector(c));
        }
        heaps.push_back(heap);
    }
    return heaps;
}

}  // namespace keltra
