#include "engines/deep/quick_deep_merge.h"

namespace keltra {
namespace {

bool IsDeep(const FoundRecord& record) {
    const auto origin = static_cast<RecordOrigin>(record.origin);
    return origin == RecordOrigin::DeepFat || origin == RecordOrigin::DeepNtfs;
}

// Every record of an engine's tree, depth first, each folder entered once whatever a damaged
// log links. `folderDone` gets a folder once its sub-tree is walked, with whether it holds a
// file `file` kept, and answers whether the folder counts as kept in its parent.
struct TreeWalk {
    FoundFiles& engine;
    std::function<bool(const FoundRecord&)> file;
    std::function<bool(const FoundRecord&, int depth, bool holdsKept)> folderDone;
    std::set<uint32_t> entered;

    bool Visit(const FoundRecord* folder, int depth) {
        std::vector<FoundRecord> children;
        IgnoreStatus(engine.ListFolder(folder, depth, children),
                     "a folder that cannot be listed adds nothing to the merge: its deep copies "
                     "stay listed");
        bool holdsKept = false;
        for (const FoundRecord& child : children) {
            if (child.isFolder == 0) {
                holdsKept = file(child) || holdsKept;
            } else if (entered.insert(child.recordIndex).second) {
                const bool childHolds = Visit(&child, depth + 1);
                holdsKept = folderDone(child, depth + 1, childHolds) || holdsKept;
            }
        }
        return holdsKept;
    }
};

}  // namespace

std::optional<std::pair<int, uint32_t>> QuickDeepMerge::FolderKey(const FoundRecord& record) {
    if (record.isFolder == 0) return std::nullopt;
    switch (static_cast<RecordOrigin>(record.origin)) {
        case RecordOrigin::QuickFat:
        case RecordOrigin::QuickExFat:
        case RecordOrigin::DeepFat:
            return std::pair{0, record.key};
        case RecordOrigin::QuickNtfs:
        case RecordOrigin::DeepNtfs:
            return std::pair{1, record.key};
        case RecordOrigin::DeepExFat:  // numbers its folders itself, not by first cluster
        case RecordOrigin::Carving:
            break;
    }
    return std::nullopt;
}

void QuickDeepMerge::Learn(FoundFiles* quick, std::span<FoundFiles* const> deepSearches,
                           const FirstSectorOf& firstSector) {
    if (learnt_) return;
    learnt_ = true;
    quickFiles_.clear();
    quickFolders_.clear();
    joined_.clear();
    joinedIds_.clear();
    keptIds_.clear();
    repeatedFiles_.clear();
    depthShift_.clear();
    if (quick == nullptr) return;
    TreeWalk quickWalk{*quick,
                       [&](const FoundRecord& file) {
                           if (const std::optional<uint64_t> sector = firstSector(file)) {
                               quickFiles_.insert({*sector, file.size});
                           }
                           return true;
                       },
                       [&](const FoundRecord& folder, int, bool) {
                           if (const auto key = FolderKey(folder))
                               quickFolders_.emplace(*key, folder.recordIndex);
                           return true;
                       },
                       {}};
    quickWalk.Visit(nullptr, 0);
    if (quickFiles_.empty() && quickFolders_.empty()) return;
    for (FoundFiles* deep : deepSearches) {
        TreeWalk deepWalk{*deep,
                          [&](const FoundRecord& file) {
                              const std::optional<uint64_t> sector = firstSector(file);
                              if (!sector || quickFiles_.count({*sector, file.size}) == 0)
                                  return true;
                              repeatedFiles_.insert(Id(file));
                              return false;
                          },
                          [&](const FoundRecord& folder, int depth, bool holdsKept) {
                              const auto key = FolderKey(folder);
                              const auto quickFolder =
                                  key ? quickFolders_.find(*key) : quickFolders_.end();
                              if (quickFolder != quickFolders_.end()) {
                                  // Its own entries show in the quick folder, which is listed
                                  // anyway.
                                  joined_[quickFolder->second].push_back({folder, depth});
                                  joinedIds_.insert(Id(folder));
                                  return false;
                              }
                              if (holdsKept) keptIds_.insert(Id(folder));
                              return holdsKept;
                          },
                          {}};
        deepWalk.Visit(nullptr, 0);
    }
}

bool QuickDeepMerge::RepeatsQuick(const FoundRecord& record) const {
    if (!IsDeep(record)) return false;
    if (record.isFolder != 0) {
        return joinedIds_.count(Id(record)) != 0 || keptIds_.count(Id(record)) == 0;
    }
    return repeatedFiles_.count(Id(record)) != 0;
}

void QuickDeepMerge::DropRepeats(std::vector<FoundRecord>& records) const {
    if (quickFiles_.empty() && quickFolders_.empty()) return;
    std::erase_if(records, [this](const FoundRecord& r) { return RepeatsQuick(r); });
}

std::vector<QuickDeepMerge::DeepFolder> QuickDeepMerge::JoinedInto(
    const FoundRecord& quickFolder) const {
    if (IsDeep(quickFolder) || quickFolder.isFolder == 0) return {};
    const auto it = joined_.find(quickFolder.recordIndex);
    return it == joined_.end() ? std::vector<DeepFolder>{} : it->second;
}

int QuickDeepMerge::EngineDepth(const FoundRecord& deepFolder, int listedDepth) const {
    const auto it = depthShift_.find(Id(deepFolder));
    return it == depthShift_.end() ? listedDepth : listedDepth + it->second;
}

void QuickDeepMerge::NoteListed(const FoundRecord& deepFolder, int listedDepth, int engineDepth) {
    const bool deepExFat = deepFolder.origin == static_cast<uint32_t>(RecordOrigin::DeepExFat);
    if ((!IsDeep(deepFolder) && !deepExFat) || deepFolder.isFolder == 0) return;
    if (listedDepth == engineDepth) {
        depthShift_.erase(Id(deepFolder));
    } else {
        depthShift_[Id(deepFolder)] = engineDepth - listedDepth;
    }
}

}  // namespace keltra
