#include "engines/exfat/exfat_tree_rebuild.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

namespace keltra {

namespace {

struct ClusterView {
    bool rootStart = false;  // its first sector holds a root folder's system entries
    bool runsFull = false;   // its last sector is directory data with no end entry
};

}  // namespace

ExFatTreeRebuild::ExFatTreeRebuild(std::span<const ExFatHeap> heaps,
                                   std::span<const ExFatDirSighting> dirs,
                                   std::span<const ExFatFoundSet> sets, uint32_t sectorBytes)
    : heaps_(heaps), dirs_(dirs), sets_(sets), sectorBytes_(sectorBytes) {}

std::map<uint32_t, uint32_t> ExFatTreeRebuild::Owners(size_t h) const {
    const ExFatHeap& heap = heaps_[h];
    std::map<uint32_t, ClusterView> clusters;
    for (const ExFatDirSighting& d : dirs_) {
        const uint32_t k = heap.ClusterAt(d.sector);
        if (k < 2) continue;
        ClusterView& view = clusters[k];
        const uint64_t first = heap.ClusterSector(k);
        if (d.sector == first && d.rootEntries) view.rootStart = true;
        if (d.sector == first + heap.sectorsPerCluster - 1 && !d.endOfDirectory)
            view.runsFull = true;
    }
    std::map<uint32_t, uint32_t> owners;
    for (const auto& [k, view] : clusters) {
        if (view.rootStart) owners[k] = kRootOwner;
    }
    const uint64_t clusterBytes = uint64_t{heap.sectorsPerCluster} * sectorBytes_;
    // First clusters named by folder entries own themselves; a folder whose data is one run
    // owns the clusters after its first as far as its length reaches.
    std::vector<const ExFatEntrySet*> folders;
    for (const ExFatFoundSet& f : sets_) {
        if (!f.set.IsFolder()) continue;
        const uint32_t c = f.set.stream.firstCluster;
        if (clusters.count(c) == 0 || owners.count(c) != 0) continue;
        owners[c] = c;
        folders.push_back(&f.set);
    }
    for (const ExFatEntrySet* folder : folders) {
        if (!folder->stream.noFatChain) continue;
        const uint32_t c = folder->stream.firstCluster;
        const uint64_t span = (folder->stream.length + clusterBytes - 1) / clusterBytes;
        for (uint64_t j = 1; j < span && c + j <= UINT32_MAX; ++j) {
            const auto k = static_cast<uint32_t>(c + j);
            if (clusters.count(k) == 0) continue;
            if (owners.count(k) != 0) break;
            owners[k] = c;
        }
    }
    // The rest: a cluster after one that ran full of entries continues its folder; any other
    // starts a folder of its own, which no entry names.
    uint32_t previous = 0;
    for (const auto& [k, view] : clusters) {
        if (owners.count(k) == 0) {
            const auto before = clusters.find(k - 1);
            const bool continues = previous == k - 1 && before != clusters.end() &&
                                   before->second.runsFull && owners.count(k - 1) != 0;
            owners[k] = continues ? owners[k - 1] : k;
        }
        previous = k;
    }
    return owners;
}

size_t ExFatTreeRebuild::HeapOf(const ExFatFoundSet& found) const {
    size_t fallback = SIZE_MAX;
    for (size_t h = 0; h < heaps_.size(); ++h) {
        const uint32_t k = heaps_[h].ClusterAt(found.sector);
        if (k < 2) continue;
        if (fallback == SIZE_MAX) fallback = h;
        const auto it = owners_[h].find(k);
        if (it == owners_[h].end()) continue;
        if (it->second == kRootOwner || named_.count({h, it->second}) != 0) return h;
    }
    return fallback;
}

std::vector<ExFatTreeNode> ExFatTreeRebuild::Build() {
    owners_.clear();
    named_.clear();
    unplaced_ = 0;
    for (size_t h = 0; h < heaps_.size(); ++h) owners_.push_back(Owners(h));
    for (size_t h = 0; h < heaps_.size(); ++h) {
        for (size_t i = 0; i < sets_.size(); ++i) {
            const ExFatEntrySet& set = sets_[i].set;
            if (!set.IsFolder()) continue;
            const uint32_t c = set.stream.firstCluster;
            const auto owner = owners_[h].find(c);
            if (owner == owners_[h].end() || owner->second != c) continue;
            // A folder's live entry wins over a deleted, older one.
            const auto [it, added] = named_.try_emplace({h, c}, i);
            if (!added && sets_[it->second].set.deleted && !set.deleted) it->second = i;
        }
    }

    std::vector<ExFatTreeNode> nodes;
    std::map<std::pair<size_t, uint32_t>, size_t> folderNodes;
    // The owner of the directory cluster that holds `sector` in heap h (kRootOwner when none).
    const auto ownerAt = [this](size_t h, uint64_t sector) {
        const uint32_t k = heaps_[h].ClusterAt(sector);
        const auto it = owners_[h].find(k);
        return it == owners_[h].end() ? kRootOwner : it->second;
    };
    // The node of folder `cluster` of heap h with the folders above it, made as needed; a chain
    // that comes back to a folder on it is cut there, under the root.
    const auto folderNode = [&](size_t h, uint32_t cluster) -> size_t {
        std::vector<uint32_t> chain;
        std::unordered_set<uint32_t> onChain;
        size_t top = SIZE_MAX;
        for (uint32_t c = cluster; c != kRootOwner;) {
            if (const auto known = folderNodes.find({h, c}); known != folderNodes.end()) {
                top = known->second;
                break;
            }
            if (!onChain.insert(c).second) break;
            chain.push_back(c);
            const auto named = named_.find({h, c});
            if (named == named_.end()) break;  // a lost folder sits under the root
            c = ownerAt(h, sets_[named->second].sector);
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            ExFatTreeNode node;
            node.isFolder = true;
            node.heap = h;
            node.cluster = *it;
            node.parent = top;
            node.depth = top == SIZE_MAX ? 1 : nodes[top].depth + 1;
            if (const auto named = named_.find({h, *it}); named != named_.end())
                node.set = named->second;
            nodes.push_back(node);
            top = nodes.size() - 1;
            folderNodes[{h, *it}] = top;
        }
        return top;
    };
    // A rename that changes only a name's case leaves the old set deleted beside the new one.
    using FileKey = std::tuple<size_t, size_t, uint32_t, uint64_t, std::u16string>;
    std::map<FileKey, size_t> fileNodes;
    for (size_t i = 0; i < sets_.size(); ++i) {
        const ExFatFoundSet& found = sets_[i];
        if (found.set.IsFolder()) continue;
        const size_t h = HeapOf(found);
        if (h == SIZE_MAX) {
            ++unplaced_;
            continue;
        }
        const uint32_t owner = ownerAt(h, found.sector);
        const size_t parent = owner == kRootOwner ? SIZE_MAX : folderNode(h, owner);
        const auto [seen, added] =
            fileNodes.try_emplace(FileKey{h, parent, found.set.stream.firstCluster,
                                          found.set.stream.length, upcase_.Folded(found.set.name)},
                                  nodes.size());
        if (!added) {
            ExFatTreeNode& kept = nodes[seen->second];
            if (sets_[kept.set].set.deleted && !found.set.deleted) kept.set = i;
            continue;
        }
        ExFatTreeNode node;
        node.set = i;
        node.heap = h;
        node.cluster = found.set.stream.firstCluster;
        node.parent = parent;
        node.depth = parent == SIZE_MAX ? 1 : nodes[parent].depth + 1;
        nodes.push_back(node);
    }
    return nodes;
}

}  // namespace keltra
