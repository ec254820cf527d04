// The deep searches of one pass, in the order they see what it reads. A search that watches
// every buffer sees every sector read; the others are offered the buffer's sectors one by one,
// in their order, until one takes it (and the sectors after it that it took, a carved file's):
// the sectors taken are offered to none after it, nor to any search for the next sectors. A
// search whose screen left a sector unmarked is not offered it but told it was passed over.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engines/deep/sector_pass.h"
#include "engines/sector_examiner.h"

namespace keltra {

class ExaminerChain {
  public:
    enum class Reach {
        // Offered every sector read (taken by a search before it or not), with the rest of the
        // buffer behind it; takes nothing.
        EverySector,
        // Offered each sector not yet taken, with the rest of the buffer behind it.
        SectorBySector,
    };

    // Searches in one chain: one bit of a sector's mark each.
    static constexpr size_t kMostSearches = 8;

    // Adds the search behind those already added; it stays owned by the caller. At most
    // kMostSearches (std::length_error beyond).
    void Add(SectorExaminer& examiner, Reach reach);

    // Begins every search; the first failure, after all have been begun.
    [[nodiscard]] Status Begin(const PassStart& start);
    // The searches' screens for a pass with sectors of `sectorSize` bytes, made after Begin:
    // each sets its search's bit in the marks of what is read (a search without a screen has
    // its bit set in every mark). May run on another thread while the searches examine.
    SectorMarker MakeMarker(int sectorSize) const;
    // Examines the whole sectors of `buffer` (the first being `firstSector`), each offered to
    // the searches whose bit its mark in `marks` holds (no marks: to every search). Returns the
    // sectors to skip beyond the end of a chunk of `chunkSectors` (a carved file that runs on
    // past it); `stopped` receives a search's stop (the rest of the buffer is then left, and
    // `examinedTo` is the first sector not examined). A fault inside one buffer (out of memory
    // on a damaged structure) abandons that buffer only.
    uint64_t ExamineBuffer(std::span<const std::byte> buffer, std::span<const uint8_t> marks,
                           uint64_t firstSector, size_t chunkSectors, PassPosition& at,
                           Status& stopped, uint64_t& examinedTo);
    // Ends every search, in the order added, also after one failed; the first failure.
    Status Finish(const PassEnd& end);

  private:
    struct Link {
        SectorExaminer* examiner;
        Reach reach;
        uint8_t bit;
    };
    std::vector<Link> links_;
    uint8_t allBits_ = 0;
    uint8_t sectorBySectorBits_ = 0;
};

}  // namespace keltra
