#include "app/scan_job.h"

namespace keltra {

namespace {

constexpr auto kReportEvery = std::chrono::milliseconds(50);

}  // namespace

CScanJob::CScanJob(std::vector<SourceItem*> sources, bool deep, EngineMaker makeEngine)
    : sources_(std::move(sources)), deep_(deep), makeEngine_(std::move(makeEngine)) {}

CScanJob::~CScanJob() {
    StopAndWait();
}

void CScanJob::Run() {
    const auto started = std::chrono::steady_clock::now();
    for (size_t i = 0; i < sources_.size(); ++i) {
        if (ShouldStop()) {
            stopped_ = true;
            break;
        }
        current_ = static_cast<int>(i);
        sent_ = ScanReport{current_, -1};
        emit SourceStarted(current_);
        std::unique_ptr<ScanEngine> engine = makeEngine_(*sources_[i], deep_);
        if (!engine) {
            passedOver_.push_back(i);
            continue;
        }
        anyEngine_ = true;
        engine->SetCallbacks(&OnProgress, nullptr, this, 100);
        const Status result = engine->Scan(std::nullopt);
        engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
        scanned_.push_back({sources_[i], std::move(engine)});
        if (result == kCancelled || StopRequested()) {
            stopped_ = true;
            break;
        }
    }
    seconds_ = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count());
}

int CScanJob::OnProgress(void* user, int percent, int weight, int secondsLeft,
                         uint64_t currentSector, uint64_t totalSectors, uint64_t filesFound,
                         int /*reserved*/) {
    auto* job = static_cast<CScanJob*>(user);
    if (job->ShouldStop()) return kCancelled;
    const ScanReport report{job->current_, percent,      weight,    secondsLeft,
                            currentSector, totalSectors, filesFound};
    const auto now = std::chrono::steady_clock::now();
    const ScanReport& sent = job->sent_;
    if (sent.source == report.source && sent.percent == percent && sent.weight == weight &&
        now - job->sentAt_ < kReportEvery) {
        return 0;
    }
    job->sent_ = report;
    job->sentAt_ = now;
    emit job->Progress(report);
    return 0;
}

}  // namespace keltra
