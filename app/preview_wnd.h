// The preview window: one found file larger, stepping through the pictures of the file list
// (buttons, arrow keys, the mouse wheel), where the picture stands among them, its size and
// pixels, and recovery of the file shown. The picture follows the window's size; the window
// can be resized, maximised (its button or a double click on its title) and closed with Esc.
#pragma once

#include <QDialog>
#include <QImage>
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

// Where the record with the key of `current` stands among the pictures of `list`: {3, 120} for
// the third of 120; {0, count} when it is not among them.
std::pair<int, int> PicturePosition(const std::vector<FoundRecord>& list,
                                    const FoundRecord& current);

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
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowExtraction();
    void ShowDetails();
    void RecoverShown();
    void ToggleMaximised();

    PreviewExtraction& shown_;
    std::vector<FoundRecord> navigation_;
    RecoverySources sources_;
    std::string& recoverFolder_;
    CPlayerLauncher* players_;
    QTextBrowser* edit_;
    QWidget* header_;
    QImage picture_;  // the picture shown, at its own size; null for text
    int wheelTurn_ = 0;  // wheel rotation not yet turned into a step, in eighths of a degree
    bool started_ = false;
};

}  // namespace keltra
