// The disk image window: a worker thread copies a partition or a whole disk sector by sector
// into an image file, while the window shows the progress, the speed and the time left, and
// offers to cancel.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/process_wnd.h"
#include "storage/volume_entry.h"

namespace keltra {

// What an image copies: one partition, or the whole of a disk.
struct ImageSourceChoice {
    std::optional<VolumeEntry> volume;
    int diskNumber = -1;  // the disk of the volume, or the whole disk
    uint64_t sizeBytes = 0;
};

class CCreateImageProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    static constexpr int kResultComplete = 1;
    static constexpr int kResultCancelled = 2;
    static constexpr int kResultFailed = 3;
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    CCreateImageProcessWnd(QWidget* owner, std::string imagePath, ImageSourceChoice source);
    ~CCreateImageProcessWnd() override;

    // The copy's result once the worker is done: 0, a system code, 30, or kCancelled.
    int CopyResult() const { return copyResult_; }

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    static int OnImageProgress(void* user, int percent, uint64_t sectorsDone, uint64_t totalSectors,
                               int secondsLeft);

    std::string imagePath_;
    ImageSourceChoice source_;
    uint32_t bytesPerSector_ = 512;  // the disk's, once the worker knows it
    uint64_t startMs_ = 0;
    std::atomic<int> copyResult_{0};
    // The view, under the lock.
    int percent_ = 0;
    uint64_t sectorsDone_ = 0;
    uint64_t totalSectors_ = 0;
    int secondsLeft_ = -1;
    uint64_t bytesPerSecond_ = 0;  // 0 until a second has passed
};

}  // namespace keltra
