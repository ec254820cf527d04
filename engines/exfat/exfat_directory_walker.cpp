#include "engines/exfat/exfat_directory_walker.h"

#include "engines/extension_categories.h"
#include "platform/little_endian.h"
#include "platform/text.h"

namespace keltra {

ExFatStream ExFatRootStream(const ExFatGeometry& geometry) {
    ExFatStream root;
    root.firstCluster = geometry.rootCluster;
    root.length = kExFatMaxFolderBytes;
    root.validLength = kExFatMaxFolderBytes;
    return root;
}

std::vector<std::byte> ReadExFatFolder(const ExFatVolume& volume, ExFatClusterMap& map,
                                       const ExFatStream& stream, std::vector<uint32_t>* clusters,
                                       uint64_t* unreadSectors) {
    std::vector<std::byte> data;
    // The clusters a folder of this length spans, and no more: a folder entry may name a
    // length its clusters do not reach.
    IgnoreStatus(ReadExFatStream(
                     volume, map, stream, kExFatMaxFolderBytes,
                     [&data](std::span<const std::byte> piece) {
                         data.insert(data.end(), piece.begin(), piece.end());
                         return kOk;
                     },
                     clusters, unreadSectors),
                 "a folder read short is taken as far as it was read; unread sectors are counted");
    data.resize(data.size() / kExFatEntryBytes * kExFatEntryBytes);
    return data;
}

ExFatSystemEntries FindExFatSystemEntries(std::span<const std::byte> entries,
                                          uint16_t volumeFlags) {
    ExFatSystemEntries found;
    const uint8_t activeBitmap = volumeFlags & 1;
    for (size_t at = 0; at + kExFatEntryBytes <= entries.size(); at += kExFatEntryBytes) {
        const auto e = entries.subspan(at, kExFatEntryBytes);
        const uint8_t type = Byte(e, 0);
        if (type == kExFatEndOfDirectory) break;
        if (type != kExFatBitmapEntry && type != kExFatUpcaseEntry) continue;
        ExFatStream stream;
        stream.firstCluster = Le32(e, 20);
        stream.length = Le64(e, 24);
        stream.validLength = stream.length;
        if (type == kExFatUpcaseEntry) {
            if (!found.upcase) found.upcase = stream;
        } else if (!found.bitmap || (Byte(e, 1) & 1) == activeBitmap) {
            found.bitmap = stream;
        }
    }
    return found;
}

ExFatDirectoryWalker::ExFatDirectoryWalker(const ExFatVolume& volume, ExFatClusterMap& map,
                                           const ExFatUpcase& upcase, uint16_t sourceTag,
                                           FatContentCheck check, FatScanSink& sink)
    : volume_(volume),
      map_(map),
      upcase_(upcase),
      sourceTag_(sourceTag),
      check_(std::move(check)),
      sink_(sink) {}

void ExFatDirectoryWalker::Start() {
    queue_.clear();
    visited_.clear();
    folderMap_.clear();
    depth_.clear();
    pathFolders_.clear();
    pathFolderSet_.clear();
    tornSets_ = 0;
    unreadable_ = 0;
    checks_.reset();
    if (volume_.source != nullptr) {
        checks_.emplace(*volume_.source, volume_.geometry.bytesPerSector, volume_.start,
                        volume_.End());
    }
    const uint32_t root = volume_.geometry.rootCluster;
    depth_[root] = 0;
    queue_.push_back({root, ExFatRootStream(volume_.geometry)});
}

bool ExFatDirectoryWalker::Step() {
    if (queue_.empty()) return false;
    const PendingFolder folder = queue_.front();
    queue_.pop_front();
    if (visited_.insert(folder.cluster).second) ReadFolder(folder);
    return true;
}

void ExFatDirectoryWalker::ReadFolder(const PendingFolder& folder) {
    current_ = folder.cluster;
    const auto known = folderMap_.find(folder.cluster);
    currentDeleted_ = known != folderMap_.end() && known->second.record.folderDeleted != 0;
    currentClusters_.clear();
    const std::vector<std::byte> entries =
        ReadExFatFolder(volume_, map_, folder.stream, &currentClusters_, &unreadable_);
    WalkEntries(entries);
}

uint64_t ExFatDirectoryWalker::VolumeByteOf(uint64_t offset) const {
    const ExFatGeometry& g = volume_.geometry;
    const uint64_t clusterBytes = g.ClusterBytes();
    const size_t n = static_cast<size_t>(offset / clusterBytes);
    if (n >= currentClusters_.size()) return 0;
    return g.ClusterSector(currentClusters_[n]) * g.bytesPerSector + offset % clusterBytes;
}

void ExFatDirectoryWalker::WalkEntries(std::span<const std::byte> entries) {
    size_t i = 0;
    const size_t count = entries.size() / kExFatEntryBytes;
    while (i < count) {
        const auto at = entries.subspan(i * kExFatEntryBytes);
        const uint8_t type = Byte(at, 0);
        if (type == kExFatEndOfDirectory) return;
        if ((type | kExFatInUse) != kExFatFileEntry) {
            ++i;
            continue;
        }
        const std::optional<ExFatEntrySet> set = ParseExFatEntrySet(at);
        if (!set || !Trusted(*set)) {
            ++tornSets_;
            ++i;
            continue;
        }
        const std::string name = Utf16ToUtf8(set->name);
        if (set->IsFolder()) {
            FolderEntry(*set, name);
        } else if (set->deleted || currentDeleted_) {
            FileEntry(*set, name, VolumeByteOf((i + 1) * kExFatEntryBytes));
        }
        i += set->entryCount;
    }
}

bool ExFatDirectoryWalker::Trusted(const ExFatEntrySet& set) const {
    const ExFatGeometry& g = volume_.geometry;
    const uint64_t heapBytes = uint64_t{g.clusterCount} * g.ClusterBytes();
    if (set.stream.length > heapBytes || set.stream.validLength > set.stream.length) return false;
    return set.checksumMatches || upcase_.NameHash(set.name) == set.nameHash;
}

FoundRecord ExFatDirectoryWalker::BaseRecord(const ExFatEntrySet& set,
                                             const std::string& name) const {
    FoundRecord r = EmptyRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::QuickExFat);
    r.clusterBytes = static_cast<int32_t>(volume_.geometry.ClusterBytes());
    r.created = set.created;
    r.accessed = set.accessed;
    r.modified = set.modified;
    r.key = set.stream.firstCluster;
    r.dataAreaStart = volume_.geometry.clusterHeapOffset;
    r.partitionStart = volume_.start;
    r.SetName(name);
    return r;
}

void ExFatDirectoryWalker::FolderEntry(const ExFatEntrySet& set, const std::string& name) {
    const uint32_t cluster = set.stream.firstCluster;
    const ExFatGeometry& g = volume_.geometry;
    // Entries naming the root, the folder being read or nothing would only loop.
    if (!g.IsDataCluster(cluster) || cluster == current_ || cluster == g.rootCluster) return;
    FoundRecord r = BaseRecord(set, name);
    r.isFolder = 1;
    r.folderDeleted = set.deleted || currentDeleted_ ? 1 : 0;
    r.contentIntact = 1;
    if (visited_.count(cluster) != 0) return;
    folderMap_[cluster] = FolderInfo{r, current_};
    // A deleted folder whose first cluster is in use again holds another's entries now.
    if (r.folderDeleted == 0 || !map_.IsAllocated(cluster)) {
        ExFatStream stream = set.stream;
        stream.validLength = stream.length;
        queue_.push_back({cluster, stream});
    }
    depth_[cluster] = Depth(current_) + 1;
    // A deleted folder is listed even when nothing is found inside it.
    if (r.folderDeleted != 0) AddPathFolders(cluster);
}

void ExFatDirectoryWalker::FileEntry(const ExFatEntrySet& set, const std::string& name,
                                     uint64_t streamEntryByte) {
    FoundRecord r = BaseRecord(set, name);
    r.size = set.stream.length;
    r.location = streamEntryByte;
    r.contentIntact = 1;
    const uint64_t parentKey = FolderKey(current_, Depth(current_));
    const ExFatGeometry& g = volume_.geometry;
    if (!checks_) {
        sink_.FileFound(r, parentKey);
    } else if (!ExtensionOf(name).empty() && check_ && g.IsDataCluster(set.stream.firstCluster) &&
               set.stream.validLength != 0) {
        checks_->AddToCheck(r, parentKey, volume_.ClusterSector(set.stream.firstCluster),
                            ExtensionOf(name));
    } else {
        checks_->AddDecided(r, parentKey);
    }
    if (checks_ && checks_->Full()) FlushChecks();
    AddPathFolders(current_);
}

void ExFatDirectoryWalker::FlushChecks() {
    checks_->Flush(check_, [this](const FoundRecord& r, uint64_t parentKey) {
        sink_.FileFound(r, parentKey);
    });
}

uint32_t ExFatDirectoryWalker::Depth(uint32_t cluster) const {
    const auto it = depth_.find(cluster);
    return it == depth_.end() ? 0 : it->second;
}

void ExFatDirectoryWalker::AddPathFolders(uint32_t cluster) {
    while (pathFolderSet_.insert(cluster).second) {
        pathFolders_.push_back(cluster);
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) return;
        cluster = it->second.parent;
    }
}

void ExFatDirectoryWalker::ReportFolders() {
    if (checks_) FlushChecks();
    for (const uint32_t cluster : pathFolders_) {
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) continue;
        const uint32_t parent = it->second.parent;
        sink_.FolderFound(it->second.record, FolderKey(parent, Depth(parent)));
    }
}

}  // namespace keltra
