#include "engines/deep/deep_pass.h"

#include <algorithm>

#include "engines/deep/sector_pass.h"
#include "platform/clock.h"

namespace keltra {

DeepPass::DeepPass(const Volume& volume, QuickScan* freeRuns)
    : volume_(volume), freeRuns_(freeRuns) {}

DeepPass::FreeRun DeepPass::NextRun(uint64_t position) const {
    const uint64_t sectorCount = volume_.sectorCount;
    FreeRun run{position, 0};
    if (position >= sectorCount) return {sectorCount, 0};
    uint64_t next = position;
    uint64_t length = 0;
    freeRuns_->NextFreeRange(next, length);
    // A run must lie ahead and inside the partition, so that the walk over runs always ends.
    if (next < position || next >= sectorCount || length == 0) return {sectorCount, 0};
    run.position = next;
    run.length = std::min(length, sectorCount - next);
    return run;
}

void DeepPass::Estimate(uint64_t sectorsDone, uint64_t totalSectors) {
    const uint64_t now = TickCountMs();
    if (now - lastEstimateMs_ < kEstimateEveryMs) return;
    const auto sectorSize = static_cast<uint64_t>(volume_.sectorSize);
    // The speed of this session: sectors passed before a resume took no time here.
    const uint64_t elapsed = std::max<uint64_t>(1, (now - startMs_) / 1000);
    const uint64_t passed = sectorsDone - std::min(sessionStartDone_, sectorsDone);
    const uint64_t speed = std::max<uint64_t>(1, sectorSize * passed / elapsed);
    const uint64_t left = totalSectors - std::min(sectorsDone, totalSectors);
    secondsLeft_ = static_cast<int>(std::min<uint64_t>(INT32_MAX, left * sectorSize / speed));
    lastEstimateMs_ = now;
}

Status DeepPass::Run(ExaminerChain& chain, const DeepScanState* resumeFrom, uint64_t& filesFound,
                     DeepScanState& state, const Report& report) {
    uint64_t total = 0;
    FreeRun run;
    if (freeRuns_ != nullptr) {
        for (FreeRun r = NextRun(0); r.length != 0; r = NextRun(r.position + r.length)) {
            total += r.length;
        }
        run = NextRun(0);
    } else {
        total = volume_.sectorCount;
        run = {0, volume_.sectorCount};
    }
    startMs_ = TickCountMs();
    lastEstimateMs_ = startMs_;
    secondsLeft_ = -1;
    sessionStartDone_ = 0;
    sectorsRead_ = 0;
    unreadableSectors_ = 0;
    tookUpResume_ = false;
    uint64_t sectorsDone = 0;
    filesFound = 0;
    uint64_t offset = 0;
    if (resumeFrom != nullptr) {
        run = {resumeFrom->runPosition, resumeFrom->runLength};
        filesFound = resumeFrom->filesFound;
        // A finished pass has no run left to take it up again: it keeps its count as it was.
        sectorsDone = resumeFrom->sectorsDone;
    }
    const size_t chunkSectors = SectorPass::kChunkBytes / static_cast<size_t>(volume_.sectorSize);
    Status result = kOk;
    SectorPass pass(volume_.source, volume_.sectorSize, chain.MakeMarker(volume_.sectorSize));
    while (run.length != 0) {
        offset = 0;
        if (resumeFrom != nullptr && !tookUpResume_) {
            offset = std::min(resumeFrom->offsetInRun, run.length);
            sectorsDone = resumeFrom->sectorsDone;
            sessionStartDone_ = sectorsDone;
            tookUpResume_ = true;
        }
        PassPosition at{volume_.source, volume_.sectorSize, sectorsDone, total, -1, filesFound};
        Status stopped = kOk;
        uint64_t examinedTo = 0;
        const uint64_t runFirst = volume_.startSector + run.position;
        const SectorPassOutcome outcome = pass.Run(
            {runFirst, run.length, offset}, {sectorsDone, total},
            [&](std::span<const std::byte> sectors, std::span<const uint8_t> marks,
                uint64_t firstSector) {
                ChunkVerdict verdict;
                sectorsRead_ += sectors.size() / static_cast<size_t>(volume_.sectorSize);
                at.secondsLeft = secondsLeft_;
                verdict.skipCarry = chain.ExamineBuffer(sectors, marks, firstSector, chunkSectors,
                                                        at, stopped, examinedTo);
                verdict.stop = stopped;
                return verdict;
            },
            [&](uint64_t done, uint64_t totalSectors) {
                at.sectorsDone = done;
                Estimate(done, totalSectors);
                return report(done, totalSectors, secondsLeft_);
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
        run = freeRuns_ != nullptr ? NextRun(run.position + run.length) : FreeRun{run.position, 0};
        offset = 0;
    }
    state.runPosition = run.position;
    state.runLength = run.length;
    state.offsetInRun = offset;
    state.sectorsDone = sectorsDone;
    return result;
}

}  // namespace keltra
