// The preview window: one found file larger, stepping through the pictures of the file list,
// and recovery of the file shown.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "app/preview_extraction.h"
#include "app/recovery_sources.h"

class QTextBrowser;

namespace keltra {

class CPlayerLauncher;

// The fixed text of the preview window for a picture it cannot show.
inline constexpr const char* kCannotPreviewPicture = "\nCan not preview the picture!";

// The index in `list` of the picture to show after (`forward`) or before the record with the
// key of `current`, wrapping around the list; -1 when the list holds no picture. A current
// record missing from the list counts as standing before its first entry.
int NextPictureIndex(const std::vector<FoundRecord>& list, const FoundRecord& current,
                     bool forward);

class CPreviewWnd : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kResultClosed = 2;
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 500;

    // `shown`: the file extracted already. `navigation`: the records of the file list's
    // non-folder rows in row order. `recoverFolder`: the main window's destination, updated
    // when the user chooses one here.
    CPreviewWnd(QWidget* owner, PreviewExtraction& shown, std::vector<FoundRecord> navigation,
                RecoverySources sources, std::string& recoverFolder, CPlayerLauncher* players);

    const PreviewExtraction& Shown() const { return shown_; }
    void Step(bool forward);  // "NextBtn" / "PrevBtn"

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ShowExtraction();
    void RecoverShown();

    PreviewExtraction& shown_;
    std::vector<FoundRecord> navigation_;
    RecoverySources sources_;
    std::string& recoverFolder_;
    CPlayerLauncher* players_;
    QTextBrowser* edit_;
    bool started_ = false;
};

}  // namespace keltra
