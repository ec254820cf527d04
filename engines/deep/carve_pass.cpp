#include "engines/deep/carve_pass.h"

#include "engines/carving/carve_session.h"
#include "engines/deep/sector_pass.h"
#include "platform/clock.h"

namespace keltra {
namespace {

constexpr uint64_t kEstimateIntervalMs = 5000;

}  // namespace

Status CarveWholeRange(SignatureCarver& engine, const SectorSource& source, int sectorSize,
                       const CarvePassRange& range, ScanProgressCallback progress, void* user,
                       uint64_t* unreadableSectors) {
    if (!IsCarvableSectorSize(sectorSize)) return kErrInvalidParameter;
    engine.StartPass();
    const auto bytesPerSector = static_cast<uint64_t>(sectorSize);
    const uint64_t total = range.sectorCount;
    const uint64_t startTick = TickCountMs();
    uint64_t lastEstimate = startTick;
    int secondsLeft = -1;
    uint64_t sectorsDone = 0;
    uint64_t filesFound = engine.GetRecordCount();

    const auto examine = [&](std::span<const std::byte> sectors, uint64_t firstSector) {
        const uint64_t count = sectors.size() / bytesPerSector;
        uint64_t index = 0;
        while (index < count) {
            if (const uint64_t zeros =
                    engine.PassZeroSectors(sectorSize, sectors.subspan(index * bytesPerSector));
                zeros > 0) {
                index += zeros;
                continue;
            }
            uint64_t skip = 1;
            const Status s = engine.CarveSector(
                sectorSize, sectors.subspan(index * bytesPerSector, bytesPerSector),
                firstSector + index, sectorsDone + index, total, secondsLeft, source, skip,
                filesFound);
            if (s == kCancelled) return ChunkVerdict{0, kCancelled};
            index += skip;
        }
        return ChunkVerdict{index - count, kOk};
    };
    const auto report = [&](uint64_t done, uint64_t totalSectors) -> Status {
        sectorsDone = done;
        const uint64_t now = TickCountMs();
        if (now - lastEstimate >= kEstimateIntervalMs) {
            const uint64_t elapsedSeconds = (now - startTick) / 1000;
            uint64_t speed = elapsedSeconds == 0 ? 0 : bytesPerSector * done / elapsedSeconds;
            if (speed == 0) speed = 1;
            secondsLeft = static_cast<int>((totalSectors - done) * bytesPerSector / speed);
            lastEstimate = now;
        }
        if (progress == nullptr) return kOk;
        const int percent = totalSectors == 0 ? 100 : static_cast<int>(done * 100 / totalSectors);
        return progress(user, percent + 10, kCarvePassWeight, secondsLeft, done, totalSectors,
                        engine.GetRecordCount(), 0);
    };

    SectorPass pass(source, sectorSize);
    const SectorPassOutcome outcome =
        pass.Run({range.firstSector, range.sectorCount, 0}, {0, total}, examine, report);
    if (unreadableSectors != nullptr) *unreadableSectors = outcome.unreadableSectors;
    const Status flushStatus = engine.FlushLog();
    Status result = outcome.status;
    if (result == kOk && progress != nullptr) {
        result = progress(user, 100, 100, 0, total, total, engine.GetRecordCount(), 0);
    }
    return result != kOk ? result : flushStatus;
}

}  // namespace keltra
