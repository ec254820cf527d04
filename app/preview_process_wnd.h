// The preview extraction window: presents a preview job (app/preview_job.h), showing its
// progress and offering to cancel.
#pragma once

#include "app/preview_extraction.h"
#include "app/preview_job.h"
#include "app/process_wnd.h"
#include "engines/scan_engine.h"

namespace keltra {

class CPlayerLauncher;

class CPreviewProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    static constexpr int kResultExtracted = 1;  // also when the engine reported an error
    static constexpr int kResultCancelled = 2;
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    // Extracts `record` through `engine` into `out`. Players still running from an earlier
    // preview (`players`, may be null) are ended first.
    CPreviewProcessWnd(QWidget* owner, const FoundRecord& record, ScanEngine* engine,
                       PreviewExtraction& out, CPlayerLauncher* players);

  protected:
    void OnFinished() override;

  private:
    void ShowProgress(int percent);

    CPreviewJob* preview_;
};

// Runs the window modally and answers its result. Without an engine the preview stays empty
// and the result is 1.
int ExtractPreview(QWidget* owner, const FoundRecord& record, ScanEngine* engine,
                   PreviewExtraction& out, CPlayerLauncher* players);

}  // namespace keltra
