// The disk image window: a worker thread makes a rescue copy of a partition or a whole disk
// into an image file (good areas first, bad ones later and as little as possible, with a map
// beside the image), while the window shows the phase, a picture of the map, how much was read,
// found unreadable or not read yet, the speed and the time left, and offers to stop. A stopped
// copy is continued by choosing the same image file again.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/process_wnd.h"
#include "storage/rescue_copier.h"
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
    static constexpr int kWidth = 520;
    static constexpr int kHeight = 360;

    CCreateImageProcessWnd(QWidget* owner, std::string imagePath, ImageSourceChoice source,
                           RescueOptions options = {});
    ~CCreateImageProcessWnd() override;

    // Once the window has closed: the copy's result (0, a system code, 21 when the disk
    // stopped answering, or kCancelled), the counts it ended with, whether it went on from a
    // map, and the line on a map or image that was refused.
    int CopyResult() const { return copyResult_; }
    const std::string& ImagePath() const { return imagePath_; }
    const RescueProgress& FinalProgress() const { return outcome_.progress; }
    bool Continued() const { return outcome_.progress.continued; }
    const std::string& Problem() const { return outcome_.problem; }

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    static int OnRescueProgress(void* user, const RescueProgress& progress, const RescueMap& map);
    QString PhaseText() const;

    std::string imagePath_;
    ImageSourceChoice source_;
    RescueOptions options_;
    std::atomic<int> copyResult_{0};
    // Written by the worker before it closes the window.
    struct {
        RescueProgress progress;
        std::string problem;
    } outcome_;
    // The view, under the lock.
    RescueProgress progress_;
    std::vector<AreaStatus> cells_;
    uint64_t cellsAtMs_ = 0;
};

}  // namespace keltra
