#include "engines/fat/deep_fat_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>

#include "engines/boot_area.h"
#include "engines/carving/carve_at_sector.h"
#include "engines/engine_factory.h"
#include "engines/extension_categories.h"
#include "engines/fat/fat_entry.h"
#include "engines/fat/fat_file_reader.h"
#include "engines/fat/fat_high_word_guess.h"
#include "engines/fat/fat_names.h"
#include "platform/little_endian.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {
namespace {

// Root folder area of a FAT12/16 volume whose boot sector is gone: 512 entries, as formatters
// make it.
constexpr uint32_t kAssumedRootAreaSectors = 32;
constexpr uint32_t kMaxSectorsPerCluster = 128;
// Parents followed up from one folder before the chain is taken to loop.
constexpr int kMaxChainSteps = 4096;

// Whether a sector's first entry can carry on a long-name run with this checksum: a long-name
// entry of the run, a deleted entry (its bytes no longer tell), or the run's short entry.
bool ContinuesRun(uint8_t checksum, std::span<const std::byte> sector) {
    if (sector.size() < kFatEntryBytes) return false;
    const FatEntryView e(sector);
    if (e.First() == 0) return false;
    if (e.IsLongName()) return e.LfnChecksumByte() == checksum;
    return e.IsDeleted() || LfnChecksum(e.ShortName()) == checksum;
}

// The ".." cluster of a folder's first sector: the sector starts with "." and its second entry
// with "..". Nothing otherwise.
std::optional<uint32_t> DotDotCluster(std::span<const std::byte> firstSector) {
    if (firstSector.size() < 2 * kFatEntryBytes) return std::nullopt;
    if (!BytesEqual(firstSector, 0, ".") || !BytesEqual(firstSector, kFatEntryBytes, ".."))
        return std::nullopt;
    return FatEntryView(firstSector.subspan(kFatEntryBytes)).Cluster();
}

}  // namespace

uint64_t DeepFatVolume::ClusterSector(uint32_t n, uint32_t rootAreaSectors) const {
    if (n < 2) return DataStart() - std::min<uint64_t>(rootAreaSectors, dataAreaStart);
    return DataStart() + uint64_t{n - 2} * sectorsPerCluster;
}

std::optional<DeepFatVolume> InferFatVolume(uint32_t a, uint64_t sa, uint32_t b, uint64_t sb,
                                            uint64_t sourceStart) {
    if (a == b || a < 2 || b < 2 || sa == sb) return std::nullopt;
    // The larger cluster must lie at the larger sector: clusters go up with the sectors.
    if ((a > b) != (sa > sb)) return std::nullopt;
    const uint32_t highCluster = std::max(a, b);
    const uint32_t lowCluster = std::min(a, b);
    const uint64_t highSector = std::max(sa, sb);
    const uint64_t lowSector = std::min(sa, sb);
    const uint64_t clusters = highCluster - lowCluster;
    const uint64_t sectors = highSector - lowSector;
    if (sectors % clusters != 0) return std::nullopt;
    const uint64_t perCluster = sectors / clusters;
    if (perCluster == 0 || perCluster > kMaxSectorsPerCluster || !std::has_single_bit(perCluster))
        return std::nullopt;
    const uint64_t before = perCluster * (lowCluster - 2);
    if (lowSector < before || lowSector - before < sourceStart) return std::nullopt;
    const uint64_t base = lowSector - before;
    DeepFatVolume v;
    v.sectorsPerCluster = static_cast<uint32_t>(perCluster);
    v.start = sourceStart;
    v.dataAreaStart = base - sourceStart;
    return v;
}

Status DeepFatSearch::OpenSource(SectorSource source, uint32_t sectorSize,
                                            uint64_t startSector, uint64_t sectorCount,
                                            uint16_t sourceTag) {
    if (source_.IsOpen()) return kOk;
    if (sectorSize < 512 || sectorSize > kBootAreaBytes || !std::has_single_bit(sectorSize))
        return kErrInvalidParameter;
    source_ = std::move(source);
    sectorSize_ = sectorSize;
    sourceStart_ = startSector;
    sourceSectors_ = sectorCount;
    sourceTag_ = sourceTag;
    last_ = {};
    return kOk;
}

Status DeepFatSearch::Begin(const PassStart& start) {
    // The pass's own source is open: what this open could fail on is a boot area that cannot
    // be read, which leaves the search to the sectors alone.
    static_cast<void>(Open(start.source));
    SetLogFolder(start.folder);
    const Status status = OpenLog(start.resumedLog(kDeepFatLogPrefix));
    // A boot area that cannot be read leaves the search to the sectors alone: a damaged disk is
    // what it is for.
    static_cast<void>(ReadBootSector());
    return status;
}

SpanVerdict DeepFatSearch::Examine(std::span<const std::byte> span, uint64_t firstSector,
                                              PassPosition& at) {
    const std::span<const std::byte> sector = span.first(static_cast<size_t>(at.sectorSize));
    if (IsDotPair(sector)) {
        HandleFolderStart(sector, firstSector);
    } else if (LooksLikeFatDirSector(sector)) {
        HandleDirectorySector(sector, firstSector);
    } else {
        return {};
    }
    return {1, kOk};
}

void DeepFatSearch::Finish(const PassEnd& /*end*/) {
    Finish();
}

void DeepFatSearch::ClearSearch() {
    rootCluster_ = 0;
    firstVolumeIsBoot_ = false;
    bootTable_ = FatTable();
    volumes_.clear();
    exactTried_ = 0;
    sightings_.clear();
    folders_.clear();
    known_.clear();
    pending_.clear();
    saved_.clear();
    fragments_.clear();
    last_ = {};
    depthCache_.clear();
    dropped_ = {};
}

Status DeepFatSearch::OpenLog(const std::optional<std::string>& resumeLogName) {
    ClearSearch();
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    if (resumeLogName) return ReopenLog(folder, *resumeLogName);
    return StartNewLog(folder, MakeLogName(kDeepFatLogPrefix, static_cast<int64_t>(sourceStart_)));
}

Status DeepFatSearch::ReadBootSector() {
    if (!source_.IsOpen()) return kErrInvalidParameter;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (const Status s = ReadBootArea(source_, sourceStart_, sectorSize_, boot); s != kOk) return s;
    if (!IsFat(ClassifyBootArea(boot))) return kOk;
    const auto geometry = ReadFatGeometry(boot);
    if (!geometry || geometry->bytesPerSector != sectorSize_) return kOk;
    DeepFatVolume v;
    v.sectorsPerCluster = geometry->sectorsPerCluster;
    v.dataAreaStart = geometry->dataAreaStart;
    v.start = sourceStart_;
    volumes_.erase(std::remove(volumes_.begin(), volumes_.end(), v), volumes_.end());
    volumes_.insert(volumes_.begin(), v);
    exactTried_ = 0;
    bootGeometry_ = *geometry;
    firstVolumeIsBoot_ = true;
    rootCluster_ = geometry->kind == FatKind::Fat32 ? geometry->rootCluster : 0;
    // A FAT that cannot be read now is read again at each lookup.
    bootTable_.Load(source_, sourceStart_, *geometry);
    return kOk;
}

// ---- geometry helpers ----

uint32_t DeepFatSearch::RootAreaSectors(int volume) const {
    return volume == 0 && firstVolumeIsBoot_ ? bootGeometry_.rootDirSectors
                                             : kAssumedRootAreaSectors;
}

uint64_t DeepFatSearch::ClusterSector(int volume, uint32_t cluster) const {
    return volumes_[static_cast<size_t>(volume)].ClusterSector(cluster, RootAreaSectors(volume));
}

uint32_t DeepFatSearch::ClusterAt(int volume, uint64_t sector) const {
    const DeepFatVolume& v = volumes_[static_cast<size_t>(volume)];
    if (sector < v.DataStart()) return rootCluster_;
    const uint64_t n = (sector - v.DataStart()) / v.sectorsPerCluster + 2;
    return n > UINT32_MAX ? rootCluster_ : static_cast<uint32_t>(n);
}

int DeepFatSearch::VolumeStartingClusterAt(uint32_t cluster, uint64_t sector) const {
    if (cluster < 2) return -1;
    for (size_t i = 0; i < volumes_.size(); ++i) {
        if (volumes_[i].ClusterSector(cluster, 0) == sector) return static_cast<int>(i);
    }
    return -1;
}

int DeepFatSearch::VolumeWithClusterStartAt(uint64_t sector) const {
    for (size_t i = 0; i < volumes_.size(); ++i) {
        const DeepFatVolume& v = volumes_[i];
        if (sector >= v.DataStart() && (sector - v.DataStart()) % v.sectorsPerCluster == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int DeepFatSearch::NearestVolume(uint64_t sector) const {
    int best = -1;
    for (size_t i = firstVolumeIsBoot_ ? 1 : 0; i < volumes_.size(); ++i) {
        const uint64_t start = volumes_[i].DataStart();
        if (start > sector) continue;
        if (best < 0 || start > volumes_[static_cast<size_t>(best)].DataStart())
            best = static_cast<int>(i);
    }
    if (best < 0 && !volumes_.empty()) best = 0;
    return best;
}

FatVolume DeepFatSearch::VolumeView(int volume) const {
    const DeepFatVolume& v = volumes_[static_cast<size_t>(volume)];
    FatVolume view;
    view.source = &source_;
    view.start = v.start;
    const uint64_t end = source_.totalSectors;
    view.sectors = end > v.start ? end - v.start : 0;
    if (volume == 0 && firstVolumeIsBoot_) {
        view.geometry = bootGeometry_;
        return view;
    }
    FatGeometry& g = view.geometry;
    g.kind = FatKind::Fat32;
    g.bytesPerSector = sectorSize_;
    g.sectorsPerCluster = v.sectorsPerCluster;
    g.dataAreaStart = v.dataAreaStart;
    g.rootDirSectors = kAssumedRootAreaSectors;
    const uint64_t clusters = end > v.DataStart() ? (end - v.DataStart()) / v.sectorsPerCluster : 0;
    g.clusterCount = static_cast<uint32_t>(std::min<uint64_t>(clusters, 0x0FFFFFF5));
    return view;
}

bool DeepFatSearch::GuessesHighWord(int volume) const {
    return volume >= 0 &&
           !(volume == 0 && firstVolumeIsBoot_ && bootGeometry_.kind != FatKind::Fat32);
}

void DeepFatSearch::FillGeometry(FoundRecord& record, int volume) const {
    if (volume < 0) return;
    const DeepFatVolume& v = volumes_[static_cast<size_t>(volume)];
    record.clusterBytes = static_cast<int32_t>(sectorSize_ * v.sectorsPerCluster);
    record.dataAreaStart = v.dataAreaStart;
    record.partitionStart = v.start;
}

FatSectorRead DeepFatSearch::OneSectorRead() const {
    return [this](uint64_t sector, std::span<std::byte> out) {
        uint32_t read = 0;
        const Status s = ReadSectors(source_, 1, out, sector, static_cast<int>(sectorSize_), read);
        if (s != kOk) return s;
        return read == 1 ? kOk : kErrReadFault;
    };
}

bool DeepFatSearch::ReadFirstSector(int volume, uint32_t cluster,
                                               std::vector<std::byte>& out) const {
    if (volume < 0) return false;
    const uint64_t sector = ClusterSector(volume, cluster);
    out.resize(sectorSize_);
    uint32_t read = 0;
    return ReadSectors(source_, 1, out, sector, static_cast<int>(sectorSize_), read) == kOk &&
           read == 1;
}

std::optional<uint32_t> DeepFatSearch::ParentOnDisk(int volume, uint32_t folder) {
    if (folder < 2 || !ReadFirstSector(volume, folder, scratch_)) return std::nullopt;
    const auto parent = DotDotCluster(scratch_);
    if (!parent) return std::nullopt;
    return *parent == 0 ? rootCluster_ : *parent;
}

uint32_t DeepFatSearch::Depth(int volume, uint32_t folder) {
    if (volume < 0 || folder == 0 || folder == rootCluster_) return 0;
    const auto key = std::make_pair(volume, folder);
    if (const auto it = depthCache_.find(key); it != depthCache_.end()) return it->second;
    uint32_t depth = 0;
    std::vector<uint32_t> visited;
    for (uint32_t f = folder; std::find(visited.begin(), visited.end(), f) == visited.end();) {
        visited.push_back(f);
        if (visited.size() > size_t{kMaxChainSteps} || f < 2 || f == rootCluster_) break;
        if (!ReadFirstSector(volume, f, scratch_)) break;
        const FatEntryView first(scratch_);
        if (first.IsVolumeLabel()) break;
        ++depth;
        // A folder whose first sector lost its dot pair still counts, one level down.
        const auto parent = DotDotCluster(scratch_);
        if (!parent || *parent == 0) break;
        f = *parent;
    }
    depthCache_[key] = depth;
    return depth;
}

bool DeepFatSearch::ContentIntact(uint32_t cluster, std::string_view extension,
                                             int volume) {
    if (extension.empty() || cluster < 2 || !ReadFirstSector(volume, cluster, scratch_))
        return true;
    return CheckFileContent(scratch_, extension, source_, static_cast<int>(sectorSize_),
                            ClusterSector(volume, cluster)) != 0;
}

// ---- sightings and volumes ----

void DeepFatSearch::TrySightings(uint32_t cluster, uint64_t sector) {
    for (const auto& [b, sb] : sightings_) {
        const auto v = InferFatVolume(cluster, sector, b, sb, sourceStart_);
        if (!v) continue;
        if (std::find(volumes_.begin(), volumes_.end(), *v) != volumes_.end()) continue;
        if (volumes_.size() >= kMaxVolumes) {
            ++dropped_.volumes;
            break;
        }
        volumes_.push_back(*v);
        // What the new volume explains is no longer a loose sighting.
        std::erase_if(sightings_, [&](const std::pair<uint32_t, uint64_t>& s) {
            return v->ClusterSector(s.first, 0) == s.second;
        });
        PlacePendingFiles(true);
        return;
    }
    if (sightings_.size() >= kMaxSightings) {
        ++dropped_.sightings;
        return;
    }
    sightings_.emplace_back(cluster, sector);
}

// ---- the handlers ----

void DeepFatSearch::HandleFolderStart(std::span<const std::byte> sector,
                                                 uint64_t absoluteSector) {
    if (!IsDotPair(sector)) return;
    const uint32_t cluster = FatEntryView(sector).Cluster();
    int volume = VolumeStartingClusterAt(cluster, absoluteSector);
    if (volume < 0 && cluster >= 2) {
        TrySightings(cluster, absoluteSector);
        volume = VolumeStartingClusterAt(cluster, absoluteSector);
    }
    const uint32_t folder = ParseAndJoin(sector, volume, cluster, absoluteSector, absoluteSector);
    // The folder's following sectors belong to it.
    last_ = volume >= 0 ? Placement{volume, folder, absoluteSector} : Placement{};
}

void DeepFatSearch::HandleDirectorySector(std::span<const std::byte> sector,
                                                     uint64_t absoluteSector) {
    if (sector.size() < kFatEntryBytes) return;
    if (auto fragment = TakeFragment(sector, absoluteSector)) {
        std::vector<std::byte> joined = std::move(fragment->bytes);
        joined.insert(joined.end(), sector.begin(), sector.end());
        const uint32_t folder = ParseAndJoin(joined, fragment->volume, fragment->folder,
                                             fragment->dataSector, absoluteSector);
        if (fragment->volume >= 0) last_ = {fragment->volume, folder, absoluteSector};
        return;
    }
    if (last_.volume >= 0 && absoluteSector > last_.sector &&
        absoluteSector - last_.sector <=
            volumes_[static_cast<size_t>(last_.volume)].sectorsPerCluster) {
        last_.cluster =
            ParseAndJoin(sector, last_.volume, last_.cluster, absoluteSector, absoluteSector);
        last_.sector = absoluteSector;
        return;
    }
    if (const int volume = VolumeWithClusterStartAt(absoluteSector); volume >= 0) {
        const uint32_t folder = ParseAndJoin(sector, volume, ClusterAt(volume, absoluteSector),
                                             absoluteSector, absoluteSector);
        last_ = {volume, folder, absoluteSector};
        return;
    }
    if (saved_.size() >= kMaxSavedSectors) {
        ++dropped_.savedSectors;
        return;
    }
    saved_[absoluteSector] = SavedSector{false, {sector.begin(), sector.end()}};
}

// ---- long-name fragments ----

std::optional<DeepFatSearch::Fragment> DeepFatSearch::TakeFragment(
    std::span<const std::byte> sector, uint64_t absoluteSector) {
    const auto it = fragments_.find(absoluteSector);
    if (it == fragments_.end() || !ContinuesRun(it->second.checksum, sector)) return std::nullopt;
    Fragment fragment = std::move(it->second);
    fragments_.erase(it);
    return fragment;
}

void DeepFatSearch::KeepFragment(Fragment fragment) {
    const uint64_t next = fragment.lastSector + 1;
    if (fragments_.size() >= kMaxFragments && !fragments_.count(next)) {
        ++dropped_.fragments;
        return;
    }
    fragments_[next] = std::move(fragment);
}

uint32_t DeepFatSearch::ParseAndJoin(std::span<const std::byte> data, int volume,
                                                uint32_t folder, uint64_t dataSector,
                                                uint64_t lastSector) {
    ParseResult result = Parse(data, volume, folder, dataSector, lastSector);
    std::vector<std::byte> joined;
    while (result.fragment) {
        Fragment fragment = std::move(*result.fragment);
        result.fragment.reset();
        const auto it = saved_.find(fragment.lastSector + 1);
        if (it == saved_.end() || it->second.used ||
            !ContinuesRun(fragment.checksum, it->second.bytes)) {
            KeepFragment(std::move(fragment));
            break;
        }
        // The sector after the cut came earlier and was kept: join them now.
        it->second.used = true;
        joined = std::move(fragment.bytes);
        joined.insert(joined.end(), it->second.bytes.begin(), it->second.bytes.end());
        result = Parse(joined, fragment.volume, fragment.folder, fragment.dataSector, it->first);
    }
    return result.folder;
}

// ---- parsing directory data ----

uint32_t DeepFatSearch::FixCurrentFolder(std::span<const std::byte> data, int volume,
                                                    uint32_t folder, uint64_t& dataSector) {
    const FatEntryView first(data);
    if (first.IsVolumeLabel() && IsPlausibleFatEntry(data)) {
        if (volume >= 0 && rootCluster_ >= 2) dataSector = ClusterSector(volume, rootCluster_);
        return rootCluster_;
    }
    if (IsDotPair(data)) return first.Cluster();
    if (volume < 0) return folder;
    if (folder >= 2 && ReadFirstSector(volume, folder, scratch_)) {
        if (IsDotPair(scratch_) && FatEntryView(scratch_).Cluster() == folder) return folder;
        // The root folder of a FAT32 volume starts with its label, not with a dot pair.
        if (FatEntryView(scratch_).IsVolumeLabel() && IsPlausibleFatEntry(scratch_))
            return rootCluster_;
    }
    // A subfolder's ".." names the folder these entries lie in.
    std::vector<std::byte> sub;
    for (size_t off = 0; off + kFatEntryBytes <= data.size(); off += kFatEntryBytes) {
        const auto bytes = data.subspan(off);
        const FatEntryView e(bytes);
        if (e.First() == 0) break;
        if (!e.IsFolder() || e.IsDotName() || e.IsDotDotName() || !IsPlausibleFatEntry(bytes))
            continue;
        if (ShortEntryName(e, true).empty()) continue;
        uint32_t cluster = e.Cluster();
        if (e.IsDeleted() && e.HighCluster() == 0 && GuessesHighWord(volume))
            cluster = GuessFolderCluster(VolumeView(volume), e.LowCluster(), OneSectorRead(), sub);
        if (cluster < 2) continue;
        if (!ReadFirstSector(volume, cluster, sub)) break;
        if (!BytesEqual(sub, 0, ". ")) continue;
        if (const auto parent = DotDotCluster(sub)) return *parent == 0 ? rootCluster_ : *parent;
    }
    return folder;
}

DeepFatSearch::ParseResult DeepFatSearch::Parse(
    std::span<const std::byte> data, int volume, uint32_t folder, uint64_t dataSector,
    uint64_t lastSector) {
    ParseResult result;
    if (data.size() < kFatEntryBytes) return result;
    folder = FixCurrentFolder(data, volume, folder, dataSector);
    LongNameGatherer names;
    size_t runStart = 0;
    for (size_t off = 0; off + kFatEntryBytes <= data.size(); off += kFatEntryBytes) {
        const auto bytes = data.subspan(off);
        const FatEntryView e(bytes);
        if (e.First() == 0) {
            names.Clear();
            break;
        }
        if (!IsPlausibleFatEntry(bytes)) {
            names.Clear();
            continue;
        }
        if (e.IsLongName()) {
            if (names.Empty()) runStart = off;
            if (!names.Add(e)) {
                // Too long for one name: what came before was not this name's.
                names.Clear();
                runStart = off;
                names.Add(e);
            }
            continue;
        }
        if (e.IsFolder()) {
            if (e.IsDotName()) {
                if (e.Cluster() >= 2) folder = e.Cluster();
            } else if (!e.IsDotDotName()) {
                FolderEntryFound(e, EntryName(names, e, true), volume, folder, dataSector);
            }
        } else if ((e.Attr() & kFatAttrArchive) != 0 && !e.IsVolumeLabel()) {
            FileEntryFound(e, EntryName(names, e, false), volume, folder, dataSector);
        }
        names.Clear();
    }
    if (!names.Empty()) {
        Fragment fragment;
        fragment.checksum = FatEntryView(data.subspan(runStart)).LfnChecksumByte();
        fragment.volume = volume;
        fragment.folder = folder;
        fragment.dataSector = dataSector;
        fragment.lastSector = lastSector;
        fragment.bytes.assign(data.begin() + static_cast<ptrdiff_t>(runStart), data.end());
        result.fragment = std::move(fragment);
    }
    result.folder = folder;
    return result;
}

namespace {

FoundRecord EntryRecord(const FatEntryView& e, const std::string& name, uint16_t sourceTag) {
    FoundRecord r = EmptyRecord();
    r.sourceTag = sourceTag;
    r.origin = static_cast<uint32_t>(RecordOrigin::DeepFat);
    const FatEntryTimes t = ReadFatEntryTimes(e);
    r.created = t.created;
    r.accessed = t.accessed;
    r.modified = t.modified;
    r.key = e.Cluster();
    r.SetName(name);
    return r;
}

}  // namespace

void DeepFatSearch::FolderEntryFound(const FatEntryView& e, const std::string& name,
                                                int volume, uint32_t folder, uint64_t dataSector) {
    FoundRecord r = EntryRecord(e, name, sourceTag_);
    if (e.IsDeleted() && e.HighCluster() == 0 && GuessesHighWord(volume))
        r.key = GuessFolderCluster(VolumeView(volume), e.LowCluster(), OneSectorRead(), scratch_);
    r.isFolder = 1;
    r.contentIntact = 1;
    r.folderDeleted = e.IsDeleted() ? 1 : 0;
    r.location = dataSector;
    FillGeometry(r, volume);
    const uint32_t cluster = r.key;
    if (cluster >= 2 && cluster != folder && cluster != rootCluster_) {
        const auto it = folders_.find(cluster);
        if (it == folders_.end()) {
            if (folders_.size() >= kMaxFolders) {
                ++dropped_.folders;
            } else {
                folders_[cluster] = FolderEntry{r, folder, volume, dataSector};
            }
        } else if (!(e.IsDeleted() && it->second.record.folderDeleted == 0)) {
            // A live entry of the folder wins over a deleted, older one.
            it->second = FolderEntry{r, folder, volume, dataSector};
        }
    }
    RegisterFolderChain(volume, folder);
}

void DeepFatSearch::FileEntryFound(const FatEntryView& e, const std::string& name,
                                              int volume, uint32_t folder, uint64_t dataSector) {
    FoundRecord r = EntryRecord(e, name, sourceTag_);
    r.size = e.Size();
    r.location = dataSector;
    const bool guess = e.IsDeleted() && e.HighCluster() == 0;
    if (volume >= 0) {
        WriteFile(r, folder, volume, guess);
        return;
    }
    if (pending_.size() >= kMaxPendingFiles) {
        ++dropped_.pendingFiles;
        return;
    }
    pending_.push_back(PendingFile{r, folder, guess, false});
}

void DeepFatSearch::WriteFile(FoundRecord record, uint32_t parent, int volume,
                                         bool guessHighWord) {
    ScanLogStore* store = Store();
    if (store == nullptr) return;
    FillGeometry(record, volume);
    const std::string_view extension = ExtensionOf(record.Name());
    if (guessHighWord && GuessesHighWord(volume)) {
        FatContentCheck check = [this](std::span<const std::byte> bytes, std::string_view ext,
                                       uint64_t sector) {
            return CheckFileContent(bytes, ext, source_, static_cast<int>(sectorSize_), sector) !=
                   0;
        };
        record.key = GuessFileCluster(VolumeView(volume), static_cast<uint16_t>(record.key),
                                      extension, check, OneSectorRead(), scratch_);
    }
    record.contentIntact = ContentIntact(record.key, extension, volume) ? 1 : 0;
    const uint64_t parentKey = FolderKey(parent, Depth(volume, parent));
    FoundRecord& slot = store->NewRecord();
    const uint32_t index = slot.recordIndex;
    slot = record;
    slot.recordIndex = index;
    store->Link(parentKey, index, record.key);
    RegisterFolderChain(volume, parent);
}

void DeepFatSearch::RegisterFolderChain(int volume, uint32_t folder) {
    if (volume < 0) return;
    uint32_t f = folder;
    for (int step = 0; step < kMaxChainSteps && f >= 2 && f != rootCluster_; ++step) {
        if (known_.count(f) != 0) return;  // registered with its ancestors before
        if (known_.size() >= kMaxFolders) {
            ++dropped_.folders;
            return;
        }
        known_[f] = KnownFolder{volume, ClusterSector(volume, f)};
        std::optional<uint32_t> parent;
        if (const auto it = folders_.find(f); it != folders_.end()) {
            parent = it->second.parent;
            if (it->second.volume >= 0) volume = it->second.volume;
        } else {
            parent = ParentOnDisk(volume, f);
        }
        if (!parent || *parent == f) return;
        f = *parent;
    }
}

// ---- the end of the pass ----

void DeepFatSearch::PlacePendingFiles(bool exactOnly) {
    if (pending_.empty()) return;
    if (exactOnly) {
        // A file read from a folder's first sector lies in the volume where that folder starts
        // at that sector. Only volumes not tried yet can place more.
        for (size_t v = exactTried_; v < volumes_.size(); ++v) {
            for (PendingFile& p : pending_) {
                if (p.placed || ClusterSector(static_cast<int>(v), p.parent) != p.record.location)
                    continue;
                WriteFile(p.record, p.parent, static_cast<int>(v), p.guessHighWord);
                p.placed = true;
            }
        }
        exactTried_ = volumes_.size();
    } else {
        for (PendingFile& p : pending_) {
            if (p.placed) continue;
            const int v = NearestVolume(p.record.location);
            if (v < 0) {
                ++dropped_.unplacedFiles;
                continue;
            }
            WriteFile(p.record, p.parent, v, p.guessHighWord);
            p.placed = true;
        }
    }
    std::erase_if(pending_, [](const PendingFile& p) { return p.placed; });
}

void DeepFatSearch::FlushSavedSectors() {
    Placement here;
    for (auto& [sector, saved] : saved_) {
        if (saved.used) continue;
        saved.used = true;
        if (auto fragment = TakeFragment(saved.bytes, sector)) {
            std::vector<std::byte> joined = std::move(fragment->bytes);
            joined.insert(joined.end(), saved.bytes.begin(), saved.bytes.end());
            ParseAndJoin(joined, fragment->volume, fragment->folder, fragment->dataSector, sector);
            continue;
        }
        if (const int v = VolumeWithClusterStartAt(sector); v >= 0) {
            here = {v, ParseAndJoin(saved.bytes, v, ClusterAt(v, sector), sector, sector), sector};
            continue;
        }
        if (here.volume >= 0 && sector > here.sector &&
            sector - here.sector <= volumes_[static_cast<size_t>(here.volume)].sectorsPerCluster) {
            here.cluster = ParseAndJoin(saved.bytes, here.volume, here.cluster, sector, sector);
            here.sector = sector;
            continue;
        }
        const int v = NearestVolume(sector);
        ParseAndJoin(saved.bytes, v, v >= 0 ? ClusterAt(v, sector) : rootCluster_, sector, sector);
    }
    saved_.clear();
}

void DeepFatSearch::WriteFolderRecords() {
    ScanLogStore* store = Store();
    if (store == nullptr) return;
    for (const auto& [cluster, known] : known_) {
        FoundRecord record;
        uint32_t parent = rootCluster_;
        int volume = known.volume;
        std::string name;
        if (const auto it = folders_.find(cluster); it != folders_.end()) {
            record = it->second.record;
            parent = it->second.parent;
            if (it->second.volume >= 0) volume = it->second.volume;
            name = std::string(record.Name());
        } else {
            // The folder's own entry was never found: it is named after its first cluster and
            // filed under the folder its ".." names.
            record = EmptyRecord();
            record.sourceTag = sourceTag_;
            record.origin = static_cast<uint32_t>(RecordOrigin::DeepFat);
            record.isFolder = 1;
            record.key = cluster;
            record.location = known.firstSector;
            name = "LostFolder" + std::to_string(cluster);
            record.SetName(name);
            parent = ParentOnDisk(volume, cluster).value_or(rootCluster_);
        }
        record.contentIntact = 1;
        FillGeometry(record, volume);
        if (parent == cluster) parent = rootCluster_;
        const uint64_t parentKey = FolderKey(parent, Depth(volume, parent));
        FoundRecord& slot = store->NewRecord();
        const uint32_t index = slot.recordIndex;
        slot = record;
        slot.recordIndex = index;
        store->Link(parentKey, index, cluster, name);
    }
}

void DeepFatSearch::Finish() {
    FlushSavedSectors();
    // Files are placed before the folders are written, so that the folders they bring along
    // are written too.
    exactTried_ = 0;
    PlacePendingFiles(true);
    PlacePendingFiles(false);
    WriteFolderRecords();
    if (dropped_.Total() != 0) {
        std::fprintf(stderr,
                     "keltra: deep FAT search: limits reached, not kept: %llu volumes, %llu "
                     "folder starts, %llu directory sectors, %llu long-name tails, %llu files "
                     "without a volume, %llu folders; %llu files found where no volume was "
                     "known\n",
                     static_cast<unsigned long long>(dropped_.volumes),
                     static_cast<unsigned long long>(dropped_.sightings),
                     static_cast<unsigned long long>(dropped_.savedSectors),
                     static_cast<unsigned long long>(dropped_.fragments),
                     static_cast<unsigned long long>(dropped_.pendingFiles),
                     static_cast<unsigned long long>(dropped_.folders),
                     static_cast<unsigned long long>(dropped_.unplacedFiles));
    }
    sightings_.clear();
    saved_.clear();
    fragments_.clear();
    pending_.clear();
    folders_.clear();
    known_.clear();
    depthCache_.clear();
    last_ = {};
    if (ScanLogStore* store = Store()) store->Flush();
}

// ---- reading found files ----

std::optional<uint64_t> DeepFatSearch::FirstDataSector(const FoundRecord& record) const {
    const auto origin = static_cast<RecordOrigin>(record.origin);
    // exFAT records place their clusters the same way (key 0: an empty file).
    const bool exFat = origin == RecordOrigin::QuickExFat || origin == RecordOrigin::DeepExFat;
    if (exFat && record.key < 2) return std::nullopt;
    if (origin != RecordOrigin::QuickFat && origin != RecordOrigin::DeepFat && !exFat) {
        return std::nullopt;
    }
    if (record.clusterBytes <= 0 || record.clusterBytes % sectorSize_ != 0) return std::nullopt;
    const uint64_t dataStart = record.partitionStart + record.dataAreaStart;
    if (record.key == 0) {
        if (dataStart < kAssumedRootAreaSectors) return std::nullopt;
        return dataStart - kAssumedRootAreaSectors;
    }
    if (record.key < 2) return std::nullopt;
    return dataStart +
           uint64_t{record.key - 2} * (static_cast<uint32_t>(record.clusterBytes) / sectorSize_);
}

Status DeepFatSearch::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                              const DataSink& sink) {
    if (!source_.IsOpen()) return kErrInvalidParameter;
    if (record.clusterBytes <= 0 || record.clusterBytes % sectorSize_ != 0)
        return kErrInvalidParameter;
    FatFileLayout layout;
    layout.bytesPerSector = sectorSize_;
    const uint64_t sectorsPerCluster = static_cast<uint32_t>(record.clusterBytes) / sectorSize_;
    // Where the boot sector's volume is the record's, its FAT tells which clusters are in use.
    const bool bootVolume = firstVolumeIsBoot_ && record.partitionStart == sourceStart_ &&
                            record.dataAreaStart == bootGeometry_.dataAreaStart &&
                            sectorsPerCluster == bootGeometry_.sectorsPerCluster;
    if (bootVolume) {
        layout.rootDirSectors = bootGeometry_.rootDirSectors;
        layout.maxCluster = bootGeometry_.MaxCluster();
        if (bootTable_.IsLoaded()) layout.table = &bootTable_;
    } else {
        layout.rootDirSectors = kAssumedRootAreaSectors;
        const uint64_t dataStart = record.partitionStart + record.dataAreaStart;
        const uint64_t end = source_.totalSectors;
        const uint64_t clusters = end > dataStart ? (end - dataStart) / sectorsPerCluster : 0;
        layout.maxCluster = static_cast<uint32_t>(std::min<uint64_t>(clusters + 1, UINT32_MAX));
    }
    return ReadFatFileData(source_, layout, record, maxBytes, sink);
}

}  // namespace keltra
