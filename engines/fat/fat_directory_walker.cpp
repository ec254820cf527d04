#include "engines/fat/fat_directory_walker.h"

#include <cstring>

#include "engines/fat/fat_high_word_guess.h"
#include "platform/little_endian.h"

namespace keltra {
namespace {

std::string_view ExtensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

}  // namespace

FatDirectoryWalker::FatDirectoryWalker(const FatVolume& volume, FatTable& table, uint16_t sourceTag,
                                       FatContentCheck check, FatScanSink& sink)
    : volume_(volume),
      table_(table),
      sourceTag_(sourceTag),
      check_(std::move(check)),
      sink_(sink) {}

void FatDirectoryWalker::Start() {
    queue_.clear();
    visited_.clear();
    folderMap_.clear();
    pathFolders_.clear();
    pathFolderSet_.clear();
    queue_.push_back(volume_.geometry.rootCluster);
}

bool FatDirectoryWalker::Step() {
    if (queue_.empty()) return false;
    const uint32_t folder = queue_.front();
    queue_.pop_front();
    if (visited_.insert(folder).second) ReadFolder(folder);
    return true;
}

Status FatDirectoryWalker::ReadVolumeSectors(uint64_t sector, uint32_t count,
                                             std::span<std::byte> out) {
    if (sector < volume_.start || sector + count > volume_.End()) return kErrInvalidParameter;
    uint32_t read = 0;
    const Status s = ReadSectors(*volume_.source, count, out, sector,
                                 static_cast<int>(volume_.geometry.bytesPerSector), read);
    if (s != kOk) return s;
    return read == count ? kOk : kErrReadFault;
}

void FatDirectoryWalker::ReadFolder(uint32_t first) {
    const FatGeometry& g = volume_.geometry;
    const bool rootArea = g.kind != FatKind::Fat32 && first == 0;
    if (!rootArea && !g.IsDataCluster(first)) return;
    const auto known = folderMap_.find(first);
    current_ = first;
    currentDeleted_ = known != folderMap_.end() && known->second.record.folderDeleted != 0;
    longName_.Clear();

    if (rootArea) {
        if (g.rootDirSectors == 0) return;
        buffer_.resize(size_t{g.rootDirSectors} * g.bytesPerSector);
        const uint64_t sector = volume_.ClusterSector(0);
        if (ReadVolumeSectors(sector, g.rootDirSectors, buffer_) == kOk) WalkBlock(buffer_, sector);
        return;
    }
    buffer_.resize(g.ClusterBytes());
    uint32_t cluster = first;
    for (uint32_t n = 0; n < g.MaxFolderClusters(); ++n) {
        const uint64_t sector = volume_.ClusterSector(cluster);
        if (ReadVolumeSectors(sector, g.sectorsPerCluster, buffer_) != kOk) return;
        // A folder met through its entry must still start with its dot pair; otherwise its first
        // cluster holds something else by now.
        if (n == 0 && known != folderMap_.end() && !IsDotPair(buffer_)) return;
        if (!WalkBlock(buffer_, sector)) return;
        const auto next = table_.Next(cluster);
        if (!next || *next == cluster) return;
        cluster = *next;
    }
}

bool FatDirectoryWalker::WalkBlock(std::span<const std::byte> block, uint64_t firstSector) {
    const uint32_t bps = volume_.geometry.bytesPerSector;
    for (size_t off = 0; off + kFatEntryBytes <= block.size(); off += kFatEntryBytes) {
        const auto bytes = block.subspan(off);
        const FatEntryView e(bytes);
        if (e.First() == 0) return false;
        if (!IsPlausibleFatEntry(bytes)) {
            longName_.Clear();
            continue;
        }
        if (e.IsLongName()) {
            if (!longName_.Add(e)) return false;
            continue;
        }
        if (e.IsFolder()) {
            if (e.IsDotName()) {
                const uint32_t self =
                    volume_.geometry.kind == FatKind::Fat32 ? e.Cluster() : e.LowCluster();
                if (volume_.geometry.IsDataCluster(self)) current_ = self;
            } else if (!e.IsDotDotName()) {
                FolderEntry(e, EntryName(longName_, e, true));
            }
        } else if ((e.Attr() & kFatAttrArchive) != 0 && !e.IsVolumeLabel()) {
            if (e.IsDeleted() || currentDeleted_) {
                FileEntry(e, EntryName(longName_, e, false), firstSector + off / bps);
            }
        }
        longName_.Clear();
    }
    return true;
}

FoundRecord FatDirectoryWalker::BaseRecord(const FatEntryView& e, const std::string& name) const {
    FoundRecord r = EmptyRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::QuickFat);
    r.clusterBytes = static_cast<int32_t>(volume_.geometry.ClusterBytes());
    const FatEntryTimes t = ReadFatEntryTimes(e);
    r.created = t.created;
    r.accessed = t.accessed;
    r.modified = t.modified;
    r.dataAreaStart = volume_.geometry.dataAreaStart;
    r.SetName(name);
    return r;
}

void FatDirectoryWalker::FolderEntry(const FatEntryView& e, const std::string& name) {
    const uint32_t cluster = EntryCluster(e, true, {});
    FoundRecord r = BaseRecord(e, name);
    r.isFolder = 1;
    r.key = cluster;
    r.folderDeleted = e.IsDeleted() || currentDeleted_ ? 1 : 0;
    r.contentIntact = 1;
    const FatGeometry& g = volume_.geometry;
    // Entries naming the root or the folder being read would only loop.
    if (cluster == 0 || cluster == current_ || cluster == g.rootCluster ||
        !g.IsDataCluster(cluster))
        return;
    queue_.push_back(cluster);
    folderMap_[cluster] = FolderEntryInfo{r, current_};
}

void FatDirectoryWalker::FileEntry(const FatEntryView& e, const std::string& name,
                                   uint64_t entrySector) {
    const std::string_view extension = ExtensionOf(name);
    const uint32_t cluster = EntryCluster(e, false, extension);
    FoundRecord r = BaseRecord(e, name);
    r.key = cluster;
    r.size = e.Size();
    r.location = entrySector;
    r.partitionStart = volume_.start;
    r.contentIntact = ContentIntact(cluster, extension) ? 1 : 0;
    sink_.FileFound(r, FolderKey(current_, Depth(current_)));
    AddPathFolders(current_);
}

uint32_t FatDirectoryWalker::EntryCluster(const FatEntryView& e, bool folder,
                                          std::string_view extension) {
    if (volume_.geometry.kind != FatKind::Fat32) return e.LowCluster();
    if (!e.IsDeleted() || e.HighCluster() != 0) return e.Cluster();
    return folder ? GuessFolderCluster(e.LowCluster())
                  : GuessFileCluster(e.LowCluster(), extension);
}

uint32_t FatDirectoryWalker::GuessFolderCluster(uint16_t low) {
    return keltra::GuessFolderCluster(
        volume_, low,
        [this](uint64_t s, std::span<std::byte> out) { return ReadVolumeSectors(s, 1, out); },
        sector_);
}

uint32_t FatDirectoryWalker::GuessFileCluster(uint16_t low, std::string_view extension) {
    return keltra::GuessFileCluster(
        volume_, low, extension, check_,
        [this](uint64_t s, std::span<std::byte> out) { return ReadVolumeSectors(s, 1, out); },
        sector_);
}

bool FatDirectoryWalker::ContentIntact(uint32_t cluster, std::string_view extension) {
    if (extension.empty() || !check_ || !volume_.geometry.IsDataCluster(cluster)) return true;
    sector_.resize(volume_.geometry.bytesPerSector);
    const uint64_t sector = volume_.ClusterSector(cluster);
    if (ReadVolumeSectors(sector, 1, sector_) != kOk) return true;
    return check_(sector_, extension, sector);
}

uint32_t FatDirectoryWalker::Depth(uint32_t cluster) {
    // Counted up the parents the walk recorded, so that a folder's children are filed one level
    // below the key its own record is filed under.
    uint32_t depth = 0;
    std::unordered_set<uint32_t> seen;
    while (cluster != volume_.geometry.rootCluster && seen.insert(cluster).second) {
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) break;
        ++depth;
        cluster = it->second.parent;
    }
    return depth;
}

void FatDirectoryWalker::AddPathFolders(uint32_t cluster) {
    while (pathFolderSet_.insert(cluster).second) {
        pathFolders_.push_back(cluster);
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) return;
        const uint32_t parent = it->second.parent;
        if (parent == cluster || parent <= volume_.geometry.rootCluster) return;
        cluster = parent;
    }
}

void FatDirectoryWalker::ReportFolders() {
    for (const uint32_t cluster : pathFolders_) {
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) continue;
        const uint32_t parent = it->second.parent;
        sink_.FolderFound(it->second.record, FolderKey(parent, Depth(parent)));
    }
}

}  // namespace keltra
