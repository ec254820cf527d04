#include "engines/carver/signature_carver.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/carver/carver_screen.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {

static_assert(std::is_same_v<CarveProgressCallback, ScanProgressCallback>,
              "the session hands the scan's own callback to the end finders");

namespace {

// Longest temporary preview path (in characters, its terminator not counted) that goes into a
// file; a longer one falls back to the buffer.
constexpr size_t kMaxPreviewPathChars = 259;

// Types whose size is read from a header field, not found on the disk: the pass goes on with
// the very next sector, so that what lies inside or behind such a file is still examined.
bool SizeComesFromHeader(FileTypeCode type) {
    switch (type) {
        case kTypeWave:
        case kTypeAvi:
        case kTypeAsf:
        case kTypeFlash:
        case kTypeBmp:
        case kTypeIcon:
        // never carved, but sized by a header all the same
        case kTypeWord:
        case kTypeCompoundOther:
        case kTypeExcel:
        case kTypePowerPoint:
        case kTypeCabinet:
        case kTypeTrueType:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string SignatureCarver::LogFolder() const {
    return logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
}

Status SignatureCarver::Open(const SourceRef& ref) {
    PrepareOpen(ref.startSector, ref.tag);
    return FinishOpen(StoreBackedEngine::Open(ref));
}

Status SignatureCarver::OpenSource(SectorSource source, uint32_t sectorSize,
                                   uint64_t /*startSector*/, uint64_t /*sectorCount*/,
                                   uint16_t /*sourceTag*/) {
    source_ = std::move(source);
    sectorSize_ = static_cast<int>(sectorSize);
    return kOk;
}

void SignatureCarver::PrepareOpen(uint64_t startSector, uint16_t sourceTag) {
    CloseLog();
    source_.Close();
    sourceTag_ = sourceTag;
    startSector_ = startSector;
    sectorSize_ = static_cast<int>(kImageSectorSize);
}

Status SignatureCarver::FinishOpen(Status openStatus) {
    // The log is made even when the source could not be opened.
    const Status logStatus = StartNewLog(
        LogFolder(), MakeLogName(kCarvingLogPrefix, static_cast<int64_t>(startSector_)));
    return openStatus != kOk ? openStatus : logStatus;
}

Status SignatureCarver::OpenWithLog(const SourceRef& ref, int sectorSize,
                                    const std::string& logName) {
    sourceTag_ = ref.tag;
    sectorSize_ = sectorSize;
    uint32_t reported = 0;
    const Status openStatus = OpenReferencedSource(ref, source_, reported);
    const Status logStatus = ReopenCarvingLog(logName);
    return openStatus != kOk ? openStatus : logStatus;
}

Status SignatureCarver::Begin(const PassStart& start) {
    SetLogFolder(start.folder);
    const std::optional<std::string> log = start.resumedLog(kCarvingLogPrefix);
    const Status status =
        log ? OpenWithLog(start.source, start.sectorSize, *log) : Open(start.source);
    StartPass();
    return status;
}

SpanVerdict SignatureCarver::Examine(std::span<const std::byte> span, uint64_t firstSector,
                                     PassPosition& at) {
    uint64_t skip = 1;
    const Status s = CarveSector(at.sectorSize, span.first(static_cast<size_t>(at.sectorSize)),
                                 firstSector, at.sectorsDone, at.totalSectors, at.secondsLeft,
                                 at.source, skip, at.filesFound);
    if (s == kCancelled) return {0, s};
    return {std::max<uint64_t>(skip, 1), kOk};
}

Status SignatureCarver::Finish(const PassEnd& /*end*/) {
    return FlushLog();
}

std::unique_ptr<SectorScreen> SignatureCarver::MakeScreen(int sectorSize) const {
    return std::make_unique<CarverScreen>(sectorSize);
}

void SignatureCarver::PassOver(uint64_t sectors) {
    if (sectors != 0) PassOverUnrecognised(session_);
}

Status SignatureCarver::ReopenCarvingLog(const std::string& logName) {
    carvedBefore_.clear();
    const Status status = ReopenLog(LogFolder(), logName);
    if (status != kOk) return status;
    std::vector<FoundRecord> carved;
    if (const Status s = StoreBackedEngine::ListFolder(nullptr, 0, carved); s != kOk) return s;
    for (const FoundRecord& record : carved) carvedBefore_.insert(record.location);
    return kOk;
}

void SignatureCarver::SetCallbacks(ScanProgressCallback scanProgress,
                                   CopyProgressCallback copyProgress, void* user, int weight) {
    StoreBackedEngine::SetCallbacks(scanProgress, copyProgress, user, weight);
    session_.progress = scanProgress;
    session_.progressUser = user;
    session_.progressWeight = weight;
}

Status SignatureCarver::ListFolder(const FoundRecord* folder, int depth,
                                   std::vector<FoundRecord>& out) {
    if (folder != nullptr || depth != 0) {
        return Store() != nullptr ? Store()->Flush() : kOk;
    }
    return StoreBackedEngine::ListFolder(nullptr, 0, out);
}

Status SignatureCarver::CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) {
    if (folder != nullptr || depth != 0) {
        return Store() != nullptr ? Store()->Flush() : kOk;
    }
    return StoreBackedEngine::CountFolderFiles(nullptr, 0, count);
}

Status SignatureCarver::GetRecordPath(const FoundRecord& /*record*/, std::string& path) {
    path.clear();
    return kOk;
}

Status SignatureCarver::ReadRecordData(const FoundRecord& record, std::string& tempPath,
                                       std::span<std::byte> buffer, uint32_t& size,
                                       PreviewCallback callback, void* user) {
    const std::string_view tempName = PreviewFileName(record.Name());
    Status status;
    if (!tempName.empty() && ScanLogFolder().size() + 1 + tempName.size() > kMaxPreviewPathChars) {
        tempPath.clear();
        status = PreviewIntoBuffer(record, buffer, size, callback, user);
    } else {
        status = StoreBackedEngine::ReadRecordData(record, tempPath, buffer, size, callback, user);
    }
    // An error is told once more, as the end of the preview.
    if (status.value() > 0 && callback != nullptr) callback(user, 100, status.value());
    return status;
}

Status SignatureCarver::CarveSector(int sectorSize, std::span<const std::byte> sector,
                                    uint64_t sectorNumber, uint64_t sectorsDoneBefore,
                                    uint64_t totalSectors, int secondsLeft,
                                    const SectorSource& source, uint64_t& sectorsToSkip,
                                    uint64_t& filesFound) {
    if (Store() == nullptr) return kErrInvalidParameter;
    sectorSize_ = sectorSize;
    std::string name;
    FileTypeCode type = kTypeNone;
    uint64_t size = 0;
    const Status status =
        CarveAtSector(session_, sectorSize, source, sector, sectorNumber, sectorsDoneBefore,
                      totalSectors, secondsLeft, filesFound, name, type, size);
    if (status != kOk) return status;
    const auto bytesPerSector = static_cast<uint64_t>(sectorSize);
    // Never 0: the pass must move on even past a file the end search made empty.
    sectorsToSkip = SizeComesFromHeader(type)
                        ? 1
                        : std::max<uint64_t>(1, (size + bytesPerSector - 1) / bytesPerSector);
    if (carvedBefore_.contains(sectorNumber)) return kOk;  // listed before the pass resumed

    FoundRecord& record = Store()->NewRecord();
    const uint32_t index = record.recordIndex;
    record.sourceTag = sourceTag_;
    record.origin = static_cast<uint32_t>(RecordOrigin::Carving);
    record.contentIntact = session_.damaged ? 0 : 1;
    record.key = 0;
    record.clusterBytes = -1;
    record.size = size;
    record.location = sectorNumber;
    record.SetName(name);
    Store()->Link(0, index, 0);
    ++filesFound;
    return kOk;
}

Status SignatureCarver::FlushLog() {
    return Store() == nullptr ? kOk : Store()->Flush();
}

std::string SignatureCarver::LogName() const {
    return Store() == nullptr ? std::string() : Store()->LogName();
}

Status SignatureCarver::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                     const DataSink& sink) {
    if (sectorSize_ <= 0 || !source_.IsOpen()) return kErrInvalidParameter;
    const auto bytesPerSector = static_cast<uint64_t>(sectorSize_);
    const uint64_t wanted = std::min(record.size, maxBytes);
    const uint64_t sectors = (wanted + bytesPerSector - 1) / bytesPerSector;
    const uint64_t pieceSectors = std::max<uint64_t>(1, kReadPieceBytes / bytesPerSector);
    std::vector<std::byte> piece(pieceSectors * bytesPerSector);
    uint64_t done = 0;
    while (done < sectors) {
        const uint64_t lba = record.location + done;
        // The source refuses reads past its last sector: what lay before the end was given.
        if (lba >= source_.totalSectors || lba < record.location) return kErrInvalidParameter;
        const auto count = static_cast<uint32_t>(
            std::min({pieceSectors, sectors - done, source_.totalSectors - lba}));
        uint32_t read = 0;
        const Status s = ReadSectors(source_, count, piece, lba, sectorSize_, read);
        if (read == 0) return s == kOk ? kErrReadFault : s;
        if (const Status answer = sink(std::span(piece).first(read * bytesPerSector));
            answer != kOk) {
            return answer;
        }
        if (s != kOk) return s;
        done += read;
    }
    return kOk;
}

}  // namespace keltra
