#include "app/image_copy_job.h"

#include "platform/clock.h"
#include "storage/disk_rescue.h"

namespace keltra {

namespace {

// A report at most this often unless the phase changes; the map's picture is worked out again
// at most every kCellsEveryMs.
constexpr uint64_t kReportEveryMs = 50;
constexpr uint64_t kCellsEveryMs = 250;

}  // namespace

CImageCopyJob::CImageCopyJob(std::string imagePath, ImageSourceChoice source,
                             RescueOptions options, size_t cells)
    : imagePath_(std::move(imagePath)), source_(std::move(source)), options_(options),
      cells_(cells) {}

CImageCopyJob::~CImageCopyJob() {
    StopAndWait();
}

void CImageCopyJob::Run() {
    RescueCopier copier(&OnRescueProgress, this, options_);
    if (source_.volume) {
        result_ = RescueDiskRange(copier, source_.volume->diskNumber, source_.volume->start,
                                  source_.volume->length, imagePath_);
    } else if (source_.diskNumber >= 0) {
        result_ = RescueDiskRange(copier, source_.diskNumber, 0, 0, imagePath_);
    }
    final_ = copier.Progress();
    problem_ = copier.Problem();
    // The final state, with the map's picture as the copy left it.
    if (final_.totalBytes != 0) emit Progress({final_, copier.Map().Cells(cells_)});
}

int CImageCopyJob::OnRescueProgress(void* user, const RescueProgress& progress,
                                    const RescueMap& map) {
    auto* job = static_cast<CImageCopyJob*>(user);
    if (job->ShouldStop()) return kCancelled.value();
    const bool phaseChanged = progress.phase != job->sent_.phase || progress.pass != job->sent_.pass;
    const uint64_t now = TickCountMs();
    if (!phaseChanged && job->cellsSent_ && now - job->sentAtMs_ < kReportEveryMs) return 0;
    ImageCopyReport report{progress, {}};
    if (!job->cellsSent_ || phaseChanged || now - job->cellsAtMs_ >= kCellsEveryMs) {
        report.cells = map.Cells(job->cells_);
        job->cellsAtMs_ = now;
        job->cellsSent_ = true;
    }
    job->sent_ = progress;
    job->sentAtMs_ = now;
    emit job->Progress(report);
    return 0;
}

}  // namespace keltra
