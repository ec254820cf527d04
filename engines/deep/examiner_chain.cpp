#include "engines/deep/examiner_chain.h"

#include <algorithm>
#include <exception>

namespace keltra {

void ExaminerChain::Add(SectorExaminer& examiner, Reach reach) {
    links_.push_back({&examiner, reach});
}

Status ExaminerChain::Begin(const PassStart& start) {
    Status status = kOk;
    for (const Link& link : links_) {
        const Status s = link.examiner->Begin(start);
        if (status == kOk) status = s;
    }
    return status;
}

uint64_t ExaminerChain::ExamineBuffer(std::span<const std::byte> buffer, uint64_t firstSector,
                                      size_t chunkSectors, PassPosition& at, Status& stopped,
                                      uint64_t& examinedTo) {
    const auto sectorSize = static_cast<size_t>(at.sectorSize);
    const size_t count = buffer.size() / sectorSize;
    const std::span<const std::byte> whole = buffer.first(count * sectorSize);
    stopped = kOk;
    size_t i = 0;
    try {
        for (const Link& link : links_) {
            if (link.reach == Reach::EveryBuffer) link.examiner->Examine(whole, firstSector, at);
        }
        while (i < count) {
            const uint64_t lba = firstSector + i;
            const std::span<const std::byte> rest = whole.subspan(i * sectorSize);
            uint64_t taken = 1;
            for (const Link& link : links_) {
                if (link.reach != Reach::SectorBySector) continue;
                const SpanVerdict verdict = link.examiner->Examine(rest, lba, at);
                if (verdict.stop != kOk) {
                    stopped = verdict.stop;
                    examinedTo = lba;
                    return 0;
                }
                if (verdict.sectorsTaken != 0) {
                    taken = verdict.sectorsTaken;
                    break;
                }
            }
            i += taken;
        }
    } catch (const std::exception&) {
        return 0;
    }
    // A carved file that runs past the chunk moves the next chunk to its end. After a short
    // read the chunk is still the whole one asked for.
    const size_t chunkEnd = std::max(count, chunkSectors);
    return i > chunkEnd ? i - chunkEnd : 0;
}

Status ExaminerChain::Finish(const PassEnd& end) {
    // Every search builds what it found, also after another one failed.
    Status first = kOk;
    for (const Link& link : links_) {
        if (const Status s = link.examiner->Finish(end); first == kOk) first = s;
    }
    return first;
}

}  // namespace keltra
