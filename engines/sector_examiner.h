// A deep search: the pass over a source's sectors hands it what it reads, span by span, and it
// rebuilds what it recognises into its own log. Its finds are then read through FoundFiles.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engines/found_record.h"
#include "platform/status.h"
#include "scanlog/source_identity.h"
#include "storage/sector_source.h"
#include "storage/source_ref.h"

namespace keltra {

// What every search is told when the pass begins.
struct PassStart {
    const SourceRef& source;
    // What the source is, as the scan's folder names it.
    const SourceIdentity& identity;
    // Bytes per sector of the pass.
    int sectorSize = 512;
    // The scan's folder, where the searches' logs go.
    std::string folder;
    // The log with this prefix of a continued scan (in `folder`); nothing for a new scan, which
    // starts new logs.
    std::function<std::optional<std::string>(std::string_view prefix)> resumedLog;
};

// Where the pass stands while a span is examined.
struct PassPosition {
    // The source the pass reads (a search may read on past the span).
    const SectorSource& source;
    int sectorSize = 512;
    uint64_t sectorsDone = 0;
    uint64_t totalSectors = 0;
    int secondsLeft = -1;
    // Files found so far, shown with the progress.
    uint64_t& filesFound;
};

// What the pass tells the searches when it ends (also after a stop).
struct PassEnd {
    const SectorSource& source;
    uint32_t sectorSize = 512;
    // Whether the quick scan of the source lists the file a search found.
    std::function<bool(const FoundRecord&)> listedByQuickScan;
};

// How a search answered for the span it was handed.
struct SpanVerdict {
    // Sectors at the span's start the search took (recognised as its own, or a file it carved
    // over them): the searches after it do not see them. 0 leaves the first sector to the next.
    uint64_t sectorsTaken = 0;
    // A non-zero answer of the progress callback: the pass stops at the span's first sector.
    Status stop = kOk;
};

class SectorExaminer {
  public:
    virtual ~SectorExaminer() = default;
    // Starts the search's log (or reopens a continued scan's) and reads what it needs of the
    // volume before the first span. A log that cannot be opened is a failure: what the search
    // finds would be lost.
    [[nodiscard]] virtual Status Begin(const PassStart& start) = 0;
    // Examines the whole sectors of `span`, the first of them at absolute sector `firstSector`.
    virtual SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                                PassPosition& at) = 0;
    // Builds what the pass found into the search's log; kOk, or why the log could not take it
    // (what it found is then not kept).
    virtual Status Finish(const PassEnd& end) = 0;
};

}  // namespace keltra
