// The preview extraction window: a worker thread has the record's engine deliver the file's
// content (a temporary file, or bytes in a buffer) while the window shows the progress and
// offers to cancel.
#pragma once

#include <QDialog>
#include <thread>

#include "app/preview_extraction.h"
#include "app/progress_gate.h"
#include "engines/file_recovery_parse.h"

namespace keltra {

class CPlayerLauncher;

class CPreviewProcessWnd : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kResultExtracted = 1;  // also when the engine reported an error
    static constexpr int kResultCancelled = 2;
    static constexpr int kWidth = 450;
    static constexpr int kHeight = 250;

    // Extracts `record` through `engine` into `out`. Players still running from an earlier
    // preview (`players`, may be null) are ended first.
    CPreviewProcessWnd(QWidget* owner, const FoundRecord& record, IFileRecoveryParse* engine,
                       PreviewExtraction& out, CPlayerLauncher* players);
    ~CPreviewProcessWnd() override;

    void reject() override;  // the cancel question

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    static int OnPreviewProgress(void* user, int percent, int unused);
    void PreviewThread();

    FoundRecord record_;
    IFileRecoveryParse* engine_;
    PreviewExtraction& out_;
    CPlayerLauncher* players_;
    CProgressGate gate_;
    bool started_ = false;
    std::thread worker_;
};

// Runs the window modally and answers its result. Without an engine the preview stays empty
// and the result is 1.
int ExtractPreview(QWidget* owner, const FoundRecord& record, IFileRecoveryParse* engine,
                   PreviewExtraction& out, CPlayerLauncher* players);

}  // namespace keltra
