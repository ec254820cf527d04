// The recovery progress window: a worker thread hands each file to the engine that found it,
// with a target in the file's category sub-folder (or in the folders it was found in) under a
// name that collides with nothing, and gives it back its modification time; the window counts
// the outcomes and lists them, failures in red at the top, and once done says how many were
// recovered, how many failed, and where they are.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "app/process_wnd.h"
#include "engines/file_recovery_parse.h"
#include "engines/found_file_recovery.h"
#include "engines/found_record.h"

namespace keltra {

class CRecoverProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    enum Mode { kAllChecked, kOneFile };
    // Results: recovery finished (and "FinishBtn" or the close button pressed); cancelled.
    static constexpr int kResultFinished = 1;
    static constexpr int kResultCancelled = 2;
    // The window's smallest size, and what "DetailBtn" adds to it.
    static constexpr int kWidth = 500;
    static constexpr int kHeight = 250;
    static constexpr int kDetailWidth = 150;
    static constexpr int kDetailHeight = 300;

    // `records`: the checked files in ascending key order, or in one-file mode the one file.
    // `folder`: the destination (no trailing separator). `engineOf` finds a record's engine by
    // its source tag.
    CRecoverProcessWnd(QWidget* owner, Mode mode, std::string folder,
                       std::vector<FoundRecord> records,
                       std::function<IFileRecoveryParse*(uint16_t)> engineOf);
    // The same with the layout and naming of `recovery` and each file's found folder.
    CRecoverProcessWnd(QWidget* owner, Mode mode, FoundFileRecovery recovery,
                       std::vector<FoundFileItem> items,
                       std::function<IFileRecoveryParse*(uint16_t)> engineOf);
    ~CRecoverProcessWnd() override;

    // The counters of the "recovered" label.
    unsigned Processed();
    unsigned Failed();
    unsigned Total() const { return total_; }
    // The share of the work done, in percent, as the bar shows it: the bytes of the files done
    // and of the current file's part copied, over the bytes of all (files of no size count as
    // one byte each, so that a list of empty files still moves the bar).
    int OverallPercent();

    // Closing (Escape, the close button) is the cancel question until recovery has finished.
    void reject() override;

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    struct DetailRow {
        QString status;
        QString targetPath;
    };

    static int OnRecoverProgress(void* user, int part, int scale, Status error,
                                 const std::string& targetPath);
    void RecoverCheckedThread();
    void RecoverOneThread();
    // Both workers: every record in turn; false when the user cancelled.
    bool RecoverRecords();
    // Under the lock: counts a file's outcome and lists it.
    void CountOutcome(Status error, const std::string& targetPath);
    void AddDetailRow(const QString& status, const QString& targetPath);
    void ToggleDetails();
    void Cancel();

    Mode mode_;
    FoundFileRecovery recovery_;
    std::vector<FoundFileItem> items_;
    std::function<IFileRecoveryParse*(uint16_t)> engineOf_;
    const unsigned total_;
    bool detailsShown_ = false;
    // Under the lock: the counters and the view the worker leaves for the window.
    unsigned processed_ = 0;
    unsigned failed_ = 0;
    bool fileReported_ = false;  // the current file's outcome came through the callback
    std::string written_;        // where the current file was written, once it was
    int percent_ = 0;            // of the whole work
    uint64_t bytesDone_ = 0;     // the files before the current one
    uint64_t currentBytes_ = 0;  // the current file
    uint64_t totalBytes_ = 0;
    QString current_;
    std::vector<DetailRow> newRows_;
    bool finished_ = false;  // all files done: "FinishBtn" shows
};

}  // namespace keltra
