#include "engines/fat/fat_directory_walker.h"

#include <algorithm>
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
    firstSectors_.reset();
    checks_.reset();
    unreadable_ = 0;
    notFollowed_ = 0;
    reportedEntries_.clear();
    if (volume_.source != nullptr) {
        firstSectors_.emplace(*volume_.source, volume_.geometry.bytesPerSector);
        checks_.emplace(*volume_.source, volume_.geometry.bytesPerSector, volume_.start,
                        volume_.End());
    }
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
    const Status s =
        ReadSectors(*volume_.source, count, out, sector,
                    static_cast<int>(volume_.geometry.bytesPerSector), read, kLargeReadPieceBytes);
    if (s != kOk) return s;
    return read == count ? kOk : kErrReadFault;
}

Status FatDirectoryWalker::ReadFirstSector(uint64_t sector, std::span<std::byte> out) {
    if (!firstSectors_) return ReadVolumeSectors(sector, 1, out);
    if (sector < volume_.start || sector + 1 > volume_.End()) return kErrInvalidParameter;
    uint32_t read = 0;
    const Status s = firstSectors_->Read(sector, 1, out, read);
    if (s != kOk) return s;
    return read == 1 ? kOk : kErrReadFault;
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
        const Status s = ReadVolumeSectors(sector, g.rootDirSectors, buffer_);
        if (s == kOk) WalkBlock(buffer_, sector);
        NoteReadFailure(s, g.rootDirSectors);
        return;
    }
    // The chain is read in runs of clusters that follow one another on the disk, each run in
    // one call.
    const uint32_t maxRun =
        std::max<uint32_t>(1, static_cast<uint32_t>(kLargeReadPieceBytes / g.ClusterBytes()));
    const uint32_t maxClusters = g.MaxFolderClusters();
    uint32_t cluster = first;
    for (uint32_t n = 0; n < maxClusters;) {
        uint32_t count = 1;
        uint32_t last = cluster;
        std::optional<uint32_t> next;
        while (true) {
            next = table_.Next(last);
            if (!next || *next != last + 1 || count >= maxRun || n + count >= maxClusters) break;
            ++count;
            last = *next;
        }
        if (!WalkClusters(cluster, count, n, known != folderMap_.end())) return;
        n += count;
        if (!next || *next == last) return;
        cluster = *next;
    }
}

bool FatDirectoryWalker::WalkClusters(uint32_t cluster, uint32_t count, uint32_t n, bool known) {
    const FatGeometry& g = volume_.geometry;
    const size_t clusterBytes = g.ClusterBytes();
    buffer_.resize(clusterBytes * count);
    const uint64_t first = volume_.ClusterSector(cluster);
    // A run that cannot be read whole is read cluster by cluster, up to the one that fails.
    const bool whole = ReadVolumeSectors(first, g.sectorsPerCluster * count, buffer_) == kOk;
    for (uint32_t i = 0; i < count; ++i) {
        const auto block = std::span(buffer_).subspan(clusterBytes * i, clusterBytes);
        const uint64_t sector = first + uint64_t{i} * g.sectorsPerCluster;
        if (!whole) {
            const Status s = ReadVolumeSectors(sector, g.sectorsPerCluster, block);
            NoteReadFailure(s, g.sectorsPerCluster);
            if (s != kOk) return false;
        }
        // A folder met through its entry must still start with its dot pair; otherwise its first
        // cluster holds something else by now.
        if (n + i == 0 && known && !IsDotPair(block)) return false;
        // Only a folder's first cluster starts with a dot pair: a chain that runs into one has
        // left its folder (a deleted folder whose clusters did not follow one another).
        if (n + i != 0 && IsDotPair(block)) {
            ++notFollowed_;
            return false;
        }
        if (!WalkBlock(block, sector)) return false;
    }
    return true;
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
            const uint64_t at = firstSector * bps + off;
            if ((e.IsDeleted() || currentDeleted_) && reportedEntries_.insert(at).second) {
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
    FoundRecord r = BaseRecord(e, name);
    r.size = e.Size();
    r.location = entrySector;
    r.partitionStart = volume_.start;
    r.contentIntact = 1;
    const uint64_t parentKey = FolderKey(current_, Depth(current_));
    const FatGeometry& g = volume_.geometry;
    if (checks_ && check_ && !extension.empty() && g.kind == FatKind::Fat32 && e.IsDeleted() &&
        e.HighCluster() == 0) {
        // The cleared high word is guessed by the queue, the places tried in disk order.
        const uint16_t low = e.LowCluster();
        places_.clear();
        for (const uint32_t cluster : HighWordCandidates(g, low)) {
            places_.push_back({volume_.ClusterSector(cluster), cluster});
        }
        r.key = low;
        checks_->AddToGuess(r, parentKey, places_, extension, low,
                            g.IsDataCluster(low) ? std::optional(volume_.ClusterSector(low))
                                                 : std::nullopt);
    } else {
        const uint32_t cluster = EntryCluster(e, false, extension);
        r.key = cluster;
        if (!checks_) {
            sink_.FileFound(r, parentKey);
        } else if (!extension.empty() && check_ && g.IsDataCluster(cluster)) {
            checks_->AddToCheck(r, parentKey, volume_.ClusterSector(cluster), extension);
        } else {
            checks_->AddDecided(r, parentKey);
        }
    }
    if (checks_ && checks_->Full()) FlushChecks();
    AddPathFolders(current_);
}

void FatDirectoryWalker::FlushChecks() {
    checks_->Flush(check_, [this](const FoundRecord& r, uint64_t parentKey) {
        sink_.FileFound(r, parentKey);
    });
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
        [this](uint64_t s, std::span<std::byte> out) { return ReadFirstSector(s, out); }, sector_);
}

uint32_t FatDirectoryWalker::GuessFileCluster(uint16_t low, std::string_view extension) {
    return keltra::GuessFileCluster(
        volume_, low, extension, check_,
        [this](uint64_t s, std::span<std::byte> out) { return ReadFirstSector(s, out); }, sector_);
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
    if (checks_) FlushChecks();
    for (const uint32_t cluster : pathFolders_) {
        const auto it = folderMap_.find(cluster);
        if (it == folderMap_.end()) continue;
        const uint32_t parent = it->second.parent;
        sink_.FolderFound(it->second.record, FolderKey(parent, Depth(parent)));
    }
}

}  // namespace keltra
