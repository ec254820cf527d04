#include "engines/deep/professional_recovery.h"

#include <algorithm>
#include <array>
#include <exception>
#include <initializer_list>
#include <set>

#include "engines/carving/carve_session.h"
#include "engines/deep/sector_pass.h"
#include "engines/engine_factory.h"
#include "engines/extension_categories.h"
#include "engines/fat/fat_entry.h"
#include "engines/scan_log_store.h"
#include "platform/clock.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

namespace {

// What the pass rereads at a FILE record that runs past the end of its buffer.
constexpr size_t kRecordRereadBytes = 8192;
// Flag bit of a FILE record that describes a directory.
constexpr uint16_t kRecordIsDirectory = 0x0002;

// The NTFS record size on a source of this sector size.
uint32_t NtfsRecordSize(uint32_t sectorSize) {
    return sectorSize > 512 ? sectorSize : 2 * sectorSize;
}

// The header of a FILE record that a sector may start: signature, sizes and the update
// sequence number repeated at the end of the first 512 bytes.
bool StartsFileRecord(std::span<const std::byte> sector, uint32_t recordSize) {
    if (sector.size() < 512 || !BytesEqual(sector, 0, "FILE")) return false;
    return Le32(sector, 24) <= recordSize && Le32(sector, 28) == recordSize &&
           Le16(sector, 48) == Le16(sector, 510);
}

std::string LowerExtension(std::string_view name) {
    return AsciiLower(ExtensionOf(name));
}

Status SortedIfMany(std::vector<FoundRecord>& out, Status status) {
    if (out.size() > 1) SortListedRecords(out);
    return status;
}

}  // namespace

CProfessionalRecovery::CProfessionalRecovery()
    : fat_(std::make_unique<CProfessionalFatRecovery>()),
      ntfs_(std::make_unique<CProfessionalNtfsRecovery>()),
      exfat_(std::make_unique<DeepExFatSearch>()),
      carving_(std::make_unique<CFileTypeRecovery>()) {}

CProfessionalRecovery::~CProfessionalRecovery() {
    quick_.reset();
    imagePath_.clear();
    carving_.reset();
    exfat_.reset();
    ntfs_.reset();
    fat_.reset();
    source_.Close();
}

void CProfessionalRecovery::CloseSource() {
    if (quick_) quick_->CloseSource();
    fat_->CloseSource();
    ntfs_->CloseSource();
    exfat_->CloseSource();
    carving_->CloseSource();
    SuspendSource(source_);
}

Status CProfessionalRecovery::ReopenSource() {
    Status status = ResumeSource(source_);
    for (IFileRecoveryParse* pass : std::initializer_list<IFileRecoveryParse*>{
             quick_.get(), fat_.get(), ntfs_.get(), exfat_.get(), carving_.get()}) {
        if (pass == nullptr) continue;
        const Status s = pass->ReopenSource();
        if (status == kOk) status = s;
    }
    return status;
}

Status CProfessionalRecovery::OpenImage(const std::string& imagePath, uint16_t sourceTag) {
    return OpenImageAt(imagePath, 0, std::nullopt, sourceTag);
}

Status CProfessionalRecovery::OpenImageVolume(const std::string& imagePath, uint64_t startSector,
                                              uint64_t sectorCount, uint16_t sourceTag) {
    return OpenImageAt(imagePath, startSector, sectorCount, sourceTag);
}

Status CProfessionalRecovery::OpenImageAt(const std::string& imagePath, uint64_t startSector,
                                          std::optional<uint64_t> sectorCount, uint16_t sourceTag) {
    sourceTag_ = sourceTag;
    isImage_ = true;
    imagePath_ = imagePath;
    diskNumber_ = static_cast<int>(kImageDiskNumber);
    startSector_ = startSector;
    sectorSize_ = static_cast<int>(kImageSectorSize);
    source_.Close();
    if (const Status s = OpenImageSource(source_, imagePath); s != kOk) return s;
    sectorCount_ = sectorCount.value_or(source_.totalSectors);
    // A volume must start inside the image.
    if (startSector_ >= source_.totalSectors) sectorCount_ = 0;
    if (sectorCount_ == 0) return kErrHandleEof;
    identity_ = IdentifySource(source_, imagePath, startSector_, sectorCount_, kImageSectorSize);
    resumeRecord_ = ScanHistoryRecord{};
    resuming_ =
        ScanHistory::Instance().FindImageScan(imagePath, resumeRecord_, startSector_, sectorCount_);
    Status ntfsStatus = kOk;
    if (sectorCount) {
        fat_->OpenImageVolume(imagePath, startSector_, sectorCount_, sourceTag);
        exfat_->OpenImageVolume(imagePath, startSector_, sectorCount_, sourceTag);
        ntfsStatus = ntfs_->OpenImageVolume(imagePath, startSector_, sectorCount_, sourceTag);
        quick_ = CreateImageVolumeEngine(imagePath, startSector_, sectorCount_, sourceTag, false);
    } else {
        fat_->OpenImage(imagePath, sourceTag);
        exfat_->OpenImage(imagePath, sourceTag);
        ntfsStatus = ntfs_->OpenImage(imagePath, sourceTag);
        quick_ = CreateImageEngine(imagePath, sourceTag, false);
    }
    return ntfsStatus;
}

Status CProfessionalRecovery::OpenPartition(int diskNumber, uint64_t startSector,
                                            uint64_t sectorCount, uint16_t driveLetter) {
    sourceTag_ = driveLetter;
    isImage_ = false;
    imagePath_.clear();
    diskNumber_ = diskNumber;
    startSector_ = startSector;
    sectorCount_ = sectorCount;
    source_.Close();
    const Status openStatus = OpenDiskSource(source_, diskNumber);
    if (openStatus == kOk) {
        uint32_t bytes = 0;
        if (source_.handle.LogicalSectorSize(bytes) == kOk && bytes >= 512 &&
            bytes <= kCarveChunkBytes) {
            sectorSize_ = static_cast<int>(bytes);
        }
        // No length given: the rest of the disk.
        if (sectorCount_ == 0 && startSector < source_.totalSectors) {
            sectorCount_ = source_.totalSectors - startSector;
        }
        identity_ = IdentifySource(source_, DiskIdentityName(diskNumber), startSector_,
                                   sectorCount_, ReportedSectorSize(source_));
    }
    resumeRecord_ = ScanHistoryRecord{};
    resuming_ = ScanHistory::Instance().FindPartitionScan(diskNumber, startSector, sectorCount,
                                                          resumeRecord_);
    fat_->OpenPartition(diskNumber, startSector, sectorCount, driveLetter);
    exfat_->OpenPartition(diskNumber, startSector, sectorCount, driveLetter);
    const Status ntfsStatus =
        ntfs_->OpenPartition(diskNumber, startSector, sectorCount, driveLetter);
    quick_ = CreatePartitionEngine(diskNumber, startSector, sectorCount, driveLetter, false);
    return openStatus != kOk ? openStatus : ntfsStatus;
}

Status CProfessionalRecovery::SetCallbacks(ScanProgressCallback scanProgress,
                                           CopyProgressCallback copyProgress, void* user,
                                           int /*weight*/) {
    scanProgress_ = scanProgress;
    copyProgress_ = copyProgress;
    user_ = user;
    weight_ = kPassWeight;
    if (quick_) quick_->SetCallbacks(scanProgress, copyProgress, user, kQuickWeight);
    fat_->SetCallbacks(scanProgress, copyProgress, user, kPassWeight);
    exfat_->SetCallbacks(scanProgress, copyProgress, user, kPassWeight);
    ntfs_->SetCallbacks(scanProgress, copyProgress, user, kPassWeight);
    carving_->SetCallbacks(scanProgress, copyProgress, user, kPassWeight);
    return kOk;
}

bool CProfessionalRecovery::QuickEngineHasFreeRuns() {
    if (!quick_ || quick_->LoadVolumeBitmap() != kOk) return false;
    // An engine without a bitmap may leave the outputs as they were: summing its runs would
    // never reach a run of length 0.
    uint64_t position = 0;
    uint64_t length = UINT64_MAX;
    quick_->NextFreeRange(position, length);
    return length != UINT64_MAX;
}

CProfessionalRecovery::Run CProfessionalRecovery::NextRun(uint64_t position) {
    Run run{position, 0};
    if (position >= sectorCount_) return {sectorCount_, 0};
    uint64_t next = position;
    uint64_t length = 0;
    quick_->NextFreeRange(next, length);
    // A run must lie ahead and inside the partition, so that the walk over runs always ends.
    if (next < position || next >= sectorCount_ || length == 0) return {sectorCount_, 0};
    run.position = next;
    run.length = std::min(length, sectorCount_ - next);
    return run;
}

std::optional<std::string> CProfessionalRecovery::ResumedLog(std::string_view prefix) const {
    if (!resuming_) return std::nullopt;
    // A folder of an earlier version names no source: its logs are taken by the first sector
    // their names hold. Logs of other sources written into the folder are never taken.
    const bool unmarkedFolder = !ReadSourceIdentity(scanFolder_, "").has_value();
    return FindSourceLog(prefix, scanFolder_, identity_, unmarkedFolder);
}

Status CProfessionalRecovery::OpenMemberLogs() {
    auto logOf = [this](std::string_view prefix) { return ResumedLog(prefix); };
    // The logs go into this scan's folder, whatever the history's current one is meanwhile.
    carving_->SetLogFolder(scanFolder_);
    fat_->SetLogFolder(scanFolder_);
    ntfs_->SetLogFolder(scanFolder_);
    exfat_->SetLogFolder(scanFolder_);
    const std::optional<std::string> carvingLog = logOf(kCarvingLogPrefix);
    if (carvingLog) {
        if (isImage_) {
            carving_->OpenImageWithLog(sectorSize_, *carvingLog, sourceTag_, imagePath_);
        } else {
            carving_->OpenPartitionWithLog(sectorSize_, diskNumber_, *carvingLog, sourceTag_);
        }
    } else if (isImage_) {
        carving_->OpenImageVolume(imagePath_, startSector_, sectorCount_, sourceTag_);
    } else {
        carving_->OpenPartition(diskNumber_, startSector_, sectorCount_, sourceTag_);
    }
    fat_->OpenLog(logOf(kDeepFatLogPrefix));
    const Status status = ntfs_->OpenLog(logOf(kDeepNtfsLogPrefix));
    fat_->ReadBootSector();
    exfat_->OpenLog(logOf(kDeepExFatLogPrefix));
    exfat_->ReadBootRegion();
    lostVolumes_.Begin(scanFolder_, identity_, startSector_, logOf(kLostVolumesLogPrefix));
    carving_->StartPass();
    return status;
}

Status CProfessionalRecovery::Scan(const std::optional<std::string>& /*logName*/) {
    // Never opened, or the source could not be: nothing to scan and nothing to remember.
    if (!source_.IsOpen() || sectorCount_ == 0) return kErrInvalidParameter;
    ScanHistory& history = ScanHistory::Instance();
    // The lookup is made again: the history's current folder must be the resumed scan's when
    // the engines open their logs in it.
    if (resuming_) {
        resuming_ =
            isImage_
                ? history.FindImageScan(imagePath_, resumeRecord_, startSector_, sectorCount_)
                : history.FindPartitionScan(diskNumber_, startSector_, sectorCount_, resumeRecord_);
    }
    const bool resumed = resuming_;
    if (resuming_) {
        scanFolder_ = resumeRecord_.ScanFolder();
    } else {
        history.NewScanFolder();
        scanFolder_ = history.CurrentScanFolder();
    }
    Status result = kOk;
    merge_.Reset();
    freeSpaceMode_ = false;
    sectorsRead_ = 0;
    unreadableSectors_ = 0;
    DeepScanState state;
    if (quick_) {
        quick_->SetCallbacks(scanProgress_, nullptr, user_, kQuickWeight);
        const bool hasFreeRuns = QuickEngineHasFreeRuns();
        // Without a quick log of this source in the folder the quick scan runs again.
        const Status quickStatus = quick_->Scan(ResumedLog(kQuickLogPrefix));
        quick_->SetCallbacks(scanProgress_, copyProgress_, user_, kQuickWeight);
        // A stop (a negative answer of the callback) ends the deep scan here. A quick scan
        // that fails on a damaged file system does not: the pass then covers every sector,
        // since the volume's bitmap is not to be trusted either.
        if (quickStatus < 0) {
            result = quickStatus;
        } else {
            freeSpaceMode_ = quickStatus == kOk && hasFreeRuns;
        }
    }
    if (result != kOk) {
        // A new scan gives its folder number back; a resumed one keeps the state it had.
        if (!resumed) history.GiveBackFolderNumber();
        return result;
    }
    OpenMemberLogs();
    uint64_t filesFound = 0;
    result = RunPass(filesFound, state);
    // Also after a stop: what was found so far gets its folders.
    fat_->Finish();
    ntfs_->Finish();
    exfat_->Finish([this, quickFinds = std::map<std::string, FirstSectorNotes>()](
                       const FoundRecord& record) mutable {
        return ListedByQuickEngine(record, quickFinds);
    });
    lostVolumes_.Finish(source_, static_cast<uint32_t>(sectorSize_));
    if (result == kOk && scanProgress_ != nullptr) scanProgress_(user_, 100, 100, 0, 0, 0, 0, 0);
    state.filesFound = filesFound;
    history.SaveScanState(diskNumber_, startSector_, sectorCount_, state, scanFolder_,
                          isImage_ ? imagePath_ : std::string());
    return result;
}

Status CProfessionalRecovery::RunPass(uint64_t& filesFound, DeepScanState& state) {
    uint64_t total = 0;
    Run run;
    if (freeSpaceMode_) {
        for (Run r = NextRun(0); r.length != 0; r = NextRun(r.position + r.length)) {
            total += r.length;
        }
        run = NextRun(0);
    } else {
        total = sectorCount_;
        run = {0, sectorCount_};
    }
    startMs_ = TickCountMs();
    lastEstimateMs_ = startMs_;
    secondsLeft_ = -1;
    sessionStartDone_ = 0;
    uint64_t sectorsDone = 0;
    filesFound = 0;
    uint64_t offset = 0;
    if (resuming_) {
        run = {resumeRecord_.state.runPosition, resumeRecord_.state.runLength};
        filesFound = resumeRecord_.state.filesFound;
        // A finished pass has no run left to take it up again: it keeps its count as it was.
        sectorsDone = resumeRecord_.state.sectorsDone;
    }
    Status result = kOk;
    SectorPass pass(source_, sectorSize_);
    while (run.length != 0) {
        offset = 0;
        if (resuming_) {
            offset = std::min(resumeRecord_.state.offsetInRun, run.length);
            sectorsDone = resumeRecord_.state.sectorsDone;
            sessionStartDone_ = sectorsDone;
            resuming_ = false;
        }
        passDone_ = sectorsDone;
        Status stopped = kOk;
        uint64_t examinedTo = 0;
        const uint64_t runFirst = startSector_ + run.position;
        const SectorPassOutcome outcome = pass.Run(
            {runFirst, run.length, offset}, {sectorsDone, total},
            [&](std::span<const std::byte> sectors, uint64_t firstSector) {
                ChunkVerdict verdict;
                sectorsRead_ += sectors.size() / static_cast<size_t>(sectorSize_);
                verdict.skipCarry = ExamineBuffer(sectors, firstSector, passDone_, total,
                                                  secondsLeft_, filesFound, stopped, examinedTo);
                verdict.stop = stopped;
                return verdict;
            },
            [&](uint64_t done, uint64_t totalSectors) {
                passDone_ = done;
                return ReportPass(done, totalSectors, filesFound);
            });
        offset = outcome.offset;
        sectorsDone = outcome.sectorsDone;
        unreadableSectors_ += outcome.unreadableSectors;
        if (stopped != kOk && examinedTo >= runFirst && examinedTo - runFirst < offset) {
            // The buffer that carving stopped in is taken up again where it stopped.
            const uint64_t back = offset - (examinedTo - runFirst);
            offset -= back;
            sectorsDone -= std::min(back, sectorsDone);
        }
        if (outcome.status != kOk) {
            result = outcome.status;
            break;
        }
        run = freeSpaceMode_ ? NextRun(run.position + run.length) : Run{run.position, 0};
        offset = 0;
    }
    state.runPosition = run.position;
    state.runLength = run.length;
    state.offsetInRun = offset;
    state.sectorsDone = sectorsDone;
    return result;
}

Status CProfessionalRecovery::ReportPass(uint64_t sectorsDone, uint64_t totalSectors,
                                         uint64_t& filesFound) {
    const uint64_t now = TickCountMs();
    if (now - lastEstimateMs_ >= kEstimateEveryMs && weight_ == kPassWeight) {
        // The speed of this session: sectors passed before a resume took no time here.
        const uint64_t elapsed = std::max<uint64_t>(1, (now - startMs_) / 1000);
        const uint64_t passed = sectorsDone - std::min(sessionStartDone_, sectorsDone);
        const uint64_t speed =
            std::max<uint64_t>(1, static_cast<uint64_t>(sectorSize_) * passed / elapsed);
        const uint64_t left = totalSectors - std::min(sectorsDone, totalSectors);
        secondsLeft_ = static_cast<int>(
            std::min<uint64_t>(INT32_MAX, left * static_cast<uint64_t>(sectorSize_) / speed));
        lastEstimateMs_ = now;
    }
    if (scanProgress_ == nullptr || totalSectors == 0) return kOk;
    // The reopened logs of a resumed scan hold what it found before.
    filesFound = GetRecordCount();
    const int percent = static_cast<int>(sectorsDone * 100 / totalSectors) + kPassPercentBase;
    return scanProgress_(user_, percent, kPassWeight, secondsLeft_, sectorsDone, totalSectors,
                         filesFound, 0);
}

uint64_t CProfessionalRecovery::ExamineBuffer(std::span<const std::byte> buffer,
                                              uint64_t firstSector, uint64_t sectorsDone,
                                              uint64_t totalSectors, int secondsLeft,
                                              uint64_t& filesFound, Status& stopped,
                                              uint64_t& examinedTo) {
    const auto sectorSize = static_cast<size_t>(sectorSize_);
    const size_t count = buffer.size() / sectorSize;
    const uint32_t recordSize = NtfsRecordSize(static_cast<uint32_t>(sectorSize));
    const size_t chunkSectors = SectorPass::kChunkBytes / sectorSize;
    stopped = kOk;
    size_t i = 0;
    try {
        exfat_->ExamineSectors(buffer.first(count * sectorSize), firstSector);
        lostVolumes_.ExamineSectors(buffer.first(count * sectorSize), firstSector,
                                    static_cast<uint32_t>(sectorSize));
        while (i < count) {
            // A run of zero sectors is neither an NTFS record nor a FAT folder, and starts no
            // file: it is passed over at once.
            if (const uint64_t zeros =
                    carving_->PassZeroSectors(sectorSize_, buffer.subspan(i * sectorSize));
                zeros > 0) {
                i += zeros;
                continue;
            }
            const uint64_t lba = firstSector + i;
            const auto sector = buffer.subspan(i * sectorSize, sectorSize);
            uint64_t skip = 1;
            if (StartsFileRecord(sector, recordSize)) {
                std::span<const std::byte> record = buffer.subspan(i * sectorSize);
                std::array<std::byte, kRecordRereadBytes> copy;
                if (record.size() < recordSize) {
                    const auto want = static_cast<uint32_t>(std::min<uint64_t>(
                        kRecordRereadBytes / sectorSize, source_.totalSectors - lba));
                    uint32_t read = 0;
                    if (ReadSectors(source_, want, copy, lba, sectorSize_, read) == kOk)
                        read = want;
                    record = std::span<const std::byte>(copy).first(read * sectorSize);
                }
                const bool directory = (Le16(sector, 22) & kRecordIsDirectory) != 0;
                if (!directory && record.size() >= recordSize) {
                    ntfs_->HandleFileRecord(record.first(recordSize), lba);
                }
            } else if (IsDotPair(sector)) {
                fat_->HandleFolderStart(sector, lba);
            } else if (LooksLikeFatDirSector(sector)) {
                fat_->HandleDirectorySector(sector, lba);
            } else {
                const Status s =
                    carving_->CarveSector(sectorSize_, sector, lba, sectorsDone, totalSectors,
                                          secondsLeft, source_, skip, filesFound);
                if (s == kCancelled) {
                    stopped = s;
                    examinedTo = lba;
                    return 0;
                }
            }
            i += std::max<uint64_t>(skip, 1);
        }
    } catch (const std::exception&) {
        // A fault inside one buffer (out of memory on a damaged structure) abandons it only.
        return 0;
    }
    // A carved file that runs past the chunk moves the next chunk to its end. After a short
    // read the chunk is still the whole one asked for.
    const size_t chunkEnd = std::max(count, chunkSectors);
    return i > chunkEnd ? i - chunkEnd : 0;
}

std::vector<IFileRecoveryParse*> CProfessionalRecovery::FileSystemEngines() const {
    std::vector<IFileRecoveryParse*> engines;
    if (quick_) engines.push_back(quick_.get());
    engines.insert(engines.end(), {fat_.get(), ntfs_.get(), exfat_.get()});
    return engines;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOf(const FoundRecord& record) {
    switch (static_cast<RecordOrigin>(record.origin)) {
        case RecordOrigin::QuickNtfs:
        case RecordOrigin::QuickFat:
        case RecordOrigin::QuickExFat:
            return quick_.get();
        case RecordOrigin::DeepNtfs:
            return ntfs_.get();
        case RecordOrigin::DeepFat:
            return fat_.get();
        case RecordOrigin::DeepExFat:
            return exfat_.get();
        case RecordOrigin::Carving:
            return carving_.get();
    }
    return nullptr;
}

Status CProfessionalRecovery::ListFolder(const FoundRecord* folder, int depth,
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
        IFileRecoveryParse* engine = folder->origin == static_cast<uint32_t>(RecordOrigin::Carving)
                                         ? nullptr
                                         : EngineOf(*folder);
        if (engine == nullptr) return kOk;
        std::vector<FoundRecord> listed;
        const Status status = ListMergedFolder(*folder, depth, listed);
        SortedIfMany(listed, status);
        out.insert(out.end(), listed.begin(), listed.end());
        return status;
    }
    if (depth != 0) return kErrInvalidParameter;
    std::vector<FoundRecord> listed;
    Status status = kOk;
    for (IFileRecoveryParse* engine : FileSystemEngines()) {
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

Status CProfessionalRecovery::CountFolderFiles(const FoundRecord* folder, int depth,
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
        if (folder->origin == static_cast<uint32_t>(RecordOrigin::Carving)) return kOk;
        IFileRecoveryParse* engine = EngineOf(*folder);
        return engine ? engine->CountFolderFiles(folder, depth, count) : kOk;
    }
    Status status = kOk;
    for (IFileRecoveryParse* engine : FileSystemEngines()) {
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

uint64_t CProfessionalRecovery::GetRecordCount() {
    uint64_t count = quick_ ? quick_->GetRecordCount() : 0;
    return count + fat_->GetRecordCount() + ntfs_->GetRecordCount() + exfat_->GetRecordCount() +
           carving_->GetRecordCount();
}

Status CProfessionalRecovery::GetRecordPath(const FoundRecord& record, std::string& path) {
    path.clear();
    if (record.origin == static_cast<uint32_t>(RecordOrigin::Carving)) return kOk;
    IFileRecoveryParse* engine = EngineOf(record);
    if (engine == nullptr) return kOk;
    const Status status = engine->GetRecordPath(record, path);
    path.insert(0, lostVolumes_.FolderPathOf(record));
    return status;
}

Status CProfessionalRecovery::RecoverRecord(const FoundRecord& record,
                                            const std::string& destination, int rootSeparators) {
    IFileRecoveryParse* engine = EngineOf(record);
    return engine ? engine->RecoverRecord(record, destination, rootSeparators) : kOk;
}

Status CProfessionalRecovery::SetSearchCallback(SearchProgressCallback callback, void* user) {
    searchCallback_ = callback;
    searchUser_ = user;
    if (quick_) quick_->SetSearchCallback(callback, user);
    fat_->SetSearchCallback(callback, user);
    ntfs_->SetSearchCallback(callback, user);
    exfat_->SetSearchCallback(callback, user);
    carving_->SetSearchCallback(callback, user);
    return kOk;
}

std::optional<uint64_t> CProfessionalRecovery::FirstDataSector(const FoundRecord& record) {
    switch (static_cast<RecordOrigin>(record.origin)) {
        case RecordOrigin::QuickNtfs:
        case RecordOrigin::DeepNtfs:
            return ntfs_->FirstDataSector(record);
        case RecordOrigin::QuickFat:
        case RecordOrigin::DeepFat:
        case RecordOrigin::QuickExFat:
        case RecordOrigin::DeepExFat:
            return fat_->FirstDataSector(record);
        case RecordOrigin::Carving:
            break;
    }
    return std::nullopt;
}

void CProfessionalRecovery::LearnMerge() {
    IFileRecoveryParse* const deepSearches[] = {fat_.get(), ntfs_.get(), exfat_.get()};
    merge_.Learn(quick_.get(), deepSearches,
                 [this](const FoundRecord& record) { return FirstDataSector(record); });
}

Status CProfessionalRecovery::ListMergedFolder(const FoundRecord& folder, int depth,
                                               std::vector<FoundRecord>& out) {
    LearnMerge();
    IFileRecoveryParse* engine = EngineOf(folder);
    if (engine == nullptr) return kOk;
    // A deep folder handed out inside a quick one lies deeper (or shallower) in its own tree.
    const int engineDepth = merge_.EngineDepth(folder, depth);
    const size_t first = out.size();
    Status status = engine->ListFolder(&folder, engineDepth, out);
    for (size_t i = first; i < out.size(); ++i) {
        merge_.NoteListed(out[i], depth + 1, engineDepth + 1);
    }
    for (const QuickDeepMerge::DeepFolder& joined : merge_.JoinedInto(folder)) {
        IFileRecoveryParse* deep = EngineOf(joined.record);
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

CProfessionalRecovery::FirstSectorNotes CProfessionalRecovery::NoteFirstSectors(
    const std::vector<FoundRecord>& found) {
    FirstSectorNotes noted;
    for (const FoundRecord& record : found) {
        if (record.isFolder != 0) continue;
        if (const std::optional<uint64_t> sector = FirstDataSector(record)) {
            noted[*sector] = LowerExtension(record.Name());
        }
    }
    return noted;
}

bool CProfessionalRecovery::IsNotedFile(const FirstSectorNotes& noted, uint64_t sector,
                                        std::string_view name) {
    const auto it = noted.find(sector);
    if (it == noted.end()) return false;
    const std::string extension = LowerExtension(name);
    return extension == it->second || (extension == "jpg" && it->second == "thm");
}

std::vector<FoundRecord> CProfessionalRecovery::WithoutCarvedCopies(
    const std::vector<FoundRecord>& found, std::vector<FoundRecord> carved) {
    const FirstSectorNotes noted = NoteFirstSectors(found);
    std::erase_if(carved, [&noted](const FoundRecord& record) {
        return IsNotedFile(noted, record.location, record.Name());
    });
    return carved;
}

bool CProfessionalRecovery::ListedByQuickEngine(
    const FoundRecord& record, std::map<std::string, FirstSectorNotes>& byExtension) {
    const std::string extension = LowerExtension(record.Name());
    if (!quick_ || extension.empty()) return false;
    const std::optional<uint64_t> sector = FirstDataSector(record);
    if (!sector) return false;
    auto it = byExtension.find(extension);
    if (it == byExtension.end()) {
        std::vector<FoundRecord> found;
        quick_->FindByExtensions("*." + extension + "|", found);
        it = byExtension.emplace(extension, NoteFirstSectors(found)).first;
    }
    return IsNotedFile(it->second, *sector, record.Name());
}

Status CProfessionalRecovery::FindByExtensions(const std::string& extensions,
                                               std::vector<FoundRecord>& out) {
    std::vector<FoundRecord> found;
    for (IFileRecoveryParse* engine : FileSystemEngines()) {
        engine->FindByExtensions(extensions, found);
    }
    LearnMerge();
    merge_.DropRepeats(found);
    std::vector<FoundRecord> carved;
    carving_->FindByExtensions(extensions, carved);
    std::vector<FoundRecord> kept = WithoutCarvedCopies(found, std::move(carved));
    found.insert(found.end(), kept.begin(), kept.end());
    SortedIfMany(found, kOk);
    out.insert(out.end(), found.begin(), found.end());
    return kOk;
}

Status CProfessionalRecovery::CarvedRootFiles(std::vector<FoundRecord>& out) {
    std::vector<FoundRecord> carved;
    const Status status = carving_->ListFolder(nullptr, 0, carved);
    std::set<std::string> extensions;
    for (const FoundRecord& record : carved) extensions.insert(LowerExtension(record.Name()));
    if (extensions.count("jpg") != 0) extensions.insert("thm");
    std::string list;
    for (const std::string& extension : extensions) list += "*." + extension + "|";
    std::vector<FoundRecord> found;
    if (!list.empty()) {
        for (IFileRecoveryParse* engine : FileSystemEngines()) {
            engine->FindByExtensions(list, found);
        }
    }
    std::vector<FoundRecord> kept = WithoutCarvedCopies(found, std::move(carved));
    out.insert(out.end(), kept.begin(), kept.end());
    return status;
}

Status CProfessionalRecovery::ReadRecordData(const FoundRecord& record, std::string& tempPath,
                                             std::span<std::byte> buffer, uint32_t& size,
                                             PreviewCallback callback, void* user) {
    IFileRecoveryParse* engine = EngineOf(record);
    if (engine == nullptr) {
        size = 0;
        return kOk;
    }
    return engine->ReadRecordData(record, tempPath, buffer, size, callback, user);
}

Status CProfessionalRecovery::ReadRecordHead(const FoundRecord& record, std::span<std::byte> out,
                                             size_t& got) {
    IFileRecoveryParse* engine = EngineOf(record);
    if (engine == nullptr) {
        got = 0;
        return kErrInvalidParameter;
    }
    return engine->ReadRecordHead(record, out, got);
}

uint32_t CProfessionalRecovery::DataForm(const FoundRecord& record) {
    IFileRecoveryParse* engine = EngineOf(record);
    return engine == nullptr ? 0 : engine->DataForm(record);
}

}  // namespace keltra
