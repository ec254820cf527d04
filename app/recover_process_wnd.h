// The recovery progress window: presents a recovery job (app/recover_job.h), counts the
// outcomes it reports and lists them, failures in red at the top, and once done says how many
// were recovered, how many failed, and where they are.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/process_wnd.h"
#include "app/recover_job.h"
#include "app/source_lease.h"
#include "engines/scan_engine.h"
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
                       const std::function<ScanEngine*(uint16_t)>& engineOf);
    // The same with the layout and naming of `recovery` and each file's found folder.
    CRecoverProcessWnd(QWidget* owner, Mode mode, FoundFileRecovery recovery,
                       std::vector<FoundFileItem> items,
                       const std::function<ScanEngine*(uint16_t)>& engineOf);

    // The counters of the "recovered" label, as the window last heard them.
    unsigned Processed() const { return report_.processed; }
    unsigned Failed() const { return report_.failed; }
    unsigned Total() const { return recovery_->Total(); }
    // The share of the work done, in percent, as the bar shows it: the bytes of the files done
    // and of the current file's part copied, over the bytes of all (files of no size count as
    // one byte each, so that a list of empty files still moves the bar).
    int OverallPercent() const { return report_.percent; }

    // Keeps the sources open while the files are copied, and closes them as soon as the copying
    // ends, while the window still shows what was done.
    void HoldSourcesWhileCopying(std::unique_ptr<SourceLease> lease) { lease_ = std::move(lease); }

    // Closing (Escape, the close button) is the cancel question until recovery has finished.
    void reject() override;

  protected:
    void OnFinished() override;

  private:
    void ShowProgress(const RecoverReport& report);
    void AddDetailRow(int error, const QString& targetPath);
    void ShowCounts();
    void ToggleDetails();
    void Cancel();

    CRecoverJob* recovery_;
    bool detailsShown_ = false;
    bool finished_ = false;  // all files done: "FinishBtn" shows
    RecoverReport report_;
    std::unique_ptr<SourceLease> lease_;
};

}  // namespace keltra
