#include "app/preview_job.h"

#include <chrono>
#include <thread>

namespace keltra {

namespace {

// Time given to an ended player to let go of the temporary file it played.
constexpr auto kMediaSettle = std::chrono::milliseconds(1000);

}  // namespace

CPreviewJob::CPreviewJob(ScanEngine* engine, PreviewExtraction& out)
    : engine_(engine), out_(out) {}

CPreviewJob::~CPreviewJob() {
    StopAndWait();
}

void CPreviewJob::Run() {
    out_.size = static_cast<uint32_t>(out_.buffer.size());
    if (out_.media) std::this_thread::sleep_for(kMediaSettle);
    out_.tempPath.clear();
    if (engine_ == nullptr) {
        out_.size = 0;
        return;
    }
    result_ = engine_->ReadRecordData(out_.record, out_.tempPath, out_.buffer, out_.size,
                                      &OnPreviewProgress, this);
    if (result_ != kOk) out_.tempPath.clear();
}

int CPreviewJob::OnPreviewProgress(void* user, int percent, int /*unused*/) {
    auto* job = static_cast<CPreviewJob*>(user);
    if (job->ShouldStop()) return kCancelled;
    if (percent != job->sent_) {
        job->sent_ = percent;
        emit job->Progress(percent);
    }
    return 0;
}

}  // namespace keltra
