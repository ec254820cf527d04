// The one pass of a deep scan over a volume: its free runs when the quick scan gives them, else
// all of its sectors, from where an earlier scan of it stopped; every chunk read goes through
// the searches' chain. Where it stands at the end (finished or stopped) is kept for a later scan
// to continue.
#pragma once

#include <cstdint>
#include <functional>

#include "engines/deep/examiner_chain.h"
#include "engines/quick_scan.h"
#include "platform/status.h"
#include "scanlog/scan_history.h"
#include "storage/sector_source.h"

namespace keltra {

class DeepPass {
  public:
    static constexpr uint64_t kEstimateEveryMs = 5000;

    // The volume of `sectorCount` sectors from absolute sector `startSector` of `source`.
    struct Volume {
        const SectorSource& source;
        int sectorSize = 512;
        uint64_t startSector = 0;
        uint64_t sectorCount = 0;
    };
    // After every chunk: sectors done, their total and the estimate of the seconds left (-1 =
    // none yet); a non-zero answer stops the pass with that value.
    using Report =
        std::function<Status(uint64_t sectorsDone, uint64_t totalSectors, int secondsLeft)>;

    // `freeRuns`, when given, tells the volume's free runs (its bitmap loaded); null: every
    // sector is passed.
    DeepPass(const Volume& volume, QuickScan* freeRuns);

    // Passes the volume, continuing `resumeFrom` when given. `filesFound` starts at 0 (or the
    // continued scan's count) and grows with every carved file; `state` receives where the pass
    // stands at its end. kOk at the end of the volume, else the stop value.
    Status Run(ExaminerChain& chain, const DeepScanState* resumeFrom, uint64_t& filesFound,
               DeepScanState& state, const Report& report);

    bool FreeSpaceOnly() const { return freeRuns_ != nullptr; }
    uint64_t SectorsRead() const { return sectorsRead_; }
    uint64_t UnreadableSectors() const { return unreadableSectors_; }
    // Whether the pass took up the continued scan's run (a finished one has none left).
    bool TookUpResume() const { return tookUpResume_; }

  private:
    // One run of the pass, in sectors from the volume's start.
    struct FreeRun {
        uint64_t position = 0;
        uint64_t length = 0;
    };
    FreeRun NextRun(uint64_t position) const;
    // The estimate of the seconds left, made again every kEstimateEveryMs.
    void Estimate(uint64_t sectorsDone, uint64_t totalSectors);

    Volume volume_;
    QuickScan* freeRuns_;
    uint64_t sectorsRead_ = 0;
    uint64_t unreadableSectors_ = 0;
    bool tookUpResume_ = false;
    uint64_t startMs_ = 0;
    uint64_t lastEstimateMs_ = 0;
    uint64_t sessionStartDone_ = 0;
    int secondsLeft_ = -1;
};

}  // namespace keltra
