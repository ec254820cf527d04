#include "engines/found_tree_walk.h"

#include <optional>
#include <unordered_set>
#include <vector>

namespace keltra {

namespace {

struct PendingFolder {
    FoundRecord record;
    std::string folderPath;
    int depth = 0;
};

}  // namespace

bool WalkFoundTree(FoundFiles& engine, const std::string& rootPath,
                   const std::function<bool(const WalkedItem&)>& visit,
                   const std::function<void(const std::string& path, Status status)>& onError) {
    // Folders already listed, by origin and record index: a deep scan's engines each number
    // their own records from 1.
    std::unordered_set<uint64_t> entered;
    // Folders still to list; none stands for the root.
    std::vector<std::optional<PendingFolder>> pending;
    pending.emplace_back(std::nullopt);
    std::vector<FoundRecord> children;
    while (!pending.empty()) {
        std::optional<PendingFolder> folder = std::move(pending.back());
        pending.pop_back();
        children.clear();
        Status status = kOk;
        std::string childPath = rootPath;
        int childDepth = 1;
        if (folder) {
            const uint64_t identity =
                (uint64_t{folder->record.origin} << 32) | folder->record.recordIndex;
            if (!entered.insert(identity).second) continue;
            if (!visit({folder->record, folder->folderPath, folder->depth})) return false;
            status = engine.ListFolder(&folder->record, folder->depth, children);
            childPath = folder->folderPath + std::string(folder->record.Name()) + "/";
            childDepth = folder->depth + 1;
        } else {
            status = engine.ListFolder(nullptr, 0, children);
        }
        if (status != kOk) {
            onError(folder ? childPath.substr(0, childPath.size() - 1) : std::string("/"), status);
        }
        std::vector<PendingFolder> folders;
        for (const FoundRecord& child : children) {
            if (child.isFolder != 0) {
                folders.push_back({child, childPath, childDepth});
            } else if (!visit({child, childPath, childDepth})) {
                return false;
            }
        }
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) pending.emplace_back(*it);
    }
    return true;
}

}  // namespace keltra
