// A stand-in for the deep scan's pass, for the deep NTFS search's tests: reads every sector of
// a source in 64 KiB chunks and hands each sector where a FILE record of a file begins to the
// search, by the same tests the deep scan applies; then lets it finish.
#pragma once

#include <cstdint>

#include "engines/ntfs/deep_ntfs_search.h"
#include "storage/sector_source.h"

namespace keltra::test {

struct RecordPassResult {
    uint64_t handed = 0;  // records handed to the search
    Status finish = kOk;  // the search's Finish
};

// Sectors [first, first + count) of `source`, `sectorSize` bytes each.
RecordPassResult RunNtfsRecordPass(DeepNtfsSearch& engine, const SectorSource& source,
                                   uint64_t first, uint64_t count, uint32_t sectorSize = 512);

}  // namespace keltra::test
