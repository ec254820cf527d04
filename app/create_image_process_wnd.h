// The disk image window: presents an image copy job (app/image_copy_job.h), showing the
// phase, a picture of the map, how much was read, found unreadable or not read yet, the speed
// and the time left, and offers to stop. A stopped copy is continued by choosing the same image
// file again.
#pragma once

#include <string>

#include "app/image_copy_job.h"
#include "app/process_wnd.h"

namespace keltra {

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

    // Once the window has closed: the copy's result (0, a system code, 21 when the disk
    // stopped answering, or kCancelled), the counts it ended with, whether it went on from a
    // map, and the line on a map or image that was refused.
    Status CopyResult() const { return copy_->Result(); }
    const std::string& ImagePath() const { return copy_->ImagePath(); }
    const RescueProgress& FinalProgress() const { return copy_->FinalProgress(); }
    bool Continued() const { return copy_->FinalProgress().continued; }
    const std::string& Problem() const { return copy_->Problem(); }

  protected:
    void OnFinished() override;

  private:
    void ShowProgress(const ImageCopyReport& report);
    QString PhaseText(const RescueProgress& progress) const;

    CImageCopyJob* copy_;
};

}  // namespace keltra
