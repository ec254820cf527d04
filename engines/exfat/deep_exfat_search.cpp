#include "engines/exfat/deep_exfat_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <filesystem>

#include "engines/carving/carve_at_sector.h"
#include "engines/exfat/exfat_directory_sector.h"
#include "engines/exfat/exfat_sightings_file.h"
#include "engines/extension_categories.h"
#include "engines/fat/fat_directory_walker.h"
#include "engines/layouts/boot_area.h"
#include "engines/layouts/exfat_geometry.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

namespace {

// exFAT clusters are at most 32 MiB.
constexpr uint64_t kMaxClusterBytes = 32ull * 1024 * 1024;
// The boot regions and the FAT come before the heap: at least 24 sectors.
constexpr uint64_t kSectorsBeforeHeap = 24;
// The last cluster number exFAT allows.
constexpr uint64_t kMaxClusters = 0xFFFFFFF5;

}  // namespace

Status DeepExFatSearch::OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                                   uint64_t sectorCount, uint16_t sourceTag) {
    if (source_.IsOpen()) return kOk;
    if (sectorSize < 512 || sectorSize > kBootAreaBytes || !std::has_single_bit(sectorSize))
        return kErrInvalidParameter;
    source_ = std::move(source);
    sectorSize_ = sectorSize;
    sourceStart_ = startSector;
    sourceSectors_ = sectorCount;
    sourceTag_ = sourceTag;
    return kOk;
}

Status DeepExFatSearch::Begin(const PassStart& start) {
    // The pass's own source is open: what this open could fail on is a boot area that cannot
    // be read, which leaves the search to the sectors alone.
    static_cast<void>(Open(start.source));
    SetLogFolder(start.folder);
    const Status status = OpenLog(start.resumedLog(kDeepExFatLogPrefix));
    // A boot area that cannot be read leaves the search to the sectors alone: a damaged disk is
    // what it is for.
    static_cast<void>(ReadBootRegion());
    return status;
}

SpanVerdict DeepExFatSearch::Examine(std::span<const std::byte> span, uint64_t firstSector,
                                     PassPosition& /*at*/) {
    ExamineFirstSector(span, firstSector);
    return {};
}

std::unique_ptr<SectorScreen> DeepExFatSearch::MakeScreen(int sectorSize) const {
    // Examine's own first test: it needs the sector alone.
    if (sectorSize <= 0 || static_cast<uint32_t>(sectorSize) != sectorSize_) return nullptr;
    const auto test = [](std::span<const std::byte> sector) {
        return HasOnlyExFatEntryTypes(sector);
    };
    return std::make_unique<EachSectorScreen<decltype(test)>>(sectorSize, test);
}

Status DeepExFatSearch::Finish(const PassEnd& end) {
    return Finish(end.listedByQuickScan);
}

void DeepExFatSearch::ClearSearch() {
    boot_.reset();
    dirs_.clear();
    sets_.clear();
    heaps_.clear();
    upcaseSightings_.clear();
    upcase_ = ExFatUpcase();
    upcaseFound_ = false;
    nextFolderKey_ = 2;
    dropped_ = {};
}

Status DeepExFatSearch::OpenLog(const std::optional<std::string>& resumeLogName) {
    ClearSearch();
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    openedFolder_ = folder;
    sightingsCoverLog_ = true;
    if (!resumeLogName) {
        return StartNewLog(folder,
                           MakeLogName(kDeepExFatLogPrefix, static_cast<int64_t>(sourceStart_)));
    }
    const Status status = ReopenLog(folder, *resumeLogName);
    const std::string path = (std::filesystem::path(folder) / *resumeLogName).string();
    if (!LoadExFatSightings(ExFatSightingsPath(path), dirs_, sets_, upcaseSightings_)) {
        sightingsCoverLog_ = false;
        // Folder keys taken again would file new finds under the wrong folders.
        if (status == kOk) return NoteUsedKeys();
    }
    return status;
}

Status DeepExFatSearch::EmptyLog() {
    const std::string name = Store()->LogName();
    CloseLog();
    const std::filesystem::path main = std::filesystem::path(openedFolder_) / name;
    std::error_code ec;
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) {
        std::filesystem::remove(main.string() + suffix, ec);
    }
    return StartNewLog(openedFolder_, name);
}

Status DeepExFatSearch::NoteUsedKeys() {
    ScanLogStore* store = Store();
    if (store == nullptr) return kOk;
    return store->ForEachRecord([this](const FoundRecord& r) {
        if (r.isFolder != 0 && r.key >= nextFolderKey_ && r.key < UINT32_MAX)
            nextFolderKey_ = r.key + 1;
        return true;
    });
}

Status DeepExFatSearch::ReadBootRegion() {
    if (!source_.IsOpen()) return kErrInvalidParameter;
    boot_.reset();
    std::array<std::byte, kBootAreaBytes> boot{};
    if (const Status s = ReadBootArea(source_, sourceStart_, sectorSize_, boot); s != kOk) return s;
    const auto geometry = ReadExFatGeometry(boot);
    if (!geometry || geometry->bytesPerSector != sectorSize_) return kOk;
    ExFatVolume volume;
    volume.source = &source_;
    volume.start = sourceStart_;
    const uint64_t end = std::min(source_.totalSectors, sourceStart_ + sourceSectors_);
    volume.sectors = end > sourceStart_ ? end - sourceStart_ : 0;
    volume.geometry = *geometry;
    boot_ = volume;
    bootMap_.Bind(source_, volume.start, volume.geometry);
    return kOk;
}

void DeepExFatSearch::ExamineSectors(std::span<const std::byte> sectors, uint64_t firstSector) {
    const size_t count = sectors.size() / sectorSize_;
    for (size_t i = 0; i < count; ++i) {
        ExamineFirstSector(sectors.subspan(i * sectorSize_), firstSector + i);
    }
}

void DeepExFatSearch::ExamineFirstSector(std::span<const std::byte> from, uint64_t firstSector) {
    if (from.size() < sectorSize_ || !HasOnlyExFatEntryTypes(from.first(sectorSize_))) return;
    if (from.size() >= sectorSize_ + kExFatSetTailBytes) {
        ExamineSector(from, firstSector);
        return;
    }
    // A set may run on past the span: the sectors after it are read from the source.
    const uint32_t more =
        static_cast<uint32_t>((kExFatSetTailBytes + sectorSize_ - 1) / sectorSize_);
    tail_.assign(from.begin(), from.begin() + sectorSize_);
    tail_.resize(size_t{sectorSize_} * (1 + more));
    const uint64_t next = firstSector + 1;
    uint32_t read = 0;
    if (next < source_.totalSectors) {
        const auto want =
            static_cast<uint32_t>(std::min<uint64_t>(more, source_.totalSectors - next));
        IgnoreStatus(ReadSectors(source_, want, std::span(tail_).subspan(sectorSize_), next,
                                 static_cast<int>(sectorSize_), read),
                     "the set is examined as far as the tail was read");
    }
    tail_.resize(size_t{sectorSize_} * (1 + read));
    ExamineSector(tail_, firstSector);
}

void DeepExFatSearch::ExamineSector(std::span<const std::byte> bytes, uint64_t sector) {
    ExFatDirectorySector found = ReadExFatDirectorySector(bytes, sectorSize_);
    if (!found.directory) return;
    if (dirs_.size() >= kMaxDirSectors) {
        ++dropped_.dirSectors;
        return;
    }
    dirs_.push_back({sector, found.startsWithPrimary, found.endOfDirectory, found.rootEntries});
    // A continued pass goes over its last chunk again: a table met there is kept once.
    if (found.upcase && upcaseSightings_.size() < kExFatMaxUpcaseSightings &&
        std::none_of(upcaseSightings_.begin(), upcaseSightings_.end(),
                     [&](const ExFatUpcaseSighting& u) { return u.sector == sector; })) {
        upcaseSightings_.push_back({sector, *found.upcase, found.upcaseChecksum});
    }
    for (ExFatSetSighting& s : found.sets) {
        if (sets_.size() >= kMaxSets) {
            ++dropped_.sets;
            continue;
        }
        sets_.push_back({sector, s.offset, std::move(s.set)});
    }
}

std::vector<ExFatHeap> DeepExFatSearch::RankedHeaps() const {
    std::vector<uint32_t> firstClusters;
    for (const ExFatFoundSet& f : sets_) {
        if (f.set.IsFolder()) firstClusters.push_back(f.set.stream.firstCluster);
    }
    std::vector<uint64_t> starts;
    for (const ExFatDirSighting& d : dirs_) {
        if (d.startsWithPrimary) starts.push_back(d.sector);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    const auto maxPerCluster = static_cast<uint32_t>(kMaxClusterBytes / sectorSize_);
    std::vector<ExFatHeap> heaps =
        InferExFatHeaps(firstClusters, starts, sourceStart_ + kSectorsBeforeHeap, maxPerCluster);
    if (boot_) {
        ExFatHeap heap{boot_->geometry.sectorsPerCluster,
                       boot_->start + boot_->geometry.clusterHeapOffset, 0};
        heap.folders = CountPlacedFolders(heap, firstClusters, starts);
        std::erase(heaps, heap);
        // The boot region's heap goes before every inferred one that places no more folders.
        const auto at = std::find_if(heaps.begin(), heaps.end(), [&heap](const ExFatHeap& h) {
            return h.folders <= heap.folders;
        });
        heaps.insert(at, heap);
    }
    return heaps;
}

Status DeepExFatSearch::Finish(const std::function<bool(const FoundRecord&)>& listedElsewhere) {
    std::sort(dirs_.begin(), dirs_.end());
    // A sector the pass met twice (a continued pass goes over its last chunk again) counts once.
    dirs_.erase(std::unique(dirs_.begin(), dirs_.end(),
                            [](const ExFatDirSighting& a, const ExFatDirSighting& b) {
                                return a.sector == b.sector;
                            }),
                dirs_.end());
    std::sort(sets_.begin(), sets_.end(), [](const ExFatFoundSet& a, const ExFatFoundSet& b) {
        return a.sector != b.sector ? a.sector < b.sector : a.offset < b.offset;
    });
    sets_.erase(std::unique(sets_.begin(), sets_.end(),
                            [](const ExFatFoundSet& a, const ExFatFoundSet& b) {
                                return a.sector == b.sector && a.offset == b.offset;
                            }),
                sets_.end());
    if (ScanLogStore* store = Store(); store != nullptr && store->IsOpen()) {
        const std::string path = (std::filesystem::path(openedFolder_) / store->LogName()).string();
        if (sightingsCoverLog_) {
            if (store->RecordCount() != 0) {
                if (const Status s = EmptyLog(); s != kOk) return s;
            }
            nextFolderKey_ = 2;
            // A continued pass takes them up again; without them it adds to the log.
            if (SaveExFatSightings(ExFatSightingsPath(path), dirs_, sets_, upcaseSightings_) != kOk)
                sightingsCoverLog_ = false;
        }
    }
    heaps_ = RankedHeaps();
    LoadUpcase();
    ExFatTreeRebuild rebuild(heaps_, dirs_, sets_, sectorSize_);
    rebuild.UseUpcase(upcase_);
    const std::vector<ExFatTreeNode> nodes = rebuild.Build();
    dropped_.unplacedFiles += rebuild.Unplaced();
    WriteNodes(nodes, listedElsewhere);
    if (dropped_.sets + dropped_.dirSectors != 0) {
        std::fprintf(stderr,
                     "keltra: deep exFAT search: limits reached, not kept: %llu entry sets, %llu "
                     "directory sectors\n",
                     static_cast<unsigned long long>(dropped_.sets),
                     static_cast<unsigned long long>(dropped_.dirSectors));
    }
    ScanLogStore* store = Store();
    return store != nullptr ? store->Flush() : kOk;
}

void DeepExFatSearch::LoadUpcase() {
    upcase_ = ExFatUpcase();
    upcaseFound_ = false;
    // A full table maps 65,536 characters: 128 KiB. mkfs writes it in one run of clusters.
    constexpr uint64_t kMaxTableBytes = 0x20000;
    const uint64_t end = std::min(source_.totalSectors, sourceStart_ + sourceSectors_);
    std::vector<std::byte> table;
    for (const ExFatUpcaseSighting& seen : upcaseSightings_) {
        const uint64_t bytes = seen.table.length;
        if (bytes == 0 || bytes > kMaxTableBytes || bytes % 2 != 0 || seen.table.firstCluster < 2)
            continue;
        const auto count = static_cast<uint32_t>((bytes + sectorSize_ - 1) / sectorSize_);
        for (const ExFatHeap& heap : heaps_) {
            if (seen.sector < heap.heapStart) continue;
            const uint64_t first = heap.ClusterSector(seen.table.firstCluster);
            if (first >= end || count > end - first) continue;
            table.assign(size_t{count} * sectorSize_, std::byte{0});
            uint32_t read = 0;
            if (ReadSectors(source_, count, table, first, static_cast<int>(sectorSize_), read) !=
                    kOk ||
                read != count) {
                continue;
            }
            table.resize(static_cast<size_t>(bytes));
            if (ExFatUpcase::TableChecksum(table) != seen.checksum) continue;
            upcase_.Load(table);
            upcaseFound_ = true;
            return;
        }
    }
}

FoundRecord DeepExFatSearch::SetRecord(const ExFatFoundSet& found, const ExFatHeap& heap) const {
    const ExFatEntrySet& set = found.set;
    FoundRecord r = EmptyRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::DeepExFat);
    r.clusterBytes = static_cast<int32_t>(heap.sectorsPerCluster * sectorSize_);
    r.created = set.created;
    r.accessed = set.accessed;
    r.modified = set.modified;
    r.key = set.stream.firstCluster;
    r.partitionStart = sourceStart_;
    r.dataAreaStart = heap.heapStart - std::min(heap.heapStart, sourceStart_);
    // The stream extension follows the file entry: the copy reads it again there.
    r.location = found.sector * sectorSize_ + found.offset + kExFatEntryBytes;
    r.folderDeleted = set.deleted ? 1 : 0;
    r.SetName(Utf16ToUtf8(set.name));
    return r;
}

uint64_t DeepExFatSearch::WriteNodes(
    const std::vector<ExFatTreeNode>& nodes,
    const std::function<bool(const FoundRecord&)>& listedElsewhere) {
    ScanLogStore* store = Store();
    if (store == nullptr) return 0;
    // The files first: a folder is written when a file below it is.
    std::vector<FoundRecord> records(nodes.size());
    std::vector<bool> wanted(nodes.size(), false);
    for (size_t i = 0; i < nodes.size(); ++i) {
        const ExFatTreeNode& node = nodes[i];
        if (node.isFolder) continue;
        FoundRecord r = SetRecord(sets_[node.set], heaps_[node.heap]);
        r.size = sets_[node.set].set.stream.length;
        if (listedElsewhere && listedElsewhere(r)) continue;
        r.contentIntact = ContentIntact(r) ? 1 : 0;
        records[i] = r;
        wanted[i] = true;
        for (size_t p = node.parent; p != SIZE_MAX && !wanted[p]; p = nodes[p].parent)
            wanted[p] = true;
    }
    std::vector<uint32_t> keys(nodes.size(), 0);
    uint64_t files = 0;
    // Parents come before their children in `nodes`.
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!wanted[i]) continue;
        const ExFatTreeNode& node = nodes[i];
        FoundRecord r = records[i];
        std::string name;
        if (node.isFolder) {
            const ExFatHeap& heap = heaps_[node.heap];
            if (node.set != SIZE_MAX) {
                r = SetRecord(sets_[node.set], heap);
            } else {
                r = EmptyRecord();
                r.sourceTag = sourceTag_;
                r.origin = static_cast<uint32_t>(RecordOrigin::DeepExFat);
                r.clusterBytes = static_cast<int32_t>(heap.sectorsPerCluster * sectorSize_);
                r.partitionStart = sourceStart_;
                r.dataAreaStart = heap.heapStart - std::min(heap.heapStart, sourceStart_);
                r.location = heap.ClusterSector(node.cluster) * sectorSize_;
                r.SetName("LostFolder" + std::to_string(node.cluster));
            }
            r.isFolder = 1;
            r.contentIntact = 1;
            r.key = nextFolderKey_ < UINT32_MAX ? nextFolderKey_++ : UINT32_MAX;
            keys[i] = r.key;
            name = std::string(r.Name());
        } else {
            ++files;
        }
        const uint64_t parentKey =
            node.parent == SIZE_MAX ? FolderKey(0, 0) : FolderKey(keys[node.parent], node.depth - 1);
        FoundRecord& slot = store->NewRecord();
        const uint32_t index = slot.recordIndex;
        slot = r;
        slot.recordIndex = index;
        if (node.isFolder) {
            store->Link(parentKey, index, r.key, name);
        } else {
            store->Link(parentKey, index, r.key);
        }
    }
    return files;
}

ExFatVolume DeepExFatSearch::VolumeOf(const FoundRecord& record, bool& bootVolume) const {
    const uint64_t heapStart = record.partitionStart + record.dataAreaStart;
    const auto spc = static_cast<uint32_t>(record.clusterBytes) / sectorSize_;
    bootVolume = boot_ && boot_->start + boot_->geometry.clusterHeapOffset == heapStart &&
                 boot_->geometry.sectorsPerCluster == spc;
    if (bootVolume) return *boot_;
    ExFatVolume volume;
    volume.source = &source_;
    volume.start = heapStart;
    const uint64_t end = source_.totalSectors;
    volume.sectors = end > heapStart ? end - heapStart : 0;
    ExFatGeometry& g = volume.geometry;
    g.bytesPerSector = sectorSize_;
    g.sectorsPerCluster = spc;
    g.clusterHeapOffset = 0;
    g.volumeSectors = volume.sectors;
    g.clusterCount = static_cast<uint32_t>(std::min<uint64_t>(volume.sectors / spc, kMaxClusters));
    return volume;
}

ExFatStream DeepExFatSearch::StreamOf(const FoundRecord& record, bool bootVolume) const {
    ExFatStream stream;
    stream.firstCluster = record.key;
    stream.length = record.size;
    stream.validLength = record.size;
    // Without the volume's FAT the clusters are taken to follow one another.
    stream.noFatChain = !bootVolume;
    std::vector<std::byte> sector(sectorSize_);
    uint32_t read = 0;
    const uint64_t at = record.location / sectorSize_;
    if (ReadSectors(source_, 1, sector, at, static_cast<int>(sectorSize_), read) != kOk ||
        read != 1) {
        return stream;
    }
    const auto entry = std::span<const std::byte>(sector).subspan(
        static_cast<size_t>(record.location % sectorSize_ / kExFatEntryBytes * kExFatEntryBytes),
        kExFatEntryBytes);
    if ((Byte(entry, 0) | kExFatInUse) != kExFatStreamEntry || Le32(entry, 20) != record.key ||
        Le64(entry, 24) != record.size) {
        return stream;
    }
    stream.noFatChain = stream.noFatChain || (Byte(entry, 1) & 0x02) != 0;
    stream.validLength = std::min(Le64(entry, 8), record.size);
    return stream;
}

bool DeepExFatSearch::ContentIntact(const FoundRecord& record) {
    const std::string_view extension = ExtensionOf(record.Name());
    if (extension.empty() || record.key < 2 || record.size == 0) return true;
    bool bootVolume = false;
    const ExFatVolume volume = VolumeOf(record, bootVolume);
    if (!volume.geometry.IsDataCluster(record.key)) return true;
    const uint64_t sector = volume.ClusterSector(record.key);
    if (sector >= volume.End()) return true;
    scratch_.resize(sectorSize_);
    uint32_t read = 0;
    if (ReadSectors(source_, 1, scratch_, sector, static_cast<int>(sectorSize_), read) != kOk ||
        read != 1) {
        return true;
    }
    return CheckFileContent(scratch_, extension, source_, static_cast<int>(sectorSize_), sector) !=
           0;
}

Status DeepExFatSearch::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                     const DataSink& sink) {
    if (!source_.IsOpen()) return kErrInvalidParameter;
    if (record.clusterBytes <= 0 || record.clusterBytes % sectorSize_ != 0 ||
        static_cast<uint64_t>(record.clusterBytes) > kMaxClusterBytes) {
        return kErrInvalidParameter;
    }
    bool bootVolume = false;
    const ExFatVolume volume = VolumeOf(record, bootVolume);
    // A map bound to nothing is never asked: without the boot region the data is one run.
    ExFatClusterMap unbound;
    ExFatClusterMap& map = bootVolume ? bootMap_ : unbound;
    return ReadExFatStream(volume, map, StreamOf(record, bootVolume), maxBytes, sink);
}

}  // namespace keltra
