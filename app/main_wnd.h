// The main window: four pages (start, source, file types, results) with their banners, the
// mode buttons, page navigation, and the assist menu with the language choice; the source list
// (disks, partitions, image files) kept up to date as devices come and go; the scan and the
// search; the results by type and by folder, their filters, and the checked files.
//
// For preview and recovery the window offers:
//  - Results(): the results model of the last scan (null when there are none), which holds
//    the found files and their check state; CheckedRecords(): copies of the checked files;
//  - SelectedRecord() and SelectedFileChanged(): the record of the file list's current row;
//  - EngineOf(record): the engine that found a record (by the record's source tag);
//  - ListedRecords(): the records of the file list's rows in row order;
//  - RecoverClicked(): "BtnRecover" was pressed (it is enabled only with checked files);
//  - AddImageSource(path): adds an image file as a source (also after an image was made), with
//    a source of its own for each volume of its partition table.
// CFileActions (FileActions()) does the preview and the recovery.
#pragma once

#include <QDate>
#include <QEvent>
#include <QString>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/disk_access.h"
#include "app/file_list_model.h"
#include "app/folder_tree_model.h"
#include "app/results_model.h"
#include "app/scan_job.h"
#include "app/source_item.h"
#include "engines/found_record.h"
#include "storage/volume_entry.h"

class QMenu;
class QTimer;
class QTreeWidgetItem;

namespace keltra {

class CFileActions;
class CThumbnailGrid;

class CMainWnd : public QWidget {
    Q_OBJECT

  public:
    // Posted after the language was changed: the window puts up the new texts.
    static constexpr QEvent::Type kLanguageChanged = static_cast<QEvent::Type>(QEvent::User + 6);

    enum Page : int { kPageStart = 0, kPageSource = 1, kPageFileType = 2, kPageRecover = 3 };
    enum Mode : int { kModeRecover = 0, kModeCreateImage = 1 };

    explicit CMainWnd(QWidget* parent = nullptr);
    // The grid's reads end before the sources they read go.
    ~CMainWnd() override;

    int CurrentPage() const;
    int CurrentMode() const { return mode_; }
    void ShowPage(int page);

    // Makes `name` the current language and has the window show it.
    void ChooseLanguage(const std::string& name);

    QMenu* AssistMenu() const { return assistMenu_; }

    // --- Sources ---
    // Adds an image file as a source with its own row (size 0 when it cannot be read), below it
    // a row per volume and stretch of its partition table, each a source of its own; selects the
    // image's row and returns its source. A file listed already keeps its one row, which is
    // selected and its source returned. Image sources (images and their volumes) are tagged
    // kFirstImageTag + 1, + 2, ... in the order they are added.
    SourceItem* AddImageSource(const QString& path);
    // "Load Image": the file is added as AddImageSource does once it could be opened (else the
    // system's reason is shown) and, when it holds no partition table and no known file system,
    // the user confirmed that it is an image all the same. Null when it was not added.
    SourceItem* AddImageFile(const QString& path);
    // The image of the row, or of the volume row's image, leaves the source list with its
    // volumes and the results found on them (its context menu's "Remove from list", or Delete).
    void RemoveImage(QTreeWidgetItem* row);
    // Lists exactly these disks (the start-up listing; tests give their own).
    void SetDisks(const DiskMap& disks);
    // The source whose engine stamps `tag` on its records; null when there is none.
    SourceItem* SourceByTag(uint16_t tag) const;
    // The engine that found `record`; null when its source is gone or not scanned.
    ScanEngine* EngineOf(const FoundRecord& record) const;
    // The sources of the last scan, in the order scanned.
    const std::vector<SourceItem*>& ScannedSources() const { return lastScanned_; }
    // The partitions that have an engine, in source-list order.
    std::vector<VolumeEntry> ScannedPartitions() const;
    // Preview and recovery of the found files.
    CFileActions* FileActions() const { return fileActions_; }
    bool Scanning() const { return scanning_; }

    // --- Results ---
    // The results shown on the results page; null when there are none.
    CResultsModel* Results() const { return results_.get(); }
    // The results by folder; null when there are none.
    CFolderTreeModel* Folders() const { return folders_.get(); }
    CFileListModel* FileListModel() const { return fileListModel_; }
    // The files as thumbnails, beside the list.
    CThumbnailGrid* Grid() const { return grid_; }
    // Puts these results on the results page, its first type with files listed, and shows it.
    void ShowResults(std::unique_ptr<CResultsModel> results);
    size_t CheckedCount() const;
    std::vector<FoundRecord> CheckedRecords() const;
    // The record of the file list's current row; null when no row is current.
    const FoundRecord* SelectedRecord() const;
    // The records of the file list's rows, in row order.
    std::vector<FoundRecord> ListedRecords() const;
    // The extension list the search uses, from the file-type page's chosen options.
    std::string SearchExtensions() const;

    // Device polling: how often the machine's disks are looked at, and how long after a change
    // the list is refreshed.
    static constexpr int kDevicePollMs = 1000;
    static constexpr int kDeviceSettleMs = 5000;
    // How long typing in the name filter pauses before the list follows.
    static constexpr int kFilterDelayMs = 250;
    // A date filter's edit showing this date leaves its end of the range open.
    static QDate OpenDate() { return {1900, 1, 1}; }

  signals:
    void SelectedFileChanged();
    void FileDoubleClicked();
    void RecoverClicked();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void WindowInit();
    void ConnectControls();
    void OnClick(const QString& name);
    void NextPage();
    void PreviousPage();
    void StartMode(int mode);
    void StartScan();
    void StartScanOf(std::vector<SourceItem*> sources, bool deep);
    void DropResults();
    void ShowScanSummary();
    void OptionLabels();
    void CreateImage();
    void ApplyLanguage();
    void ShowPageTexts();
    void ShowDiskAccessProblems();
    void ShowSourceInfo(QTreeWidgetItem* item);
    void BuildAssistMenu();
    void FillAssistMenu();
    void OpenDocument(const QString& name);
    void LoadImage();
    QTreeWidgetItem* ImageRow(const QString& path) const;
    void PollDevices();
    void RefreshDisks(bool addNew);
    void AddDiskRows(int diskNumber, const std::vector<VolumeEntry>& entries, bool selectNew);
    bool AddImageVolumeRows(QTreeWidgetItem* imageRow, const std::string& imagePath);
    void RemoveDiskRow(QTreeWidgetItem* disk);
    void DropEngine(SourceItem* source);
    void OnDiskDoubleClick(QTreeWidgetItem* item);
    void RunSearch(std::vector<ScannedSource> scanned);
    // The scanned sources get their engines.
    void TakeEngines(std::vector<ScannedSource>& scanned);
    void PrepareFileTypes();
    void ShowCheckState();
    void OnHeaderClick(int column);
    // The files as a list or as thumbnails.
    void ShowFileView(bool grid);
    // The file list follows the current node of the view on show: a type or a folder.
    void ListCurrentNode();
    // The folder tree of the results as the filter leaves them.
    void ShowFolders();
    // The filter controls' values, and applied to the results.
    FileFilter CurrentFilter() const;
    void ApplyFilter();
    void ReadDatesTaken();
    void FilterTexts();

    template <typename T = QWidget>
    T* Control(const char* name) const {
        return findChild<T*>(QString::fromLatin1(name));
    }

    int mode_ = kModeRecover;
    bool sourceSelected_ = false;
    bool deepScan_ = false;
    bool scanning_ = false;
    bool searching_ = false;
    bool closing_ = false;  // the window was closed: a job that returns shows nothing more
    std::vector<std::unique_ptr<SourceItem>> sources_;
    std::vector<SourceItem*> lastScanned_;
    uint16_t nextPartitionTag_ = 1;
    uint16_t imageTags_ = 0;               // image source tags handed out
    std::vector<std::string> knownDisks_;  // the device nodes the last poll saw
    QTimer* arrivalTimer_ = nullptr;       // timer 0
    QTimer* removalTimer_ = nullptr;       // timer 1
    std::vector<TypeOption> typeOptions_;  // the file-type page's options
    ScanSummary summary_;                  // of the last scan
    std::unique_ptr<CResultsModel> results_;
    std::unique_ptr<CFolderTreeModel> folders_;
    CFileListModel* fileListModel_ = nullptr;
    std::map<int, bool> sortAscending_;  // file list column -> last direction
    std::vector<DiskAccessProblem> diskProblems_;
    CFileActions* fileActions_ = nullptr;
    CThumbnailGrid* grid_ = nullptr;
    QMenu* assistMenu_ = nullptr;
    QMenu* languageMenu_ = nullptr;
};

}  // namespace keltra
