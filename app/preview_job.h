// The extraction of one found file for its preview, on the job's thread: the record's engine
// delivers the file's content as a temporary file (pictures, audio, video) or as bytes in the
// extraction's buffer.
#pragma once

#include <QObject>

#include "app/job.h"
#include "app/preview_extraction.h"
#include "engines/scan_engine.h"

namespace keltra {

class CPreviewJob final : public CJob {
    Q_OBJECT

  public:
    // `out` (its record set) is filled by the work and read once the job has finished.
    // Without an engine the preview stays empty.
    CPreviewJob(ScanEngine* engine, PreviewExtraction& out);
    ~CPreviewJob() override;

    // Once finished: the engine's answer (kCancelled when the user stopped it).
    Status Result() const { return result_; }

  signals:
    void Progress(int percent);

  protected:
    void Run() override;

  private:
    static int OnPreviewProgress(void* user, int percent, int unused);

    ScanEngine* engine_;
    PreviewExtraction& out_;
    Status result_ = kOk;
    int sent_ = -1;  // the last percent reported
};

}  // namespace keltra
