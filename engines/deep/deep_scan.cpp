#include "engines/deep/deep_scan.h"

#include <algorithm>
#include <type_traits>

#include "engines/carver/signature_carver.h"
#include "engines/carving/carve_session.h"
#include "engines/deep/deep_pass.h"
#include "engines/exfat/deep_exfat_search.h"
#include "engines/extension_categories.h"
#include "engines/fat/deep_fat_search.h"
#include "engines/ntfs/deep_ntfs_search.h"
#include "engines/quick/quick_scan_factory.h"
#include "platform/text.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

namespace {

// The origins of the quick engine's records, whichever file system it reads.
constexpr RecordOrigin kQuickOrigins[] = {RecordOrigin::QuickNtfs, RecordOrigin::QuickFat,
                                          RecordOrigin::QuickExFat};

bool IsCarved(const FoundRecord& record) {
    return record.origin == static_cast<uint32_t>(RecordOrigin::Carving);
}

}  // namespace

template <class Search>
Search& DeepScan::AddSearch(RecordOrigin origin, ExaminerChain::Reach reach) {
    auto owned = std::make_unique<Search>();
    Search& search = *owned;
    searches_.push_back(std::move(owned));
    byOrigin_[origin] = &search;
    chain_.Add(search, reach);
    if constexpr (std::is_base_of_v<DataPlacement, Search>) placements_.push_back(&search);
    return search;
}

// The searches in listing order; the chain offers a sector to them in this order too.
DeepScan::DeepScan() {
    using Reach = ExaminerChain::Reach;
    AddSearch<DeepFatSearch>(RecordOrigin::DeepFat, Reach::SectorBySector);
    AddSearch<DeepNtfsSearch>(RecordOrigin::DeepNtfs, Reach::SectorBySector);
    AddSearch<DeepExFatSearch>(RecordOrigin::DeepExFat, Reach::EveryBuffer);
    chain_.Add(lostVolumes_, Reach::EveryBuffer);
    carver_ = &AddSearch<SignatureCarver>(RecordOrigin::Carving, Reach::SectorBySector);
}

DeepScan::~DeepScan() {
    quick_.reset();
    searches_.clear();
    source_.Close();
}

void DeepScan::CloseSource() {
    if (quick_) quick_->CloseSource();
    for (const auto& search : searches_) search->CloseSource();
    SuspendSource(source_);
}

Status DeepScan::ReopenSource() {
    Status status = ResumeSource(source_);
    if (quick_) {
        const Status s = quick_->ReopenSource();
        if (status == kOk) status = s;
    }
    for (const auto& search : searches_) {
        const Status s = search->ReopenSource();
        if (status == kOk) status = s;
    }
    return status;
}

Status DeepScan::Open(const SourceRef& ref) {
    ref_ = ref;
    source_.Close();
    quick_.reset();
    sectorSize_ = static_cast<int>(kImageSectorSize);
    uint32_t reported = kImageSectorSize;
    if (const Status s = OpenReferencedSource(ref, source_, reported); s != kOk) return s;
    // A disk's own sector size, within what one carving chunk holds.
    if (!ref.IsImage() && reported >= 512 && reported <= kCarveChunkBytes) {
        sectorSize_ = static_cast<int>(reported);
    }
    sectorCount_ = ref.sectorCount;
    if (ref.kind == SourceRef::Kind::Image) sectorCount_ = source_.totalSectors;
    if (ref.kind == SourceRef::Kind::ImageVolume && ref.startSector >= source_.totalSectors) {
        sectorCount_ = 0;
    }
    // A partition of no length given: the rest of the disk.
    if (ref.kind == SourceRef::Kind::DiskPartition && sectorCount_ == 0 &&
        ref.startSector < source_.totalSectors) {
        sectorCount_ = source_.totalSectors - ref.startSector;
    }
    if (ref.IsImage() && sectorCount_ == 0) return kErrHandleEof;
    const std::string device = ref.IsImage() ? ref.imagePath : DiskIdentityName(ref.diskNumber);
    identity_ = IdentifySource(source_, device, ref.startSector, sectorCount_, reported);
    resumeRecord_ = ScanHistoryRecord{};
    resuming_ = ScanHistory::Instance().FindScan(ref, resumeRecord_);
    quick_ = CreateQuickScan(ref);
    for (RecordOrigin origin : kQuickOrigins) byOrigin_[origin] = quick_.get();
    return kOk;
}

void DeepScan::SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                            void* user, int /*weight*/) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    user_ = user;
    if (quick_) quick_->SetCallbacks(scanProgress, copyProgress, user, kQuickWeight);
    for (const auto& search : searches_) {
        search->SetCallbacks(scanProgress, copyProgress, user, kPassWeight);
    }
}

bool DeepScan::QuickEngineHasFreeRuns() {
    if (!quick_ || quick_->LoadVolumeBitmap() != kOk) return false;
    // An engine without a bitmap may leave the outputs as they were: summing its runs would
    // never reach a run of length 0.
    uint64_t position = 0;
    uint64_t length = UINT64_MAX;
    quick_->NextFreeRange(position, length);
    return length != UINT64_MAX;
}

std::optional<std::string> DeepScan::ResumedLog(std::string_view prefix) const {
    if (!resuming_) return std::nullopt;
    // A folder of an earlier version names no source: its logs are taken by the first sector
    // their names hold. Logs of other sources written into the folder are never taken.
    const bool unmarkedFolder = !ReadSourceIdentity(scanFolder_, "").has_value();
    return FindSourceLog(prefix, scanFolder_, identity_, unmarkedFolder);
}

Status DeepScan::RunQuickScan() {
    if (!quick_) return kOk;
    quick_->SetCallbacks(scanProgress_, nullptr, user_, kQuickWeight);
    const bool hasFreeRuns = QuickEngineHasFreeRuns();
    // Without a quick log of this source in the folder the quick scan runs again.
    const Status quickStatus = quick_->Scan(ResumedLog(kQuickLogPrefix));
    quick_->SetCallbacks(scanProgress_, copyProgress_, user_, kQuickWeight);
    // A stop (a negative answer of the callback) ends the deep scan here. A quick scan that
    // fails on a damaged file system does not: the pass then covers every sector, since the
    // volume's bitmap is not to be trusted either.
    if (quickStatus.value() < 0) return quickStatus;
    freeSpaceMode_ = quickStatus == kOk && hasFreeRuns;
    return kOk;
}

Status DeepScan::Scan(const std::optional<std::string>& /*logName*/) {
    // Never opened, or the source could not be: nothing to scan and nothing to remember.
    if (!source_.IsOpen() || sectorCount_ == 0) return kErrInvalidParameter;
    ScanHistory& history = ScanHistory::Instance();
    // The lookup is made again: the history's current folder must be the resumed scan's when
    // the engines open their logs in it.
    if (resuming_) resuming_ = history.FindScan(ref_, resumeRecord_);
    const bool resumed = resuming_;
    if (resuming_) {
        scanFolder_ = resumeRecord_.ScanFolder();
    } else {
        history.NewScanFolder();
        scanFolder_ = history.CurrentScanFolder();
    }
    merge_.Reset();
    freeSpaceMode_ = false;
    sectorsRead_ = 0;
    unreadableSectors_ = 0;
    Status result = RunQuickScan();
    if (result != kOk) {
        // A new scan gives its folder number back; a resumed one keeps the state it had.
        if (!resumed) history.GiveBackFolderNumber();
        return result;
    }
    // A search whose log cannot be written would find files that no later listing, copy or
    // continued scan could get back: the scan ends here with the reason.
    if (const Status s =
            chain_.Begin({ref_, identity_, sectorSize_, scanFolder_,
                          [this](std::string_view prefix) { return ResumedLog(prefix); }});
        s != kOk) {
        if (!resumed) history.GiveBackFolderNumber();
        return s;
    }
    DeepPass pass({source_, sectorSize_, ref_.startSector, sectorCount_},
                  freeSpaceMode_ ? quick_.get() : nullptr);
    uint64_t filesFound = 0;
    DeepScanState state;
    result = pass.Run(chain_, resuming_ ? &resumeRecord_.state : nullptr, filesFound, state,
                      [&](uint64_t done, uint64_t total, int secondsLeft) {
                          return ReportPass(done, total, secondsLeft, filesFound);
                      });
    if (pass.TookUpResume()) resuming_ = false;
    sectorsRead_ = pass.SectorsRead();
    unreadableSectors_ = pass.UnreadableSectors();
    // Also after a stop: what was found so far gets its folders. Finds that could not be
    // written fail a scan that would otherwise have succeeded.
    const Status finished =
        chain_.Finish({source_, static_cast<uint32_t>(sectorSize_),
                       [this, quickFinds = std::map<std::string, FirstSectorNotes>()](
                           const FoundRecord& record) mutable {
                           return ListedByQuickEngine(record, quickFinds);
                       }});
    if (result == kOk) result = finished;
    if (result == kOk && scanProgress_ != nullptr) scanProgress_(user_, 100, 100, 0, 0, 0, 0, 0);
    state.filesFound = filesFound;
    const int diskNumber = ref_.IsImage() ? static_cast<int>(kImageDiskNumber) : ref_.diskNumber;
    // A scan whose end is not in the history cannot be listed again or continued: a finished
    // scan says so rather than succeed.
    const Status saved =
        history.SaveScanState(diskNumber, ref_.startSector, sectorCount_, state, scanFolder_,
                              ref_.IsImage() ? ref_.imagePath : std::string());
    return result == kOk ? saved : result;
}

Status DeepScan::ReportPass(uint64_t sectorsDone, uint64_t totalSectors, int secondsLeft,
                            uint64_t& filesFound) {
    if (scanProgress_ == nullptr || totalSectors == 0) return kOk;
    // The reopened logs of a resumed scan hold what it found before; folders are not counted.
    filesFound = GetFileCount();
    const int percent = static_cast<int>(sectorsDone * 100 / totalSectors) + kPassPercentBase;
    return scanProgress_(user_, percent, kPassWeight, secondsLeft, sectorsDone, totalSectors,
                         filesFound, 0);
}

std::vector<FoundFiles*> DeepScan::FileSystemEngines() const {
    std::vector<FoundFiles*> engines;
    if (quick_) engines.push_back(quick_.get());
    for (const auto& search : searches_) {
        if (search.get() != carver_) engines.push_back(search.get());
    }
    return engines;
}

FoundFiles* DeepScan::EngineOf(const FoundRecord& record) const {
    const auto it = byOrigin_.find(static_cast<RecordOrigin>(record.origin));
    return it == byOrigin_.end() ? nullptr : it->second;
}

uint64_t DeepScan::GetRecordCount() {
    uint64_t count = quick_ ? quick_->GetRecordCount() : 0;
    for (const auto& search : searches_) count += search->GetRecordCount();
    return count;
}

uint64_t DeepScan::GetFileCount() {
    uint64_t count = quick_ ? quick_->GetFileCount() : 0;
    for (const auto& search : searches_) count += search->GetFileCount();
    return count;
}

Status DeepScan::GetRecordPath(const FoundRecord& record, std::string& path) {
    path.clear();
    if (IsCarved(record)) return kOk;
    FoundFiles* engine = EngineOf(record);
    if (engine == nullptr) return kOk;
    const Status status = engine->GetRecordPath(record, path);
    path.insert(0, lostVolumes_.FolderPathOf(record));
    return status;
}

Status DeepScan::RecoverRecord(const FoundRecord& record, const std::string& destination,
                               int rootSeparators) {
    FoundFiles* engine = EngineOf(record);
    return engine ? engine->RecoverRecord(record, destination, rootSeparators) : kOk;
}

void DeepScan::SetSearchCallback(SearchProgressCallback callback, void* user) {
    if (quick_) quick_->SetSearchCallback(callback, user);
    for (const auto& search : searches_) search->SetSearchCallback(callback, user);
}

std::optional<uint64_t> DeepScan::FirstDataSector(const FoundRecord& record) const {
    for (const DataPlacement* placement : placements_) {
        if (std::optional<uint64_t> sector = placement->FirstDataSector(record)) return sector;
    }
    return std::nullopt;
}

FirstSectorOf DeepScan::FirstSectorRule() const {
    return [this](const FoundRecord& record) { return FirstDataSector(record); };
}

bool DeepScan::ListedByQuickEngine(const FoundRecord& record,
                                   std::map<std::string, FirstSectorNotes>& byExtension) {
    const std::string extension = AsciiLower(ExtensionOf(record.Name()));
    if (!quick_ || extension.empty()) return false;
    const std::optional<uint64_t> sector = FirstDataSector(record);
    if (!sector) return false;
    auto it = byExtension.find(extension);
    if (it == byExtension.end()) {
        std::vector<FoundRecord> found;
        IgnoreStatus(quick_->FindByExtensions("*." + extension + "|", found),
                     "a failed lookup keeps the deep find listed: nothing is hidden");
        it = byExtension.emplace(extension, FirstSectorNotes(found, FirstSectorRule())).first;
    }
    return it->second.Holds(*sector, record.Name());
}

Status DeepScan::ReadRecordData(const FoundRecord& record, std::string& tempPath,
                                std::span<std::byte> buffer, uint32_t& size,
                                PreviewCallback callback, void* user) {
    FoundFiles* engine = EngineOf(record);
    if (engine == nullptr) {
        size = 0;
        return kOk;
    }
    return engine->ReadRecordData(record, tempPath, buffer, size, callback, user);
}

Status DeepScan::ReadRecordHead(const FoundRecord& record, std::span<std::byte> out, size_t& got) {
    FoundFiles* engine = EngineOf(record);
    if (engine == nullptr) {
        got = 0;
        return kErrInvalidParameter;
    }
    return engine->ReadRecordHead(record, out, got);
}

uint32_t DeepScan::DataForm(const FoundRecord& record) {
    FoundFiles* engine = EngineOf(record);
    return engine == nullptr ? 0 : engine->DataForm(record);
}

}  // namespace keltra
