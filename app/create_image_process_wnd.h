// The disk image window: a worker thread copies a partition or a whole disk sector by sector
// into an image file, while the window shows the progress, the speed and the time left, and
// offers to cancel.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "app/progress_gate.h"
#include "storage/volume_entry.h"

namespace keltra {

// What an image copies: one partition, or the whole of a disk.
struct ImageSourceChoice {
    std::optional<VolumeEntry> volume;
    int diskNumber = -1;  // the disk of the volume, or the whole disk
    uint64_t sizeBytes = 0;
};

class CCreateImageProcessWnd : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kResultComplete = 1;
    static constexpr int kResultCancelled = 2;
    static constexpr int kResultFailed = 3;
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    CCreateImageProcessWnd(QWidget* owner, std::string imagePath, ImageSourceChoice source);
    ~CCreateImageProcessWnd() override;

    // The copy's result code once the worker is done (0, a system code, 30, or kCancelled).
    int CopyResult() const { return copyResult_; }

    void reject() override;  // the cancel question

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    static int OnImageProgress(void* user, int percent, uint64_t sectorsDone, uint64_t totalSectors,
                               int secondsLeft);
    void CreateImageThread();

    std::string imagePath_;
    ImageSourceChoice source_;
    CProgressGate gate_;
    uint64_t startMs_ = 0;
    std::atomic<uint32_t> bytesPerSector_{512};  // the disk's, once the worker knows it
    std::atomic<int> copyResult_{0};
    bool started_ = false;
    std::thread worker_;
};

}  // namespace keltra
