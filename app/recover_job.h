// The recovery of found files, on the job's thread: each file is handed to the engine that
// found it, with a target in its category sub-folder (or in the folders it was found in) under
// a name that collides with nothing, and gets its modification time back. Every file's outcome
// is reported as it is known, failures with the system's reason; a file whose engine is gone
// fails, and one that throws while it is copied fails alone.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/job.h"
#include "engines/scan_engine.h"
#include "engines/found_file_recovery.h"

namespace keltra {

// Where the recovery stands: files done and failed, the share of all bytes done in percent,
// the file at work.
struct RecoverReport {
    unsigned processed = 0;
    unsigned failed = 0;
    int percent = 0;
    QString current;
};

class CRecoverJob final : public CJob {
    Q_OBJECT

  public:
    // `engineOf` finds a record's engine by its source tag; it is asked here, on the caller's
    // thread, once for each source among `items`.
    CRecoverJob(FoundFileRecovery recovery, std::vector<FoundFileItem> items,
                const std::function<ScanEngine*(uint16_t)>& engineOf);
    ~CRecoverJob() override;

    const FoundFileRecovery& Recovery() const { return recovery_; }
    unsigned Total() const { return static_cast<unsigned>(items_.size()); }
    // Once finished: every file was handled (the user did not stop it).
    bool Completed() const { return completed_; }

  signals:
    void Progress(keltra::RecoverReport report);
    // A file's outcome: `error` is kOk, or why it failed; `target` where it was to go.
    void FileDone(int error, QString target);

  protected:
    void Run() override;

  private:
    static int OnCopyProgress(void* user, int part, int scale, Status error,
                              const std::string& targetPath);
    // Counts a file's outcome and reports it.
    void CountOutcome(Status error, const std::string& targetPath);
    void SendProgress();

    FoundFileRecovery recovery_;
    std::vector<FoundFileItem> items_;
    std::map<uint16_t, ScanEngine*> engines_;
    bool completed_ = false;
    // The work's own state.
    RecoverReport report_;
    bool fileReported_ = false;  // the current file's outcome came through the callback
    std::string written_;        // where the current file was written, once it was
    uint64_t bytesDone_ = 0;     // the files before the current one
    uint64_t currentBytes_ = 0;  // the current file
    uint64_t totalBytes_ = 0;
};

}  // namespace keltra
