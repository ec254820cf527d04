#include "engines/exfat/quick_exfat_scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/engine_factory.h"
#include "engines/exfat/exfat_directory_walker.h"
#include "engines/fat/quick_walk_output.h"
#include "platform/little_endian.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace keltra {
Status QuickExFatScan::OpenSource(SectorSource source, uint32_t sourceSectorSize,
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
    const auto geometry = ReadExFatGeometry(boot);
    if (!geometry) return kErrInvalidParameter;
    // Every later read is in the volume's own sectors.
    const uint64_t bps = geometry->bytesPerSector;
    volume_.source = &source_;
    volume_.start = startSector * sourceSectorSize / bps;
    volume_.sectors = sectorCount * sourceSectorSize / bps;
    volume_.geometry = *geometry;
    volumeValid_ = true;

    std::vector<std::byte> region(size_t{kExFatBootRegionSectors} * bps);
    uint32_t regionRead = 0;
    bootChecksumMatches_ = ReadSectors(source_, kExFatBootRegionSectors, region, volume_.start,
                                       static_cast<int>(bps), regionRead) == kOk &&
                           ExFatBootChecksumMatches(region, geometry->bytesPerSector);

    LoadSystemTables(true);
    return kOk;
}

void QuickExFatScan::LoadSystemTables(bool withUpcase) {
    map_.Bind(source_, volume_.start, volume_.geometry);
    const std::vector<std::byte> root =
        ReadExFatFolder(volume_, map_, ExFatRootStream(volume_.geometry));
    const ExFatSystemEntries system = FindExFatSystemEntries(root, volume_.geometry.volumeFlags);
    if (system.bitmap) LoadBitmap(*system.bitmap);
    if (withUpcase && system.upcase) LoadUpcase(*system.upcase);
}

void QuickExFatScan::LoadBitmap(const ExFatStream& entry) {
    // Only the bytes the clusters need are read, whatever length the entry claims.
    ExFatStream stream = entry;
    const uint64_t needed = (uint64_t{volume_.geometry.clusterCount} + 7) / 8;
    stream.length = std::min(stream.length, needed);
    stream.validLength = stream.length;
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(stream.length));
    const Status s = ReadExFatStream(volume_, map_, stream, stream.length,
                                     [&bytes](std::span<const std::byte> piece) {
                                         for (const std::byte b : piece) {
                                             bytes.push_back(std::to_integer<uint8_t>(b));
                                         }
                                         return kOk;
                                     });
    // A bitmap that cannot be read at all is no bitmap: every cluster then counts as free.
    if (s == kOk || !bytes.empty()) map_.SetBitmap(std::move(bytes));
}

void QuickExFatScan::LoadUpcase(const ExFatStream& entry) {
    // A full table maps 65,536 characters: 128 KiB.
    ExFatStream stream = entry;
    stream.length = std::min<uint64_t>(stream.length, 0x20000);
    stream.validLength = stream.length;
    std::vector<std::byte> table;
    ReadExFatStream(volume_, map_, stream, stream.length,
                    [&table](std::span<const std::byte> piece) {
                        table.insert(table.end(), piece.begin(), piece.end());
                        return kOk;
                    });
    if (!table.empty()) upcase_.Load(table);
}

Status QuickExFatScan::Scan(const std::optional<std::string>& logName) {
    const std::string folder =
        logFolder_.empty() ? ScanHistory::Instance().CurrentScanFolder() : logFolder_;
    if (logName) return ReopenLog(folder, *logName);
    if (!volumeValid_) return kErrInvalidParameter;
    const Status logStatus =
        StartNewLog(folder, MakeLogName(kQuickExFatLogPrefix, static_cast<int64_t>(startSector_)));
    StoreScanSink sink(*Store());
    FatContentCheck check = [this](std::span<const std::byte> bytes, std::string_view extension,
                                   uint64_t sector) {
        return CheckFileContent(bytes, extension, source_,
                                static_cast<int>(volume_.geometry.bytesPerSector), sector) != 0;
    };
    ExFatDirectoryWalker walker(volume_, map_, upcase_, sourceTag_, std::move(check), sink);
    walker.Start();
    const Status status = RunQuickWalk(
        walker, *Store(), Weight(), logStatus,
        [this](int percent, int secondsLeft) { return ReportScanProgress(percent, secondsLeft); });
    tornSets_ = walker.TornSets();
    ForgetUnreadable();
    CountUnreadable(walker.UnreadableSectors());
    return status;
}

int QuickExFatScan::NextFreeRange(uint64_t& position, uint64_t& length) {
    map_.NextFreeRange(position, length, volume_.sectors);
    return 1;
}

Status QuickExFatScan::LoadVolumeBitmap() {
    if (volumeValid_) LoadSystemTables(false);
    return kOk;
}

ExFatStream QuickExFatScan::FileStream(const FoundRecord& record) const {
    ExFatStream stream;
    stream.firstCluster = record.key;
    stream.length = record.size;
    stream.validLength = record.size;
    const uint32_t bps = volume_.geometry.bytesPerSector;
    if (record.location == 0) return stream;
    std::vector<std::byte> sector(bps);
    uint32_t read = 0;
    if (ReadSectors(source_, 1, sector, volume_.start + record.location / bps,
                    static_cast<int>(bps), read) != kOk ||
        read != 1) {
        return stream;
    }
    const auto entry = std::span<const std::byte>(sector).subspan(
        static_cast<size_t>(record.location % bps / kExFatEntryBytes * kExFatEntryBytes),
        kExFatEntryBytes);
    if ((Byte(entry, 0) | kExFatInUse) != kExFatStreamEntry || Le32(entry, 20) != record.key ||
        Le64(entry, 24) != record.size) {
        return stream;
    }
    stream.noFatChain = (Byte(entry, 1) & 0x02) != 0;
    stream.validLength = std::min(Le64(entry, 8), record.size);
    return stream;
}

Status QuickExFatScan::ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                                        const DataSink& sink) {
    if (!volumeValid_) return kErrInvalidParameter;
    return ReadExFatStream(volume_, map_, FileStream(record), maxBytes, sink);
}

}  // namespace keltra
