// What the quick folder walks of the FAT family (FAT and exFAT) hand on: the records they find,
// straight into the scan's store, and their progress reports while they walk.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "engines/fat/fat_directory_walker.h"
#include "engines/scan_log_store.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace keltra {

// Files and folders the walk finds go straight into the store, filed under their parent key.
class StoreScanSink final : public FatScanSink {
  public:
    explicit StoreScanSink(ScanLogStore& store) : store_(store) {}
    void FileFound(const FoundRecord& record, uint64_t parentKey) override {
        const uint32_t index = Add(record);
        store_.Link(parentKey, index, record.key);
    }
    void FolderFound(const FoundRecord& record, uint64_t parentKey) override {
        const uint32_t index = Add(record);
        store_.Link(parentKey, index, record.key, record.Name());
    }

  private:
    uint32_t Add(const FoundRecord& record) {
        FoundRecord& slot = store_.NewRecord();
        const uint32_t index = slot.recordIndex;
        slot = record;
        slot.recordIndex = index;
        return index;
    }
    ScanLogStore& store_;
};

// The percent and seconds left of the `reports`-th report during the walk (one every 5 s): with
// weight 100, 2, 3, 4, … and 99, 98, …; with weight 9, 21, 22, … and no estimate; with any
// other weight, no report.
inline std::optional<std::pair<int, int>> WalkProgress(int weight, int reports) {
    switch (weight) {
        case 100:
            return std::pair{std::min(1 + reports, 79), std::max(100 - reports, 1)};
        case 9:
            return std::pair{std::min(20 + reports, 79), -1};
        default:
            return std::nullopt;
    }
}

// Drives a started walk to its end, a progress report (every 5 s, see WalkProgress) through
// `report` (percent, seconds left → the caller's answer) at a time; a non-zero answer stops it.
// The folders above what was logged are written even after a stop, so that what was found can
// still be browsed; then the store is flushed. Returns the stop answer, else `logStatus`, else
// the flush's status.
template <class Walker, class Report>
Status RunQuickWalk(Walker& walker, ScanLogStore& store, int weight, Status logStatus,
                    Report report) {
    constexpr uint64_t kReportIntervalMs = 5000;
    int answer = report(1, -1);
    uint64_t lastReport = TickCountMs();
    int reports = 0;
    while (answer == 0 && walker.Step()) {
        if (TickCountMs() - lastReport < kReportIntervalMs) continue;
        lastReport = TickCountMs();
        if (const auto step = WalkProgress(weight, ++reports)) {
            answer = report(step->first, step->second);
        }
    }
    walker.StopWalk();
    if (answer == 0) answer = report(80, 10);
    walker.ReportFolders();
    const Status flushStatus = store.Flush();
    if (answer == 0) answer = report(100, 0);
    if (answer != 0) return answer;
    return logStatus != kOk ? logStatus : flushStatus;
}

}  // namespace keltra
