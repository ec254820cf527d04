// What the main window's results page does with found files: a selected file is previewed in
// "PreviewEdit" (pictures, text; audio and video go to the player), a double-clicked one opens
// the preview window, and "BtnRecover" asks how to lay the checked files out (by type, or in
// their found folders) and recovers them into a folder the user picks.
#pragma once

#include <QObject>
#include <string>

#include "app/recovery_sources.h"
#include "engines/recovery/found_file_recovery.h"

namespace keltra {

class ResultsView;
class CPlayerLauncher;
struct PreviewExtraction;

class CFileActions : public QObject {
    Q_OBJECT

  public:
    explicit CFileActions(ResultsView* view);

    // The destination chosen last (no trailing separator).
    const std::string& RecoverFolder() const { return recoverFolder_; }
    // How the last recovery laid out and named its files; the next one asks with it.
    const RecoveryChoice& LastChoice() const { return choice_; }
    CPlayerLauncher* Players() const { return players_; }

    void PreviewSelected();
    void OpenPreviewWindow();
    void RecoverChecked();

  private:
    RecoverySources Sources() const;
    // Extracts the selected file; false when there is none, it is a folder, or it was cancelled
    // (the edit then says what there is to say).
    bool ExtractSelected(PreviewExtraction& out);

    ResultsView* view_;
    CPlayerLauncher* players_;
    std::string recoverFolder_;
    RecoveryChoice choice_;
};

}  // namespace keltra
