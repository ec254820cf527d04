// The scan of a list of sources, in turn, on the job's thread. Each source gets a new engine,
// which stays the job's, with the source it scanned, until the owner takes them together once
// the job has finished: no window ever sees an engine of a scan still running. A source no
// engine can read is passed over; the user's stop ends the pass, keeping what was scanned.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/job.h"
#include "app/source_item.h"

namespace keltra {

// A source and the engine of its scan.
struct ScannedSource {
    SourceItem* item = nullptr;
    std::unique_ptr<ScanEngine> engine;
};

// One progress report of the engine of the source numbered `source` in the pass.
struct ScanReport {
    int source = 0;
    int percent = 0;
    int weight = 0;
    int secondsLeft = -1;
    uint64_t currentSector = 0;
    uint64_t totalSectors = 0;
    uint64_t filesFound = 0;
};

class CScanJob final : public CJob {
    Q_OBJECT

  public:
    // `sources` stay the owner's and are only read; their engines are not touched.
    CScanJob(std::vector<SourceItem*> sources, bool deep, EngineMaker makeEngine);
    ~CScanJob() override;

    const std::vector<SourceItem*>& Sources() const { return sources_; }
    bool Deep() const { return deep_; }

    // Once finished: the sources that got an engine, in order (taken once); the positions of
    // those passed over; whether the user stopped the pass; how long it ran.
    std::vector<ScannedSource> TakeScanned() { return std::move(scanned_); }
    const std::vector<size_t>& PassedOver() const { return passedOver_; }
    bool Stopped() const { return stopped_; }
    bool AnyEngine() const { return anyEngine_; }
    uint64_t Seconds() const { return seconds_; }

  signals:
    void SourceStarted(int source);
    void Progress(keltra::ScanReport report);

  protected:
    void Run() override;

  private:
    static int OnProgress(void* user, int percent, int weight, int secondsLeft,
                          uint64_t currentSector, uint64_t totalSectors, uint64_t filesFound,
                          int reserved);

    std::vector<SourceItem*> sources_;
    bool deep_;
    EngineMaker makeEngine_;
    int current_ = 0;
    // The last report sent: a report that changes no percent waits this long after it, so
    // that a fast engine does not flood the window.
    ScanReport sent_;
    std::chrono::steady_clock::time_point sentAt_;
    std::vector<ScannedSource> scanned_;
    std::vector<size_t> passedOver_;
    bool stopped_ = false;
    bool anyEngine_ = false;
    uint64_t seconds_ = 0;
};

}  // namespace keltra
