// The scan window: presents a scan job (app/scan_job.h) over the given sources. For a deep
// scan it first asks, for each source with an earlier deep scan, whether to take that scan up.
// It closes with kProcessDone once the pass is over, or kProcessNoEngine when no source had an
// engine; a source without one is named with the reason (PassedOver()).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "app/process_wnd.h"
#include "app/scan_job.h"
#include "app/source_item.h"

namespace keltra {

class CScanProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    // `sources` stay the owner's; their engines are not touched. `deep`: 1 = deep scan.
    CScanProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, bool deep,
                    EngineMaker makeEngine = MakeSourceEngine);

    // After the pass: a line per source passed over, with the reason; whether the user stopped
    // the scan; how long it ran; the scanned sources with their engines (taken once).
    const QStringList& PassedOver() const { return passedOver_; }
    bool Stopped() const { return scan_->Stopped(); }
    uint64_t Seconds() const { return scan_->Seconds(); }
    std::vector<ScannedSource> TakeScanned() { return scan_->TakeScanned(); }

  protected:
    void BeginWork() override;
    void OnFinished() override;

  private:
    void ShowSource(int source);
    void ShowProgress(const ScanReport& report);
    // A deep scan takes up an earlier one only when the user says so.
    void AskToResume(const SourceItem& source);
    QString PassedOverLine(size_t source) const;

    CScanJob* scan_;
    std::vector<QString> names_;  // the sources' names, in the window's language
    QStringList passedOver_;
};

}  // namespace keltra
