// The deep scan's listing: the finds of the quick scan and of the deep searches as one tree,
// the deep folders joined into the quick ones they repeat, lost volumes under folders of their
// own, and the carved files without the copies of files a file system search found.
#include <vector>

#include "engines/carving/signature_carver.h"
#include "engines/deep/deep_scan.h"
#include "engines/scan_log_store.h"

namespace keltra {
namespace {

Status SortedIfMany(std::vector<FoundRecord>& out, Status status) {
    if (out.size() > 1) SortListedRecords(out);
    return status;
}

bool IsCarved(const FoundRecord& record) {
    return record.origin == static_cast<uint32_t>(RecordOrigin::Carving);
}

}  // namespace

Status DeepScan::ListFolder(const FoundRecord* folder, int depth,
                                         std::vector<FoundRecord>& out) {
    if (folder != nullptr && LostVolumeFolders::IsVolumeFolder(*folder)) {
        // A volume's records are its engine's root entries: their children are listed one level
        // up in the engine's tree.
        for (const FoundRecord& member : lostVolumes_.Members(*folder)) {
            merge_.NoteListed(member, depth + 1, 1);
            out.push_back(member);
        }
        return kOk;
    }
    if (folder != nullptr) {
        // Carved files form no folders.
        if (IsCarved(*folder) || EngineOf(*folder) == nullptr) return kOk;
        std::vector<FoundRecord> listed;
        const Status status = ListMergedFolder(*folder, depth, listed);
        SortedIfMany(listed, status);
        out.insert(out.end(), listed.begin(), listed.end());
        return status;
    }
    if (depth != 0) return kErrInvalidParameter;
    std::vector<FoundRecord> listed;
    Status status = kOk;
    for (FoundFiles* engine : FileSystemEngines()) {
        const Status s = engine->ListFolder(nullptr, 0, listed);
        if (status == kOk) status = s;
    }
    LearnMerge();
    merge_.DropRepeats(listed);
    lostVolumes_.Group(listed);
    std::vector<FoundRecord> carved;
    const Status s = CarvedRootFiles(carved);
    if (status == kOk) status = s;
    listed.insert(listed.end(), carved.begin(), carved.end());
    SortedIfMany(listed, status);
    out.insert(out.end(), listed.begin(), listed.end());
    return status;
}

Status DeepScan::CountFolderFiles(const FoundRecord* folder, int depth,
                                               uint32_t& count) {
    count = 0;
    if (folder != nullptr && LostVolumeFolders::IsVolumeFolder(*folder)) {
        Status status = kOk;
        for (const FoundRecord& member : lostVolumes_.Members(*folder)) {
            uint32_t part = 1;
            if (member.isFolder != 0) {
                const Status s = CountFolderFiles(&member, 1, part);
                if (status == kOk) status = s;
            }
            count += part;
        }
        return status;
    }
    if (folder != nullptr) {
        if (IsCarved(*folder)) return kOk;
        FoundFiles* engine = EngineOf(*folder);
        return engine ? engine->CountFolderFiles(folder, depth, count) : kOk;
    }
    Status status = kOk;
    for (FoundFiles* engine : FileSystemEngines()) {
        uint32_t part = 0;
        const Status s = engine->CountFolderFiles(nullptr, depth, part);
        if (status == kOk) status = s;
        count += part;
    }
    std::vector<FoundRecord> carved;
    const Status s = CarvedRootFiles(carved);
    if (status == kOk) status = s;
    count += static_cast<uint32_t>(carved.size());
    return status;
}

void DeepScan::LearnMerge() {
    std::vector<FoundFiles*> deepSearches = FileSystemEngines();
    if (quick_) deepSearches.erase(deepSearches.begin());
    merge_.Learn(quick_.get(), deepSearches, FirstSectorRule());
}

Status DeepScan::ListMergedFolder(const FoundRecord& folder, int depth,
                                               std::vector<FoundRecord>& out) {
    LearnMerge();
    FoundFiles* engine = EngineOf(folder);
    if (engine == nullptr) return kOk;
    // A deep folder handed out inside a quick one lies deeper (or shallower) in its own tree.
    const int engineDepth = merge_.EngineDepth(folder, depth);
    const size_t first = out.size();
    Status status = engine->ListFolder(&folder, engineDepth, out);
    for (size_t i = first; i < out.size(); ++i) {
        merge_.NoteListed(out[i], depth + 1, engineDepth + 1);
    }
    for (const QuickDeepMerge::DeepFolder& joined : merge_.JoinedInto(folder)) {
        FoundFiles* deep = EngineOf(joined.record);
        if (deep == nullptr) continue;
        const size_t from = out.size();
        const Status s = deep->ListFolder(&joined.record, joined.depth, out);
        if (status == kOk) status = s;
        for (size_t i = from; i < out.size(); ++i) {
            merge_.NoteListed(out[i], depth + 1, joined.depth + 1);
        }
    }
    merge_.DropRepeats(out);
    return status;
}

Status DeepScan::FindByExtensions(const std::string& extensions,
                                               std::vector<FoundRecord>& out) {
    std::vector<FoundRecord> found;
    for (FoundFiles* engine : FileSystemEngines()) engine->FindByExtensions(extensions, found);
    LearnMerge();
    merge_.DropRepeats(found);
    std::vector<FoundRecord> carved;
    carver_->FindByExtensions(extensions, carved);
    std::vector<FoundRecord> kept =
        WithoutCarvedCopies(found, std::move(carved), FirstSectorRule());
    found.insert(found.end(), kept.begin(), kept.end());
    SortedIfMany(found, kOk);
    out.insert(out.end(), found.begin(), found.end());
    return kOk;
}

Status DeepScan::CarvedRootFiles(std::vector<FoundRecord>& out) {
    std::vector<FoundRecord> carved;
    const Status status = carver_->ListFolder(nullptr, 0, carved);
    const std::string list = ExtensionsOf(carved);
    std::vector<FoundRecord> found;
    if (!list.empty()) {
        for (FoundFiles* engine : FileSystemEngines()) engine->FindByExtensions(list, found);
    }
    std::vector<FoundRecord> kept =
        WithoutCarvedCopies(found, std::move(carved), FirstSectorRule());
    out.insert(out.end(), kept.begin(), kept.end());
    return status;
}

}  // namespace keltra
