#include "engines/fat/quick_fat_scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/engine_factory.h"
#include "engines/fat/fat_file_reader.h"
#include "engines/fat/quick_walk_output.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {
Status QuickFatScan::OpenSource(SectorSource source, uint32_t sourceSectorSize,
                                    uint64_t startSector, uint64_t sectorCount,
                                    uint16_t sourceTag) {
    if (source_.IsOpen()) return kOk;
    source_ = std::move(source);
    sourceTag_ = sourceTag;
    startSector_ = startSector;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (const Status s = ReadBootArea(source_, startSector, sourceSectorSize, boot); s != kOk) {
        return s;
    }
    const auto geometry = ReadFatGeometry(boot);
    if (!geometry) return kErrInvalidParameter;
    // Every later read is in the volume's own sectors.
    const uint64_t bps = geometry->bytesPerSector;
    volume_.source = &source_;
    volume_.start = startSector * sourceSectorSize / bps;
    volume_.sectors = sectorCount * sourceSectorSize / bps;
    volume_.geometry = *geometry;
    volumeValid_ = true;
    // A FAT that cannot be read now is read again at each lookup.
    table_.Load(source_, volume_.start, volume_.geometry);
    return kOk;
}

Status QuickFatScan::Scan(const std::optional<std::string>& logName) {
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    if (logName) return ReopenLog(folder, *logName);
    if (!volumeValid_) return kErrInvalidParameter;
    const Status logStatus =
        StartNewLog(folder, MakeLogName(kQuickLogPrefix, static_cast<int64_t>(startSector_)));
    StoreScanSink sink(*Store());
    FatContentCheck check = [this](std::span<const std::byte> bytes, std::string_view extension,
                                   uint64_t sector) {
        return CheckFileContent(bytes, extension, source_,
                                static_cast<int>(volume_.geometry.bytesPerSector), sector) != 0;
    };
    FatDirectoryWalker walker(volume_, table_, sourceTag_, std::move(check), sink);
    walker.Start();
    const Status status = RunQuickWalk(
        walker, *Store(), Weight(), logStatus,
        [this](int percent, int secondsLeft) { return ReportScanProgress(percent, secondsLeft); });
    ForgetUnreadable();
    CountUnreadable(walker.UnreadableSectors());
    foldersNotFollowed_ = walker.FoldersNotFollowed();
    return status;
}

int QuickFatScan::NextFreeRange(uint64_t& position, uint64_t& length) {
    bitmap_.NextFreeRange(position, length, volume_.sectors);
    return 1;
}

Status QuickFatScan::LoadVolumeBitmap() {
    if (volumeValid_) bitmap_.Load(table_, volume_.geometry);
    return kOk;
}

Status QuickFatScan::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                      const DataSink& sink) {
    if (!volumeValid_) return kErrInvalidParameter;
    FatFileLayout layout;
    layout.bytesPerSector = volume_.geometry.bytesPerSector;
    layout.rootDirSectors = volume_.geometry.rootDirSectors;
    layout.maxCluster = volume_.geometry.MaxCluster();
    layout.table = &table_;
    return ReadFatFileData(source_, layout, record, maxBytes, sink);
}

}  // namespace keltra
