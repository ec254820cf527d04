// The scan window: scans the given sources in turn on its worker thread, leaving each source's
// new engine in its item, and tells the owner (kScanFinishedEvent) when the pass is over.
// Closes with kProcessDone, or kProcessNoEngine when a source had no engine (no event then).
#pragma once

#include <QString>
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

    void AskToResume(const SourceItem& source);

    std::vector<SourceItem*> sources_;
    bool deep_;
    EngineMaker makeEngine_;
    View view_;
};

}  // namespace keltra
