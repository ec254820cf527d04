// The one reading loop of every whole-source pass (the deep scan, carving a whole source): a
// run of sectors is examined in 64 KiB chunks, each handed in order to one examiner. A reader
// thread reads ahead in pieces of 256 KiB, one read and one hand-over each, into a small ring of
// buffers, so that reading and examining overlap; the examiner still sees exactly the chunks a
// plain loop would read. Where a read fails, the reader goes chunk by chunk. Right after each
// read the reader thread marks the sectors read (the searches' screens), so that the examiner
// visits only the sectors some screen let through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// What the examiner answers for one chunk.
struct ChunkVerdict {
    // Sectors to skip beyond the chunk's end (a carved file that runs on past it).
    uint64_t skipCarry = 0;
    // Non-zero ends the pass with this value (for example kCancelled).
    Status stop = kOk;
};

// Looks at the sectors of one chunk: `sectors` holds the whole sectors actually read (fewer
// than asked after a short read), the first of them being absolute sector `firstSector`;
// `marks` holds the marker's mark of each of them (nothing when the pass has no marker).
using ChunkExaminer = std::function<ChunkVerdict(
    std::span<const std::byte> sectors, std::span<const uint8_t> marks, uint64_t firstSector)>;

// Marks each whole sector of `sectors` (one byte each in `marks`, zero before the call). Runs
// on the reader thread while the examiner works on what was read before.
using SectorMarker =
    std::function<void(std::span<const std::byte> sectors, std::span<uint8_t> marks)>;

// Called after every chunk with the progress numerator and the total; a non-zero answer (for
// example kCancelled) ends the pass with that value.
using PassProgress = std::function<Status(uint64_t sectorsDone, uint64_t totalSectors)>;

struct SectorPassRun {
    uint64_t firstSector = 0;  // absolute sector of the source where the run starts
    uint64_t length = 0;       // sectors in the run
    uint64_t offset = 0;       // sectors of the run already passed (resume); 0 for a new pass
};

struct SectorPassProgress {
    uint64_t sectorsDone = 0;   // numerator at the start of the run (sectors of earlier runs)
    uint64_t totalSectors = 0;  // denominator handed to the progress hook
};

struct SectorPassOutcome {
    Status status = kOk;             // kOk when the run was passed to its end, else the stop value
    uint64_t offset = 0;             // sectors of the run passed (the run's length once finished)
    uint64_t sectorsDone = 0;        // progress numerator at the end
    uint64_t unreadableSectors = 0;  // sectors that could not be read or were passed over
};

class SectorPass {
  public:
    static constexpr size_t kChunkBytes = 65536;
    // What the reader reads and hands over at a time where reads succeed.
    static constexpr size_t kPieceBytes = 256 * 1024;
    // Pieces in the ring: the examiner holds one or two (a chunk may run on into the next).
    static constexpr size_t kRingBuffers = 4;

    // `source` must allow reads from two threads at once (file handles and memory readers do:
    // their reads are positioned): the examiner may read the source itself while the reader
    // thread reads ahead. `mark`, when given, marks every sector read (sectors read as zeros
    // after a failed read included).
    SectorPass(const SectorSource& source, int sectorSize, SectorMarker mark = {});

    // Passes the run from its offset to its end. Each chunk is 65536 / sector size sectors,
    // or what remains of the run. When a chunk's read fails, its sectors are read again one by
    // one: those that cannot be read are handed to the examiner as zeros and counted in the
    // outcome. In a bad area (16 failed sectors in a row) the pass skips ahead instead, over
    // an area that doubles while the reads after it keep failing; the sectors passed over are
    // zeros and counted as unreadable too. Sectors beyond the source's end read as nothing: a chunk there is not examined.
    // The pass advances by the whole chunk plus the examiner's last skip carry.
    // sectorsDone grows by each advance, never beyond what remained of the run.
    SectorPassOutcome Run(const SectorPassRun& run, SectorPassProgress progress,
                          const ChunkExaminer& examine, const PassProgress& report);

  private:
    const SectorSource& source_;
    int sectorSize_;
    SectorMarker mark_;
};

}  // namespace keltra
