// A deep search: the pass over a source's sectors hands it what it reads, span by span, and it
// rebuilds what it recognises into its own log. Its finds are then read through FoundFiles.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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

// A search's first test of a sector, needing nothing but the sector's bytes, so that the pass
// can make it on its reading thread right after a read while the search examines what was read
// before. It shares no state with its search.
class SectorScreen {
  public:
    virtual ~SectorScreen() = default;
    // Sets `bit` in marks[i] for each whole sector i of `sectors` that the search may take or
    // learn from. A sector left unmarked the search would answer with nothing taken; what
    // offering it would change in the search, PassOver does.
    virtual void Mark(std::span<const std::byte> sectors, std::span<uint8_t> marks,
                      uint8_t bit) const = 0;
};

// A screen that tests each sector on its own with `test(sector)`.
template <class Test>
class EachSectorScreen final : public SectorScreen {
  public:
    EachSectorScreen(int sectorSize, Test test)
        : sectorSize_(static_cast<size_t>(sectorSize > 0 ? sectorSize : 0)), test_(test) {}

    void Mark(std::span<const std::byte> sectors, std::span<uint8_t> marks,
              uint8_t bit) const override {
        if (sectorSize_ == 0) return;
        const size_t count = std::min(sectors.size() / sectorSize_, marks.size());
        for (size_t i = 0; i < count; ++i) {
            if (test_(sectors.subspan(i * sectorSize_, sectorSize_))) marks[i] |= bit;
        }
    }

  private:
    size_t sectorSize_;
    Test test_;
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
    // The screen of a pass with sectors of `sectorSize` bytes, made after Begin. None: the
    // search is offered every sector.
    virtual std::unique_ptr<SectorScreen> MakeScreen(int /*sectorSize*/) const { return nullptr; }
    // The pass went over `sectors` sectors this search's screen left unmarked and no search
    // before it took: the search is left as offering them one by one would leave it.
    virtual void PassOver(uint64_t /*sectors*/) {}
};

}  // namespace keltra
