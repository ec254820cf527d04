// Carving a whole source on its own, with no file system to go by (a card whose file system is
// gone): every sector of a run, in one pass, offered to the carving engine.
#pragma once

#include <cstdint>

#include "engines/carver/signature_carver.h"
#include "engines/scan_engine.h"
#include "storage/sector_source.h"

namespace keltra {

inline constexpr int kCarvePassWeight = 90;

struct CarvePassRange {
    uint64_t firstSector = 0;  // absolute sector of `source`
    uint64_t sectorCount = 0;
};

// Offers every sector of the range where a file may start (the engine's screen) to `engine`
// (opened, so that it has a log), skipping the sectors of each file it carves, through the one
// reading loop of whole-source passes.
// `progress` (may be null) gets, after every 64 KiB, (user, percent, weight, seconds left,
// sectors done, total, files found, 0), on the scale of the deep scan's pass, which the end
// searches of the carving code also use: percent from 10 to 110 with weight kCarvePassWeight
// (give the engine that weight too), and (100, 100) once at the end of a pass that ran out. A
// non-zero answer stops the pass and is returned. The engine's log is flushed at the end.
// Returns 0, the stop value, or the log's write error; `unreadableSectors` (may be null) gets
// how many sectors could not be read (they were carved as zeros).
Status CarveWholeRange(SignatureCarver& engine, const SectorSource& source, int sectorSize,
                       const CarvePassRange& range, ScanProgressCallback progress, void* user,
                       uint64_t* unreadableSectors = nullptr);

}  // namespace keltra
