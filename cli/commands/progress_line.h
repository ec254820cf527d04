// One line of progress on stderr, redrawn in place. It is drawn only when stderr is a
// terminal, so logs and pipes get nothing but the results.
#pragma once

#include <cstdint>
#include <string>

namespace keltra::cli {

class ProgressLine {
  public:
    // Draws when stderr is a terminal.
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool Enabled() const { return enabled_; }
    // Redraws the line with `text`; at most ten times a second unless `force`.
    void Show(const std::string& text, bool force = false);
    // Removes the line so that other output starts on a clean line.
    void Clear();

  private:
    bool enabled_;
    bool drawn_ = false;
    uint64_t lastDrawMs_ = 0;
};

// The speed of a deep scan's pass, from the sectors it reports over time.
struct PassSpeed {
    uint32_t sectorSize = 0;   // 0: not a deep scan
    uint64_t firstSector = 0;  // sectors done at the first report (a resumed pass starts there)
    uint64_t firstMs = 0;
    uint64_t bytesPerSecond = 0;  // 0 until a second has passed
    bool started = false;

    void Update(uint64_t sectorsDone, uint64_t nowMs);
};

// A deep scan's line: percent, bytes scanned, speed, time left and files found.
std::string DeepScanProgressText(const std::string& what, int percent, int secondsLeft,
                                 uint64_t sectorsDone, const PassSpeed& speed, uint64_t filesFound);

// The scan's line: percent, then, when the engine reports them, sectors and files found, and
// the time left once the engine has an estimate.
std::string ScanProgressText(const std::string& what, int percent, int secondsLeft,
                             uint64_t currentSector, uint64_t totalSectors, uint64_t filesFound);

}  // namespace keltra::cli
