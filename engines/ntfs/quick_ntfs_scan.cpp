#include "engines/ntfs/quick_ntfs_scan.h"

#include <algorithm>
#include <array>
#include <exception>

#include "engines/carving/carve_at_sector.h"
#include "engines/engine_factory.h"
#include "engines/extension_categories.h"
#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_content_check.h"
#include "engines/ntfs/ntfs_data_copy.h"
#include "engines/ntfs/ntfs_fixups.h"
#include "engines/ntfs/ntfs_record_data.h"
#include "platform/clock.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

using namespace ntfs;

namespace {

// The MFT is read in pieces of this many bytes (4,096 records of 1 KiB), one read call each.
constexpr size_t kChunkBytes = 4 * 1024 * 1024;
constexpr size_t kBootReadBytes = 4096;
constexpr uint64_t kEstimateEveryMs = 5000;

}  // namespace

QuickNtfsScan::QuickNtfsScan()
    : walk_([this](uint32_t number) { return FolderParent(number); }) {}

QuickNtfsScan::~QuickNtfsScan() {
    CloseLog();
}

Status QuickNtfsScan::OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                                     uint64_t sectorCount, uint16_t sourceTag) {
    source_ = std::move(source);
    sourceTag_ = sourceTag;
    geometry_.partitionStart = startSector;
    geometry_.sectorCount = sectorCount;
    return FinishOpening(sectorSize);
}

Status QuickNtfsScan::FinishOpening(uint32_t bootSectorSize) {
    mft_ = MftMap();
    chunk_.clear();
    if (bootSectorSize > kBootReadBytes || kBootReadBytes % bootSectorSize != 0) {
        return kErrInvalidParameter;
    }
    // A wiped boot sector gives way to the volume's backup in its last sector.
    std::array<std::byte, kBootAreaBytes> boot{};
    Status s = ReadBootArea(source_, geometry_.partitionStart, bootSectorSize, boot,
                            geometry_.sectorCount);
    if (s != kOk) return s;
    Geometry g;
    s = GeometryFromBootSector(boot, geometry_.partitionStart, geometry_.sectorCount, g);
    if (s != kOk) return s;
    geometry_ = g;
    chunk_.resize(kChunkBytes / geometry_.recordSize * geometry_.recordSize);
    scratch_.resize(geometry_.recordSize);
    LoadMftRuns();
    return kOk;
}

void QuickNtfsScan::LoadMftRuns() {
    // The base record's own runs first, so that extension records of the $MFT (when its
    // attribute list spreads it out) can be found through them.
    const RecordReader reader = Reader();
    if (reader.ReadAt(geometry_.mftStart, scratch_) != kOk) return;
    const auto header = ReadRecordHeader(scratch_);
    if (!header) return;
    const auto data = FindAttribute(scratch_, *header, kData, true);
    if (!data || !data->nonResident) return;
    std::vector<DataRun> runs;
    DecodeRunList(*data, runs);
    mft_ = MftMap(geometry_, runs);
    StreamLayout stream;
    if (ReadStream(Reader(), scratch_, kMftRecord, kData, stream) == kOk && !stream.resident &&
        !stream.runs.empty()) {
        mft_ = MftMap(geometry_, std::move(stream.runs));
    }
}

Status QuickNtfsScan::Scan(const std::optional<std::string>& logName) {
    walk_.Clear();
    folders_.Clear();
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    dataForms_.clear();
    formsKnown_ = false;
    if (logName) return ReopenLog(folder, *logName);
    StartNewLog(folder,
                MakeLogName(kQuickLogPrefix, static_cast<int64_t>(geometry_.partitionStart)));
    formsKnown_ = true;
    checks_.emplace(source_, geometry_.bytesPerSector, 0, source_.totalSectors);
    ForgetUnreadable();
    const Status s = ScanMft();
    checks_.reset();
    folders_.Clear();
    return s;
}

Status QuickNtfsScan::ScanMft() {
    const uint64_t startMs = TickCountMs();
    uint64_t lastEstimateMs = startMs;
    int secondsLeft = -1;
    const uint64_t total = mft_.TotalSectors();
    const uint32_t bps = geometry_.bytesPerSector;
    const uint32_t spr = geometry_.sectorsPerRecord;
    const uint64_t chunkSectors = chunk_.size() / bps;
    uint64_t done = 0;
    uint64_t number = 0;
    uint64_t runOffset = 0;  // sectors of the $MFT before this run
    // Whether record numbers still map to the sectors read (they do unless a run ends inside a
    // record), so that the folder records read can stand in for reading them again.
    bool numbered = true;
    Status status = kOk;
    for (const DataRun& run : mft_.Runs()) {
        if (status != kOk) break;
        const uint64_t runSectors = run.clusters * geometry_.sectorsPerCluster;
        const uint64_t first = geometry_.SectorOfCluster(run.lcn);
        numbered = numbered && number * spr == runOffset;
        runOffset += runSectors;
        for (uint64_t offset = 0; offset < runSectors && status == kOk;) {
            const uint32_t count =
                static_cast<uint32_t>(std::min(chunkSectors, runSectors - offset));
            uint32_t read = 0;
            if (!run.sparse) {
                status = ReadSectors(source_, count, chunk_, first + offset, static_cast<int>(bps),
                                     read, chunk_.size());
            }
            if (status == kErrReadFault) {
                // A bad sector costs only its own record: the rest of the piece is read record
                // by record, and a record that cannot be read is left out.
                for (uint32_t r = read / spr; r < count / spr; ++r) {
                    const auto slot = std::span(chunk_).subspan(size_t{r} * geometry_.recordSize,
                                                                geometry_.recordSize);
                    uint32_t one = 0;
                    if (ReadSectors(source_, spr, slot, first + offset + uint64_t{r} * spr,
                                    static_cast<int>(bps), one) != kOk) {
                        std::fill(slot.begin(), slot.end(), std::byte{0});
                        CountUnreadable(spr - std::min(one, spr));
                    }
                }
                read = count / spr * spr;
                status = kOk;
            }
            for (uint32_t i = 0; i < read / spr; ++i) {
                const auto record = std::span(chunk_).subspan(size_t{i} * geometry_.recordSize,
                                                              geometry_.recordSize);
                const uint64_t sector = first + offset + uint64_t{i} * spr;
                if (Le32(record, 0) != kFileSignature) continue;
                ApplyFixups(record);
                if (numbered && number + i <= UINT32_MAX &&
                    (Le16(record, 22) & kRecordIsDirectory) != 0) {
                    try {
                        folders_.Note(static_cast<uint32_t>(number + i), sector, record);
                    } catch (const std::exception&) {
                        numbered = false;  // from here on, folders are read from the disk
                    }
                }
                try {
                    ProcessFileRecord(number + i, sector, record);
                } catch (const std::exception&) {
                    // A record that cannot be taken (out of memory on a damaged one) is skipped.
                }
            }
            if (status != kOk) break;
            number += count / spr;
            if (numbered) folders_.SetPassed(number);
            offset += count;
            done += count;
            const uint64_t now = TickCountMs();
            if (now - lastEstimateMs >= kEstimateEveryMs && Weight() == 100) {
                lastEstimateMs = now;
                const uint64_t seconds = std::max<uint64_t>(1, (now - startMs) / 1000);
                const uint64_t rate = std::max<uint64_t>(1, done * bps / seconds);
                secondsLeft = static_cast<int>((total - done) * bps / rate);
            }
            const int answer = ReportScanProgress(
                static_cast<int>(total == 0 ? 100 : done * 100 / total), secondsLeft);
            if (answer != 0) status = answer;
        }
    }
    FlushChecks();
    // Folders are written also after a stop, so that what was found stays reachable.
    for (size_t i = 0; i < walk_.FolderKeys().size(); ++i) {
        try {
            ProcessFolder(walk_.FolderKeys()[i]);
        } catch (const std::exception&) {
        }
    }
    if (status == kOk) ReportScanProgress(100);
    return status;
}

void QuickNtfsScan::FillRecord(FoundRecord& r, uint64_t number, uint64_t sector,
                                   const RecordSummary& summary, const std::string& name) const {
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::QuickNtfs);
    r.key = static_cast<uint32_t>(number);
    r.clusterBytes = static_cast<int32_t>(geometry_.ClusterBytes());
    r.created = summary.created;
    r.accessed = summary.accessed;
    r.modified = summary.modified;
    r.size = summary.size;
    r.location = sector;
    r.partitionStart = geometry_.partitionStart;
    r.SetName(name);
}

void QuickNtfsScan::ProcessFileRecord(uint64_t number, uint64_t sector,
                                          std::span<std::byte> record) {
    // Only records that are neither in use nor folders, and base records only: an extension
    // record belongs to the file its base record describes.
    if (Le32(record, 0) != kFileSignature || Le16(record, 22) != 0 || Le32(record, 32) != 0) {
        return;
    }
    if (number <= kLastSystemRecord || number > UINT32_MAX) return;
    auto summary = SummariseRecord(record);
    if (!summary) return;
    if (!summary->hasName || !summary->hasDataSize) {
        CompleteFromAttributeList(Reader(), record, number, *summary);
    }
    if (!summary->hasName) return;
    const std::string name = Utf16ToUtf8(summary->name);
    const uint32_t depth = walk_.DepthOf(summary->parent);
    const ContentCheckPlan plan = PlanContentCheck(Reader(), record, number, name);
    if (const uint32_t form = DataFormOf(Reader(), record, number); form != 0) {
        dataForms_[static_cast<uint32_t>(number)] = form;
    }
    FoundRecord r = EmptyRecord();
    FillRecord(r, number, sector, *summary, name);
    const uint64_t parentKey = ParentKey(summary->parent, depth);
    if (plan.intact) {
        r.contentIntact = *plan.intact;
        checks_->AddDecided(r, parentKey);
    } else {
        checks_->AddToCheck(r, parentKey, plan.sector, ExtensionOf(name));
    }
    if (checks_->Full()) FlushChecks();
}

void QuickNtfsScan::FlushChecks() {
    const int bps = static_cast<int>(geometry_.bytesPerSector);
    ScanLogStore* store = Store();
    checks_->Flush(
        [&](std::span<const std::byte> bytes, std::string_view extension, uint64_t sector) {
            return CheckFileContent(bytes, extension, source_, bps, sector) != 0;
        },
        [&](const FoundRecord& found, uint64_t parentKey) {
            FoundRecord& r = store->NewRecord();
            const uint32_t index = r.recordIndex;
            r = found;
            r.recordIndex = index;
            store->Link(parentKey, index, r.key);
        });
}

std::optional<FolderRecords::Folder> QuickNtfsScan::NamedFolder(uint32_t number) {
    if (const auto known = folders_.Find(number)) {
        if (*known == nullptr) return std::nullopt;
        return **known;
    }
    const RecordReader reader = Reader();
    const auto sector = mft_.SectorOfRecord(number);
    if (!sector || reader.ReadAt(*sector, scratch_) != kOk) return std::nullopt;
    auto summary = SummariseRecord(scratch_);
    if (!summary || !summary->header.IsDirectory()) return std::nullopt;
    if (!summary->hasName) CompleteFromAttributeList(reader, scratch_, number, *summary);
    if (!summary->hasName) return std::nullopt;
    return FolderRecords::Folder{*sector, std::move(*summary)};
}

std::optional<uint32_t> QuickNtfsScan::FolderParent(uint32_t number) {
    const auto folder = NamedFolder(number);
    if (!folder) return std::nullopt;
    return folder->summary.parent;
}

void QuickNtfsScan::ProcessFolder(uint32_t key) {
    const auto folder = NamedFolder(key);
    if (!folder) return WriteLostFolder(key);
    if (key <= kLastSystemRecord) return;
    const std::string name = Utf16ToUtf8(folder->summary.name);
    const uint32_t depth = walk_.DepthOf(folder->summary.parent);
    ScanLogStore* store = Store();
    FoundRecord& r = store->NewRecord();
    FillRecord(r, key, folder->sector, folder->summary, name);
    r.isFolder = 1;
    r.contentIntact = 1;  // no content check applies to a folder
    store->Link(ParentKey(folder->summary.parent, depth), r.recordIndex, r.key, r.Name());
}

void QuickNtfsScan::WriteLostFolder(uint32_t key) {
    ScanLogStore* store = Store();
    FoundRecord& r = store->NewRecord();
    r.sourceTag = sourceTag_;
    r.origin = static_cast<uint32_t>(RecordOrigin::QuickNtfs);
    r.isFolder = 1;
    r.contentIntact = 1;
    r.key = key;
    r.clusterBytes = -1;
    r.SetName("LostFolder" + std::to_string(key));
    store->Link(ParentKey(kRootRecord, 0), r.recordIndex, r.key, r.Name());
}

Status QuickNtfsScan::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                       const DataSink& sink) {
    if (!source_.IsOpen() || scratch_.empty()) return kErrInvalidParameter;
    return ReadRecordFileData(Reader(), record.location, record.key,
                              std::min(uint64_t{record.size}, maxBytes), sink);
}

uint32_t QuickNtfsScan::DataForm(const FoundRecord& record) {
    if (!source_.IsOpen() || scratch_.empty() || record.isFolder != 0) return 0;
    if (formsKnown_) {
        const auto known = dataForms_.find(record.key);
        return known == dataForms_.end() ? 0 : known->second;
    }
    return ReadDataForm(Reader(), record.location, record.key);
}

Status QuickNtfsScan::LoadVolumeBitmap() {
    bitmap_.clear();
    const RecordReader reader = Reader();
    const auto sector = mft_.SectorOfRecord(kBitmapRecord);
    if (!sector) return kErrInvalidParameter;
    std::vector<std::byte> bytes(geometry_.recordSize);
    Status s = reader.ReadAt(*sector, bytes);
    if (s != kOk) return s;
    StreamLayout stream;
    if (ReadStream(reader, bytes, kBitmapRecord, kData, stream) != kOk) return kErrInvalidParameter;
    // One bit per cluster: a bitmap longer than the volume needs is damaged.
    const uint64_t limit = geometry_.sectorCount / geometry_.sectorsPerCluster / 8 + 4096;
    const uint64_t size = std::min(stream.realSize, limit);
    std::vector<std::byte> bitmap;
    bitmap.reserve(static_cast<size_t>(size));
    s = ReadStreamData(source_, geometry_, stream, size, [&](std::span<const std::byte> piece) {
        bitmap.insert(bitmap.end(), piece.begin(), piece.end());
        return kOk;
    });
    if (s != kOk) return s;
    bitmap_ = std::move(bitmap);
    return kOk;
}

int QuickNtfsScan::NextFreeRange(uint64_t& position, uint64_t& length) {
    length = 0;
    const uint64_t sectors = geometry_.sectorCount;
    if (position > sectors) {
        position = sectors;
        return 1;
    }
    const uint64_t spc = geometry_.sectorsPerCluster;
    const uint64_t bits = uint64_t{bitmap_.size()} * 8;
    const auto bit = [&](uint64_t c) { return (Byte(bitmap_, c / 8) >> (c % 8)) & 1; };
    const uint64_t cluster = position / spc;
    if (cluster < bits) {
        uint64_t c = cluster;
        while (c < bits && bit(c)) {
            if (c % 8 == 0 && Byte(bitmap_, c / 8) == 0xFF)
                c += 8;
            else
                ++c;
        }
        if (c < bits) {
            position += (c - cluster) * spc;
            uint64_t e = c;
            while (e < bits && !bit(e)) {
                if (e % 8 == 0 && Byte(bitmap_, e / 8) == 0)
                    e += 8;
                else
                    ++e;
            }
            length = (e - c) * spc;
        }
    }
    if (position + length > sectors) length = position >= sectors ? 0 : sectors - position;
    return 1;
}

}  // namespace keltra
