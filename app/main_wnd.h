// The main window: four pages (start, source, file types, results) with their banners, the
// mode buttons, page navigation, and the assist menu with the language choice.
#pragma once

#include <QEvent>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "app/disk_access.h"
#include "engines/found_record.h"

class QMenu;
class QTreeWidgetItem;

namespace keltra {

class CMainWnd : public QWidget {
    Q_OBJECT

  public:
    // Posted after the language was changed: the window puts up the new texts.
    static constexpr QEvent::Type kLanguageChanged = static_cast<QEvent::Type>(QEvent::User + 6);

    enum Page : int { kPageStart = 0, kPageSource = 1, kPageFileType = 2, kPageRecover = 3 };
    enum Mode : int { kModeRecover = 0, kModeCreateImage = 1 };

    explicit CMainWnd(QWidget* parent = nullptr);

    int CurrentPage() const;
    int CurrentMode() const { return mode_; }
    void ShowPage(int page);

    // Makes `name` the current language and has the window show it.
    void ChooseLanguage(const std::string& name);

    QMenu* AssistMenu() const { return assistMenu_; }

  protected:
    bool event(QEvent* event) override;

  private:
    void WindowInit();
    void ConnectControls();
    void OnClick(const QString& name);
    void NextPage();
    void PreviousPage();
    void StartMode(int mode);
    void StartScan();
    void CreateImage();
    void ApplyLanguage();
    void ShowPageTexts();
    void ShowDiskAccessProblems();
    void ShowSourceInfo(QTreeWidgetItem* item);
    void BuildAssistMenu();
    void FillAssistMenu();
    void OpenDocument(const QString& name);

    template <typename T = QWidget>
    T* Control(const char* name) const {
        return findChild<T*>(QString::fromLatin1(name));
    }

    int mode_ = kModeRecover;
    bool sourceSelected_ = false;
    bool deepScan_ = false;
    std::vector<FoundRecord> foundRecords_;
    std::vector<DiskAccessProblem> diskProblems_;
    QMenu* assistMenu_ = nullptr;
    QMenu* languageMenu_ = nullptr;
};

}  // namespace keltra
