#include "engines/ntfs/ntfs_folder_walk.h"

#include "engines/ntfs/ntfs_geometry.h"

namespace keltra::ntfs {

void FolderWalk::Clear() {
    depth_.clear();
    keys_.clear();
}

uint32_t FolderWalk::DepthOf(uint32_t folder) {
    // The new folders of this walk, in order, and where each stands in it.
    std::vector<uint32_t> path;
    std::unordered_map<uint32_t, size_t> place;
    uint32_t above = 0;            // depth of what the path ends on (root, known folder or nothing)
    size_t cycleStart = SIZE_MAX;  // the path loops back to path[cycleStart]
    uint32_t n = folder;
    while (n != kRootRecord) {
        if (const auto known = depth_.find(n); known != depth_.end()) {
            above = known->second;
            break;
        }
        if (const auto seen = place.find(n); seen != place.end()) {
            cycleStart = seen->second;
            break;
        }
        place.emplace(n, path.size());
        path.push_back(n);
        keys_.push_back(n);
        const auto parent = parentOf_(n);
        if (!parent) break;
        n = *parent;
    }
    // A fresh walk from path[i] visits path[i..k] and then what lies above; inside a loop it
    // visits the loop's folders once each.
    const size_t k = path.size();
    for (size_t i = 0; i < k; ++i) {
        const size_t from = cycleStart != SIZE_MAX && i > cycleStart ? cycleStart : i;
        const uint32_t own = static_cast<uint32_t>(k - from);
        depth_[path[i]] = cycleStart != SIZE_MAX ? own : own + above;
    }
    if (folder == kRootRecord) return 0;
    return depth_.at(folder);
}

}  // namespace keltra::ntfs
