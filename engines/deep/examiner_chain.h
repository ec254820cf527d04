// The deep searches of one pass, in the order they see what it reads. A search that watches
// every buffer sees every sector read; the others are offered the buffer's sectors one by one,
// in their order, until one takes it (and the sectors after it that it took, a carved file's):
// the sectors taken are offered to none after it, nor to any search for the next sectors.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engines/sector_examiner.h"

namespace keltra {

class ExaminerChain {
  public:
    enum class Reach {
        // Handed every buffer whole; takes nothing.
        EveryBuffer,
        // Offered each sector not yet taken, with the rest of the buffer behind it.
        SectorBySector,
    };

    // Adds the search behind those already added; it stays owned by the caller.
    void Add(SectorExaminer& examiner, Reach reach);

    // Begins every search; the first failure, after all have been begun.
    [[nodiscard]] Status Begin(const PassStart& start);
    // Examines the whole sectors of `buffer` (the first being `firstSector`). Returns the
    // sectors to skip beyond the end of a chunk of `chunkSectors` (a carved file that runs on
    // past it); `stopped` receives a search's stop (the rest of the buffer is then left, and
    // `examinedTo` is the first sector not examined). A fault inside one buffer (out of memory
    // on a damaged structure) abandons that buffer only.
    uint64_t ExamineBuffer(std::span<const std::byte> buffer, uint64_t firstSector,
                           size_t chunkSectors, PassPosition& at, Status& stopped,
                           uint64_t& examinedTo);
    // Ends every search, in the order added, also after one failed; the first failure.
    Status Finish(const PassEnd& end);

  private:
    struct Link {
        SectorExaminer* examiner;
        Reach reach;
    };
    std::vector<Link> links_;
};

}  // namespace keltra
