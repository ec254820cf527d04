#include "engines/ntfs/deep_ntfs_search.h"

#include <algorithm>
#include <array>
#include <map>

#include "engines/boot_area.h"
#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_content_check.h"
#include "engines/ntfs/ntfs_fixups.h"
#include "engines/ntfs/ntfs_record_data.h"
#include "engines/ntfs/ntfs_record_parse.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

using namespace ntfs;

namespace {

constexpr size_t kBootReadBytes = 4096;
constexpr uint32_t kMaxSectorsPerCluster = 128;
constexpr size_t kOwnNumberOffset = 44;
constexpr size_t kBaseRecordOffset = 32;
// Folder keys of later volumes carry their tag above the record number's 28 bits.
constexpr uint32_t kKeyTagShift = 28;
constexpr uint32_t kMaxKeyTag = 15;
// What the pass rereads at a FILE record that runs past the end of its span.
constexpr size_t kRecordRereadBytes = 8192;
// The record size the search assumes on a source of this sector size.
uint32_t DeepRecordSize(uint32_t sectorSize) {
    return sectorSize > 512 ? sectorSize : 2 * sectorSize;
}

// The header of a FILE record that a sector may start: signature, sizes and the update
// sequence number repeated at the end of the first 512 bytes.
bool StartsFileRecord(std::span<const std::byte> sector, uint32_t recordSize) {
    if (sector.size() < 512 || !BytesEqual(sector, 0, "FILE")) return false;
    return Le32(sector, 24) <= recordSize && Le32(sector, 28) == recordSize &&
           Le16(sector, 48) == Le16(sector, 510);
}

bool IsPowerOfTwoUpTo(uint64_t v, uint64_t max) {
    return v != 0 && v <= max && (v & (v - 1)) == 0;
}

// The sectors per cluster that a first (VCN 0) non-resident extent implies: its allocated size
// over its clusters; nothing unless that divides exactly into a sane cluster size.
std::optional<uint32_t> SectorsPerClusterOf(const Attribute& data, uint32_t bytesPerSector) {
    if (!data.nonResident || data.bytes.size() < 64 || data.LowestVcn() != 0) return std::nullopt;
    std::vector<DataRun> runs;
    DecodeRunList(data, runs);
    uint64_t clusters = 0;
    for (const DataRun& run : runs) {
        if (__builtin_add_overflow(clusters, run.clusters, &clusters)) return std::nullopt;
    }
    const uint64_t allocated = Le64(data.bytes, 40);
    uint64_t unit = 0;
    if (clusters == 0 || __builtin_mul_overflow(clusters, uint64_t{bytesPerSector}, &unit) ||
        allocated % unit != 0) {
        return std::nullopt;
    }
    const uint64_t spc = allocated / unit;
    if (!IsPowerOfTwoUpTo(spc, kMaxSectorsPerCluster)) return std::nullopt;
    return static_cast<uint32_t>(spc);
}

bool IsMftName(const std::u16string& name) {
    static constexpr std::u16string_view kMft = u"$MFT";
    if (name.size() != kMft.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i] >= u'a' && name[i] <= u'z' ? name[i] - (u'a' - u'A') : name[i];
        if (c != kMft[i]) return false;
    }
    return true;
}

}  // namespace

DeepNtfsSearch::DeepNtfsSearch() = default;

DeepNtfsSearch::~DeepNtfsSearch() {
    CloseLog();
}

Status DeepNtfsSearch::OpenSource(SectorSource source, uint32_t sectorSize,
                                             uint64_t startSector, uint64_t sectorCount,
                                             uint16_t sourceTag) {
    source_ = std::move(source);
    sourceTag_ = sourceTag;
    sourceStart_ = startSector;
    sectorCount_ = sectorCount;
    return FinishOpening(sectorSize);
}

Status DeepNtfsSearch::FinishOpening(uint32_t bytesPerSector) {
    folders_.clear();
    known_.clear();
    assumed_.clear();
    partitionStarts_.clear();
    if (!IsPowerOfTwoUpTo(bytesPerSector, kBootReadBytes) || bytesPerSector < 512) {
        return kErrInvalidParameter;
    }
    bytesPerSector_ = bytesPerSector;
    sectorsPerRecord_ = bytesPerSector == 512 ? 2 : 1;
    recordSize_ = bytesPerSector * sectorsPerRecord_;
    scratch_.assign(recordSize_, std::byte{0});

    // Until a record tells, the cluster size NTFS formats a volume of this size with.
    const uint64_t k = bytesPerSector / 512;
    const uint64_t mib = sectorCount_ / (1048576 / bytesPerSector);  // the source's size
    if (mib > 2048 * k) {
        assumedSectorsPerCluster_ = 8;
    } else if (mib > 1024 * k) {
        assumedSectorsPerCluster_ = 4;
    } else if (mib > 512 * k) {
        assumedSectorsPerCluster_ = 2;
    } else if (mib > 7 * k) {
        assumedSectorsPerCluster_ = 1;
    } else {
        assumedSectorsPerCluster_ = 8;
    }

    // An intact boot sector gives its volume's $MFT at once.
    const uint32_t want = static_cast<uint32_t>(
        std::min<uint64_t>(kBootReadBytes / bytesPerSector, std::max<uint64_t>(sectorCount_, 1)));
    std::array<std::byte, kBootAreaBytes> boot{};
    uint32_t read = 0;
    Status s =
        ReadSectors(source_, want, boot, sourceStart_, static_cast<int>(bytesPerSector), read);
    if (s == kOk && read != want) s = kErrReadFault;
    if (s != kOk) return s;
    Geometry g;
    if (ClassifyBootArea(boot) == SourceClass::Ntfs &&
        GeometryFromBootSector(boot, sourceStart_, sectorCount_, g) == kOk &&
        g.bytesPerSector == bytesPerSector) {
        std::vector<std::byte> record(recordSize_);
        const Geometry volume = VolumeGeometry(sourceStart_, g.sectorsPerCluster);
        const MftMap none;
        if (RecordReader(source_, volume, none).ReadAt(g.mftStart, record) == kOk) {
            AddKnownVolume(g.mftStart, record, g.sectorsPerCluster);
        }
    }
    return kOk;
}

Geometry DeepNtfsSearch::VolumeGeometry(uint64_t partitionStart,
                                                   uint32_t sectorsPerCluster) const {
    Geometry g;
    g.partitionStart = partitionStart;
    g.sectorCount =
        sourceStart_ + sectorCount_ - std::min(partitionStart, sourceStart_ + sectorCount_);
    g.bytesPerSector = bytesPerSector_;
    g.sectorsPerRecord = sectorsPerRecord_;
    g.recordSize = recordSize_;
    g.sectorsPerCluster = sectorsPerCluster;
    return g;
}

std::unique_ptr<DeepNtfsSearch::Volume> DeepNtfsSearch::MakeVolume(
    bool assumed, const Geometry& geometry, MftMap mft) {
    auto v = std::make_unique<Volume>();
    v->assumed = assumed;
    v->geometry = geometry;
    v->mft = std::move(mft);
    v->keyTag = KeyTagOf(geometry.partitionStart);
    const Volume* self = v.get();
    v->walk = FolderWalk([this, self](uint32_t number) { return FolderParent(*self, number); });
    return v;
}

uint32_t DeepNtfsSearch::KeyTagOf(uint64_t partitionStart) {
    const auto it = std::find(partitionStarts_.begin(), partitionStarts_.end(), partitionStart);
    const size_t index = static_cast<size_t>(it - partitionStarts_.begin());
    if (it == partitionStarts_.end()) partitionStarts_.push_back(partitionStart);
    return static_cast<uint32_t>(std::min<size_t>(index, kMaxKeyTag));
}

uint32_t DeepNtfsSearch::FolderKey(const Volume& v, uint32_t number) const {
    if (v.keyTag == 0 || number == kRootRecord || (number >> kKeyTagShift) != 0) return number;
    return number | (v.keyTag << kKeyTagShift);
}

void DeepNtfsSearch::AddKnownVolume(uint64_t mftStart,
                                               std::span<const std::byte> mftRecord,
                                               uint32_t sectorsPerCluster) {
    if (known_.count(mftStart) != 0) return;
    const auto header = ReadRecordHeader(mftRecord);
    if (!header) return;
    const auto data = FindAttribute(mftRecord, *header, kData, true);
    if (!data || !data->nonResident) return;
    std::vector<DataRun> runs;
    DecodeRunList(*data, runs);
    if (runs.empty() || runs.front().sparse) return;
    const uint32_t spc = SectorsPerClusterOf(*data, bytesPerSector_).value_or(sectorsPerCluster);
    // The volume begins the $MFT's first cluster before the $MFT; it cannot begin before the
    // source does.
    uint64_t offset = 0;
    if (__builtin_mul_overflow(runs.front().lcn, uint64_t{spc}, &offset) ||
        offset > mftStart - std::min(mftStart, sourceStart_)) {
        return;
    }
    Geometry g = VolumeGeometry(mftStart - offset, spc);
    g.mftStart = mftStart;
    auto v = MakeVolume(false, g, MftMap(g, runs));
    // The $MFT's later extents, when its attribute list spread them over other records.
    StreamLayout stream;
    if (ReadStream(Reader(*v), mftRecord, kMftRecord, kData, stream) == kOk && !stream.resident &&
        !stream.runs.empty()) {
        MftMap extended(g, std::move(stream.runs));
        if (extended.SectorOfRecord(kMftRecord) == mftStart) v->mft = std::move(extended);
    }
    if (v->mft.SectorOfRecord(kMftRecord) != mftStart) return;
    known_.emplace(mftStart, std::move(v));
}

MftMap DeepNtfsSearch::ContiguousMft(uint64_t number, uint64_t sector) const {
    uint64_t offset = 0;
    const uint64_t end = sourceStart_ + sectorCount_;
    if (__builtin_mul_overflow(number, uint64_t{sectorsPerRecord_}, &offset) ||
        sector < sourceStart_ || offset > sector - sourceStart_ || sector >= end) {
        return MftMap();
    }
    // Counted in sectors: one "cluster" per sector from the assumed record 0 on.
    const uint64_t base = sector - offset;
    const Geometry g = VolumeGeometry(base, 1);
    return MftMap(g, {{0, end - base, false}});
}

DeepNtfsSearch::Volume& DeepNtfsSearch::VolumeOf(uint64_t number,
                                                                       uint64_t sector) {
    for (auto& [start, v] : known_) {
        if (v->mft.SectorOfRecord(number) == sector) return *v;
    }
    // Records of one contiguous MFT share the sector of their record 0 (and so their folders).
    uint64_t offset = 0;
    uint64_t base = UINT64_MAX;  // no contiguous MFT can hold it
    if (!__builtin_mul_overflow(number, uint64_t{sectorsPerRecord_}, &offset) && sector >= offset) {
        base = sector - offset;
    }
    auto& slot = assumed_[base];
    if (!slot) {
        slot = MakeVolume(true, VolumeGeometry(sourceStart_, assumedSectorsPerCluster_),
                          ContiguousMft(number, sector));
    }
    slot->geometry.sectorsPerCluster = assumedSectorsPerCluster_;
    return *slot;
}

Status DeepNtfsSearch::OpenLog(const std::optional<std::string>& resumeLogName) {
    folders_.clear();
    for (auto* volumes : {&known_, &assumed_}) {
        for (auto& [key, v] : *volumes) {
            v->walk.Clear();
            v->foldersTaken = 0;
        }
    }
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    if (resumeLogName) {
        const Status s = ReopenLog(folder, *resumeLogName);
        if (s == kOk) RecallVolumes();
        return s;
    }
    return StartNewLog(folder, MakeLogName(kDeepNtfsLogPrefix, static_cast<int64_t>(sourceStart_)));
}

void DeepNtfsSearch::RecallVolumes() {
    constexpr size_t kTriesPerStart = 8;
    // Where record 0 would lie for each volume start, by the files found in it.
    std::map<uint64_t, std::vector<std::pair<uint64_t, uint32_t>>> candidates;
    std::vector<uint64_t> tagStarts;
    constexpr uint64_t kNoStart = UINT64_MAX;
    Store()->ForEachRecord([&](const FoundRecord& r) {
        if (r.origin != static_cast<uint32_t>(RecordOrigin::DeepNtfs)) return true;
        if (r.isFolder != 0) {
            const uint32_t tag = r.key == kRootRecord ? 0 : r.key >> kKeyTagShift;
            if (tag >= tagStarts.size()) tagStarts.resize(tag + 1, kNoStart);
            if (tagStarts[tag] == kNoStart) tagStarts[tag] = r.partitionStart;
            return true;
        }
        auto& tries = candidates[r.partitionStart];
        uint64_t offset = 0;
        if (tries.size() >= kTriesPerStart ||
            __builtin_mul_overflow(uint64_t{r.key}, uint64_t{sectorsPerRecord_}, &offset) ||
            offset > r.location) {
            return true;
        }
        const uint64_t recordZero = r.location - offset;
        const uint32_t clusterBytes =
            r.clusterBytes > 0 ? static_cast<uint32_t>(r.clusterBytes) : 0;
        uint32_t spc = assumedSectorsPerCluster_;
        if (clusterBytes % bytesPerSector_ == 0 &&
            IsPowerOfTwoUpTo(clusterBytes / bytesPerSector_, kMaxSectorsPerCluster)) {
            spc = clusterBytes / bytesPerSector_;
        }
        if (std::find_if(tries.begin(), tries.end(),
                         [&](const auto& t) { return t.first == recordZero; }) == tries.end()) {
            tries.emplace_back(recordZero, spc);
        }
        return true;
    });
    // The tags first, so that the volumes found again take theirs.
    if (!tagStarts.empty()) partitionStarts_ = tagStarts;
    const MftMap none;
    std::vector<std::byte> record(recordSize_);
    for (const auto& [start, tries] : candidates) {
        for (const auto& [recordZero, spc] : tries) {
            const Geometry g = VolumeGeometry(start, spc);
            if (known_.count(recordZero) != 0 ||
                RecordReader(source_, g, none).ReadAt(recordZero, record) != kOk ||
                Le32(record, 0) != kFileSignature || Le32(record, kOwnNumberOffset) != kMftRecord) {
                continue;
            }
            const auto summary = SummariseRecord(record);
            if (!summary || !summary->hasName || !IsMftName(summary->name)) continue;
            AddKnownVolume(recordZero, record, spc);
            if (known_.count(recordZero) != 0) break;
        }
    }
    for (auto* volumes : {&known_, &assumed_}) {
        for (auto& [key, v] : *volumes) v->keyTag = KeyTagOf(v->geometry.partitionStart);
    }
}

void DeepNtfsSearch::LearnClusterSize(std::span<const std::byte> record) {
    const auto header = ReadRecordHeader(record);
    if (!header) return;
    AttributeWalker walker(record, *header);
    while (auto a = walker.Next()) {
        if (a->type == kAttributeList) return;
        if (a->type != kData) continue;
        if (const auto spc = SectorsPerClusterOf(*a, bytesPerSector_)) {
            assumedSectorsPerCluster_ = *spc;
        }
        return;
    }
}

Status DeepNtfsSearch::HandleFileRecord(std::span<const std::byte> record,
                                                   uint64_t absoluteSector) {
    if (Store() == nullptr || scratch_.empty()) return kErrInvalidParameter;
    if (record.size() < 4 || Le32(record, 0) != kFileSignature) return -1;
    if (record.size() < recordSize_) return kErrInvalidParameter;
    std::vector<std::byte> bytes(record.begin(), record.begin() + recordSize_);
    if ((Le16(bytes, 22) & kRecordIsDirectory) != 0) return kOk;
    ApplyFixups(bytes);
    const uint16_t firstAttribute = Le16(bytes, 20);
    const uint32_t bytesInUse = Le32(bytes, 24);
    if (firstAttribute > bytesInUse || bytesInUse > recordSize_) return kErrInvalidParameter;
    // An extension record belongs to the file its base record describes.
    if (Le32(bytes, kBaseRecordOffset) != 0) return kOk;
    const uint32_t number = Le32(bytes, kOwnNumberOffset);
    if (number != kMftRecord && number <= kLastSystemRecord) return kOk;

    auto summary = SummariseRecord(bytes);
    if (!summary) return kOk;
    if (number == kMftRecord) {
        // A $MFT met in the pass: its volume is known from now on.
        if (summary->hasName && IsMftName(summary->name)) {
            LearnClusterSize(bytes);
            AddKnownVolume(absoluteSector, bytes, assumedSectorsPerCluster_);
        }
        return kOk;
    }
    LearnClusterSize(bytes);
    Volume& v = VolumeOf(number, absoluteSector);
    const RecordReader reader = Reader(v);
    if (!summary->hasName || !summary->hasDataSize) {
        CompleteFromAttributeList(reader, bytes, number, *summary);
    }
    if (!summary->hasName) return kOk;
    const std::string name = Utf16ToUtf8(summary->name);
    const uint32_t depth = DepthOf(v, summary->parent);
    const uint32_t intact = ContentIntact(reader, bytes, number, name);
    AddFound(v, *summary, name, number, absoluteSector, false, intact, depth);
    return kOk;
}

void DeepNtfsSearch::AddFound(const Volume& v, const ntfs::RecordSummary& summary,
                                         const std::string& name, uint32_t number, uint64_t sector,
                                         bool isFolder, uint32_t contentIntact, uint32_t depth) {
    ScanLogStore* store = Store();
    FoundRecord& r = store->NewRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::DeepNtfs);
    r.isFolder = isFolder ? 1 : 0;
    r.contentIntact = contentIntact;
    // A file's key is its record number, which its data is read by; a folder's is its key.
    r.key = isFolder ? FolderKey(v, number) : number;
    r.clusterBytes = static_cast<int32_t>(v.geometry.ClusterBytes());
    r.created = summary.created;
    r.accessed = summary.accessed;
    r.modified = summary.modified;
    r.size = summary.size;
    r.location = sector;
    r.partitionStart = v.geometry.partitionStart;
    r.SetName(name);
    const uint64_t parent = ParentKey(FolderKey(v, summary.parent), depth);
    if (isFolder) {
        store->Link(parent, r.recordIndex, r.key, r.Name());
    } else {
        store->Link(parent, r.recordIndex, r.key);
    }
}

uint32_t DeepNtfsSearch::DepthOf(Volume& v, uint32_t folder) {
    const uint32_t depth = v.walk.DepthOf(folder);
    const auto& keys = v.walk.FolderKeys();
    for (; v.foldersTaken < keys.size(); ++v.foldersTaken) {
        folders_.push_back({keys[v.foldersTaken], &v});
    }
    return depth;
}

std::optional<RecordSummary> DeepNtfsSearch::ReadFolderRecord(const Volume& v,
                                                                         uint32_t number,
                                                                         uint64_t& sector) {
    const auto at = v.mft.SectorOfRecord(number);
    if (!at || Reader(v).ReadAt(*at, scratch_) != kOk || !ReadRecordHeader(scratch_)) {
        return std::nullopt;
    }
    // Where the MFT is only assumed, the sector may hold another record.
    if (Le32(scratch_, kOwnNumberOffset) != number) return std::nullopt;
    auto summary = SummariseRecord(scratch_);
    if (!summary || !summary->header.IsDirectory()) return std::nullopt;
    if (!summary->hasName) CompleteFromAttributeList(Reader(v), scratch_, number, *summary);
    if (!summary->hasName) return std::nullopt;
    sector = *at;
    return summary;
}

std::optional<uint32_t> DeepNtfsSearch::FolderParent(const Volume& v, uint32_t number) {
    uint64_t sector = 0;
    const auto summary = ReadFolderRecord(v, number, sector);
    if (!summary) return std::nullopt;
    return summary->parent;
}

Status DeepNtfsSearch::Finish() {
    if (Store() == nullptr) return kErrInvalidParameter;
    // Writing a folder can meet new folders above it: they join the list while it is walked.
    for (size_t i = 0; i < folders_.size(); ++i) WriteFolder(folders_[i]);
    return kOk;
}

void DeepNtfsSearch::WriteFolder(FolderEntry entry) {
    Volume& v = *entry.volume;
    const uint32_t key = entry.number;
    uint64_t sector = 0;
    const auto summary = ReadFolderRecord(v, key, sector);
    if (!summary) return WriteLostFolder(key, v);
    // The volume's own system folders ($Extend) are not listed.
    if (key <= kLastSystemRecord) return;
    const std::string name = Utf16ToUtf8(summary->name);
    const uint32_t depth = DepthOf(v, summary->parent);
    AddFound(v, *summary, name, key, sector, true, 1, depth);  // no content check for a folder
}

void DeepNtfsSearch::WriteLostFolder(uint32_t key, const Volume& v) {
    ScanLogStore* store = Store();
    FoundRecord& r = store->NewRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::DeepNtfs);
    r.isFolder = 1;
    r.contentIntact = 1;
    r.key = FolderKey(v, key);
    r.clusterBytes = static_cast<int32_t>(v.geometry.ClusterBytes());
    r.partitionStart = v.geometry.partitionStart;
    r.SetName("LostFolder" + std::to_string(key));
    store->Link(ParentKey(kRootRecord, 0), r.recordIndex, r.key, r.Name());
}

const DeepNtfsSearch::Volume& DeepNtfsSearch::VolumeOfFound(
    const FoundRecord& record, Volume& scratch) const {
    const uint64_t location = record.location;
    const uint64_t partitionStart = record.partitionStart;
    const uint32_t key = record.key;
    for (auto& [start, v] : known_) {
        if (v->geometry.partitionStart == partitionStart &&
            v->mft.SectorOfRecord(key) == location) {
            return *v;
        }
    }
    const int32_t clusterBytes = record.clusterBytes;
    uint32_t spc = assumedSectorsPerCluster_;
    if (clusterBytes > 0 && static_cast<uint32_t>(clusterBytes) % bytesPerSector_ == 0 &&
        IsPowerOfTwoUpTo(static_cast<uint32_t>(clusterBytes) / bytesPerSector_,
                         kMaxSectorsPerCluster)) {
        spc = static_cast<uint32_t>(clusterBytes) / bytesPerSector_;
    }
    scratch.geometry = VolumeGeometry(partitionStart, spc);
    scratch.mft = ContiguousMft(key, location);
    return scratch;
}

Status DeepNtfsSearch::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                               const DataSink& sink) {
    if (!source_.IsOpen() || scratch_.empty()) return kErrInvalidParameter;
    Volume scratch;
    const Volume& v = VolumeOfFound(record, scratch);
    const uint64_t size = record.size;
    return ReadRecordFileData(Reader(v), record.location, record.key, std::min(size, maxBytes),
                              sink);
}

uint32_t DeepNtfsSearch::DataForm(const FoundRecord& record) {
    if (!source_.IsOpen() || scratch_.empty() || record.isFolder != 0) return 0;
    Volume scratch;
    return ReadDataForm(Reader(VolumeOfFound(record, scratch)), record.location, record.key);
}

std::optional<uint64_t> DeepNtfsSearch::FirstDataSector(
    const FoundRecord& record) const {
    const auto origin = static_cast<RecordOrigin>(record.origin);
    if ((origin != RecordOrigin::QuickNtfs && origin != RecordOrigin::DeepNtfs) ||
        record.isFolder != 0 || !source_.IsOpen() || scratch_.empty()) {
        return std::nullopt;
    }
    Volume scratch;
    const Volume& v = VolumeOfFound(record, scratch);
    StreamLayout stream;
    if (ReadDataLayout(Reader(v), record.location, record.key, stream) != kOk || stream.resident ||
        stream.runs.empty() || stream.runs.front().sparse) {
        return std::nullopt;
    }
    const uint64_t sector = v.geometry.SectorOfCluster(stream.runs.front().lcn);
    if (sector == UINT64_MAX) return std::nullopt;
    return sector;
}

Status DeepNtfsSearch::Begin(const PassStart& start) {
    // The pass's own source is open: what this open could fail on is a boot area that cannot
    // be read, which leaves the search to the sectors alone.
    static_cast<void>(Open(start.source));
    SetLogFolder(start.folder);
    return OpenLog(start.resumedLog(kDeepNtfsLogPrefix));
}

SpanVerdict DeepNtfsSearch::Examine(std::span<const std::byte> span,
                                               uint64_t firstSector, PassPosition& at) {
    const auto sectorSize = static_cast<uint32_t>(at.sectorSize);
    const std::span<const std::byte> sector = span.first(sectorSize);
    const uint32_t recordSize = DeepRecordSize(sectorSize);
    if (!StartsFileRecord(sector, recordSize)) return {};
    std::span<const std::byte> record = span;
    std::array<std::byte, kRecordRereadBytes> copy;
    if (record.size() < recordSize) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(
            kRecordRereadBytes / sectorSize, at.source.totalSectors - firstSector));
        uint32_t read = 0;
        if (ReadSectors(at.source, want, copy, firstSector, at.sectorSize, read) == kOk) {
            read = want;
        }
        record = std::span<const std::byte>(copy).first(read * sectorSize);
    }
    const bool directory = (Le16(sector, 22) & kRecordIsDirectory) != 0;
    if (!directory && record.size() >= recordSize) {
        HandleFileRecord(record.first(recordSize), firstSector);
    }
    return {1, kOk};
}

void DeepNtfsSearch::Finish(const PassEnd& /*end*/) {
    Finish();
}

}  // namespace keltra
