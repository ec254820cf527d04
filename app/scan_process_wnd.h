// The scan window: scans the given sources in turn on its worker thread, leaving each source's
// new engine in its item, and tells the owner (kScanFinishedEvent) when the pass is over. A
// source without an engine is passed over with a line saying why (PassedOver()); the window
// closes with kProcessDone, or kProcessNoEngine when no source had one (no event then).
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <vector>

#include "app/process_wnd.h"
#include "app/source_item.h"

class QShowEvent;

namespace keltra {

class CScanProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    // `sources` stay the owner's; the worker replaces their engines. `deep`: 1 = deep scan.
    CScanProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, bool deep,
                    EngineMaker makeEngine = MakeSourceEngine);
    ~CScanProcessWnd() override;

    // After the pass: a line per source passed over, with the reason; whether the user stopped
    // the scan; how long it ran.
    const QStringList& PassedOver() const { return passedOver_; }
    bool Stopped() const { return stopped_; }
    uint64_t Seconds() const { return seconds_; }

    // The scan progress callback's work (public for the engines' C-style callback).
    int OnProgress(int percent, int weight, int secondsLeft, uint64_t currentSector,
                   uint64_t totalSectors, uint64_t filesFound);

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    // What the controls are to show; written under the lock.
    struct View {
        QString stage;
        QString percent;
        QString time;
        QString sectors;
        QString files;
        int progress = 0;
        bool countsShown = false;
        bool changed = false;
    };

    // False when the user stopped the scan while the question was open.
    bool AskToResume(const SourceItem& source);
    QString PassedOverLine(const SourceItem& source) const;

    std::vector<SourceItem*> sources_;
    bool deep_;
    EngineMaker makeEngine_;
    View view_;
    std::vector<QString> names_;  // the sources' names, in the window's language
    QStringList passedOver_;
    std::atomic<bool> stopped_{false};
    uint64_t seconds_ = 0;
};

}  // namespace keltra
