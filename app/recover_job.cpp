#include "app/recover_job.h"

#include <algorithm>

#include "engines/recovery_target.h"

namespace keltra {

namespace {

// How much a file weighs in the share done.
uint64_t BarBytes(const FoundRecord& record) {
    return std::max<uint64_t>(record.size, 1);
}

// `part` percent of `bytes` after `done` of `total`, as a whole percent.
int SharePercent(uint64_t done, uint64_t bytes, int part, uint64_t total) {
    if (total == 0) return 100;
    const long double share =
        (static_cast<long double>(done) + static_cast<long double>(bytes) * part / 100.0L) /
        static_cast<long double>(total);
    return static_cast<int>(std::clamp<long double>(share * 100.0L, 0.0L, 100.0L));
}

}  // namespace

CRecoverJob::CRecoverJob(FoundFileRecovery recovery, std::vector<FoundFileItem> items,
                         const std::function<ScanEngine*(uint16_t)>& engineOf)
    : recovery_(std::move(recovery)), items_(std::move(items)) {
    for (const FoundFileItem& item : items_) {
        totalBytes_ += BarBytes(item.record);
        const uint16_t tag = item.record.sourceTag;
        if (!engines_.contains(tag)) engines_[tag] = engineOf ? engineOf(tag) : nullptr;
    }
}

CRecoverJob::~CRecoverJob() {
    StopAndWait();
}

void CRecoverJob::Run() {
    for (const FoundFileItem& item : items_) {
        if (ShouldStop()) return;
        const FoundRecord& record = item.record;
        ScanEngine* engine = engines_.at(record.sourceTag);
        const std::string target =
            engine != nullptr
                ? recovery_.TargetOf(*engine, record, item.folderPath)
                : RecoveryTargetPath(recovery_.Folder(), record, item.folderPath,
                                     recovery_.Choice().layout);
        Status status = kErrInvalidParameter;  // no source holds the record's tag any more
        fileReported_ = false;
        currentBytes_ = BarBytes(record);
        written_.clear();
        if (engine != nullptr) {
            if (engine->SetCallbacks(nullptr, &OnCopyProgress, this, 100) != kOk) break;
            bool faulted = false;
            try {
                status = engine->RecoverRecord(record, target, recovery_.RootSeparators());
            } catch (const std::exception&) {
                faulted = true;
            }
            engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
            if (status == kCancelled && !faulted) return;
            // A fault while copying this one file: it counts as failed, the next goes on.
            if (faulted) status = kErrFileCorrupt;
        }
        // An engine that failed before it could copy anything answers only with its result;
        // the file still counts, as failed, and is listed with the reason.
        if (!fileReported_ && status != kOk) CountOutcome(status, target);
        bytesDone_ += currentBytes_;
        currentBytes_ = 0;
        report_.percent = SharePercent(bytesDone_, 0, 0, totalBytes_);
        SendProgress();
        // A file kept whole gets its time back; one that cannot is still recovered.
        if (!written_.empty()) recovery_.KeepModifiedTime(written_, record);
    }
    completed_ = !StopRequested();
}

int CRecoverJob::OnCopyProgress(void* user, int part, int scale, Status error,
                                const std::string& targetPath) {
    auto* job = static_cast<CRecoverJob*>(user);
    if (job->ShouldStop()) return kCancelled;
    const int percent = part * scale / 100;
    job->report_.current = QString::fromStdString(targetPath);
    if (percent == 100) {
        job->fileReported_ = true;
        job->CountOutcome(error, targetPath);
        if (error == kOk) job->written_ = targetPath;
    }
    const int share = SharePercent(job->bytesDone_, job->currentBytes_, percent, job->totalBytes_);
    if (share != job->report_.percent || percent == 100) {
        job->report_.percent = share;
        job->SendProgress();
    }
    return 0;
}

void CRecoverJob::CountOutcome(Status error, const std::string& targetPath) {
    if (error != kOk) ++report_.failed;
    ++report_.processed;
    report_.current = QString::fromStdString(targetPath);
    emit FileDone(error, report_.current);
}

void CRecoverJob::SendProgress() {
    emit Progress(report_);
}

}  // namespace keltra
