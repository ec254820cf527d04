#include "app/main_wnd.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QLineEdit>
#include <QListView>
#include <QDesktopServices>
#include <QProgressDialog>
#include <QTimeZone>
#include <QToolButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QTableView>
#include <QTextBrowser>
#include <QTreeView>
#include <algorithm>
#include <malloc.h>
#include <unistd.h>

#include "app/create_image_flow.h"
#include "app/disk_image_check.h"
#include "app/disk_list.h"
#include "app/file_actions.h"
#include "app/file_list_model.h"
#include "app/found_file_store.h"
#include "app/found_files.h"
#include "app/image_table_problem_text.h"
#include "app/language_table.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "app/size_text.h"
#include "app/source_lease.h"
#include "app/thumbnail_grid.h"
#include "app/ui/apply_section.h"
#include "app/ui/button_ex.h"
#include "app/ui/markup_label.h"
#include "app/ui/picture_attr.h"
#include "app/ui/picture_frame.h"
#include "app/window_size.h"
#include "engines/boot_area.h"
#include "engines/extension_categories.h"
#include "engines/photo/photo_metadata.h"
#include "storage/sector_source.h"
#include "platform/app_folders.h"
#include "platform/clock.h"
#include "platform/disk_names.h"
#include "platform/duration_text.h"
#include "scanlog/scan_log_folder.h"
#include "storage/disk_queries.h"
#include "storage/image_volumes.h"
#include "storage/volume_enumerator.h"
#include "ui_skin.h"

namespace keltra {

namespace {

constexpr const char* kTitle = "Keltra Photo Recovery";
// The one fixed text of the source page's refusal to go on.
constexpr const char* kSelectDiskFirst = "Please select disk media for next step!";
constexpr const char* kLanguagePoint = "file='point.png' source='0,0,16,16' dest='0,4,16,20'";

struct Banner {
    const char* background;
    const char* logo;
    const char* textColor;
};

// Banners of pages 1, 2 and 3.
constexpr Banner kBanners[] = {
    {"file='banner_bg.png' corner='0,0,0,70'", "file='scan_files.png' dest='15,5,65,55'",
     "#FF0089BE"},
    {"file='banner_bg2.png' corner='0,0,0,70'", "file='advance_scan.png' dest='15,5,65,55'",
     "#FFE47100"},
    {"file='banner_bg1.png' corner='0,0,0,70'", "file='recover_file.png' dest='15,5,65,55'",
     "#FF316D1E"},
};

constexpr const char* kTypeGroups[] = {"FileTypePhoto", "FileTypeAudio", "FileTypeVideo"};
// The category names as the results name them, in kCategoryNames' order.
constexpr const char* kCategoryTexts[] = {"MSG0807", "MSG0808", "MSG0809",
                                          "MSG0810", "MSG0811", "MSG0812"};

// Gives the memory of dropped results back to the system at once, not at the next allocation.
void ReturnFreedMemory() {
    malloc_trim(0);
}

// The named columns of the lists, so that language sections reach their headers.
void NameColumns(QTreeWidget* tree, std::initializer_list<const char*> names) {
    int column = 0;
    for (const char* name : names) {
        tree->headerItem()->setData(column++, kControlNameRole, QString::fromLatin1(name));
    }
}

// A day and time in UTC as a FILETIME; 0 when it is no valid time.
uint64_t UtcFileTime(QDate day, QTime time) {
    const QDateTime at(day, time, QTimeZone::utc());
    return at.isValid() ? FileTimeFromUnix(at.toSecsSinceEpoch(), 0) : 0;
}

// Disks by their device node; disks without one (tests) by their number.
std::string DiskIdentity(int diskNumber) {
    return DiskDevicePath(diskNumber).value_or("disk " + std::to_string(diskNumber));
}

std::vector<std::string> WholeDiskNodes() {
    std::vector<std::string> nodes;
    for (const auto& disk : ListWholeDisks()) nodes.push_back(disk.devicePath);
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

}  // namespace

CMainWnd::CMainWnd(QWidget* parent) : QWidget(parent) {
    Ui::MainWnd skin;
    skin.setupUi(this);
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(QIcon(SkinPixmap("logo.png", 2.0)));
    KeepWindowSize(this, LanguageTable().Paths().userConfigFile);
    WindowInit();
    fileActions_ = new CFileActions(this);
}

CMainWnd::~CMainWnd() {
    // The grid belongs to a child widget and goes after the members; its reader and its lease
    // use the sources, which go with the members. Its reads end here, whatever else ends first.
    grid_->Forget();
}

void CMainWnd::WindowInit() {
    auto* diskList = Control<CDiskListUI>("DiskList");
    NameColumns(diskList, {"LblDiskName", "LblDiskFileSystem", "LblDiskSize"});
    diskList->header()->setObjectName("DiskListHeader");
    diskList->header()->setStretchLastSection(false);
    diskList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    // The file system, or why a disk cannot be read: sized by the list to its text.
    diskList->header()->setSectionResizeMode(1, QHeaderView::Interactive);
    diskList->header()->resizeSection(2, 100);
    diskList->FitColumns();

    // The results: the type tree shows the results model, the file list the files of the
    // tree's current node.
    fileListModel_ = new CFileListModel(this);
    // A table keeps nothing per row (a tree view would keep a layout entry for each), so a
    // list of a million files costs the view nothing.
    auto* fileList = Control<QTableView>("FileList");
    fileList->setModel(fileListModel_);
    fileList->verticalHeader()->hide();
    fileList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fileList->verticalHeader()->setDefaultSectionSize(24);
    fileList->setShowGrid(false);
    fileList->setWordWrap(false);
    fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList->horizontalHeader()->setHighlightSections(false);
    fileList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int widths[] = {26, 150, 70, 120, 120, 110, 50};
    for (int column = 0; column < CFileListModel::kColumnCount; ++column)
        fileList->horizontalHeader()->resizeSection(column, widths[column]);
    fileList->horizontalHeader()->setStretchLastSection(true);
    fileList->horizontalHeader()->setSectionsClickable(true);
    connect(fileList->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CMainWnd::OnHeaderClick);
    // A preview reads through the engine the grid reads from: the grid waits meanwhile.
    connect(fileList->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        const ThumbnailService::ReadHold hold(grid_->Service());
        emit SelectedFileChanged();
    });
    connect(fileListModel_, &QAbstractItemModel::dataChanged, this, &CMainWnd::ShowCheckState);
    connect(fileListModel_, &QAbstractItemModel::modelReset, this, &CMainWnd::ShowCheckState);
    const auto openFile = [this] {
        const ThumbnailService::ReadHold hold(grid_->Service());
        emit FileDoubleClicked();
    };
    connect(fileList, &QTableView::doubleClicked, this, openFile);

    // The thumbnail grid shows the list's model with the list's selection: the same files, in
    // the same order, with the same ticks and the same current file.
    auto* fileGrid = Control<QListView>("FileGrid");
    grid_ = new CThumbnailGrid(fileGrid, fileListModel_,
                               [this](uint16_t tag) { return SourceByTag(tag); });
    fileGrid->setSelectionModel(fileList->selectionModel());
    connect(fileGrid, &QListView::doubleClicked, this, openFile);

    // The results by type and by folder, one view at a time beside the list.
    for (const char* name : {"TypeTree", "FolderTree"}) {
        auto* tree = Control<QTreeView>(name);
        tree->setHeaderHidden(true);
        tree->setTextElideMode(Qt::ElideNone);
        tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree->header()->setStretchLastSection(false);
    }
    Control<QTreeView>("FolderTree")->setUniformRowHeights(true);
    // The filters apply as they change; names once typing pauses.
    auto* nameTimer = new QTimer(this);
    nameTimer->setSingleShot(true);
    nameTimer->setInterval(kFilterDelayMs);
    connect(nameTimer, &QTimer::timeout, this, &CMainWnd::ApplyFilter);
    connect(Control<QLineEdit>("EditNameFilter"), &QLineEdit::textChanged, nameTimer,
            qOverload<>(&QTimer::start));
    connect(Control<QComboBox>("CmbSizeFilter"), &QComboBox::currentIndexChanged, this,
            &CMainWnd::ApplyFilter);
    connect(Control<QCheckBox>("ChkHideDamaged"), &QCheckBox::toggled, this,
            &CMainWnd::ApplyFilter);
    // A date edit at its lowest date leaves its end of the range open ("any").
    for (const char* name : {"DateFrom", "DateTo"}) {
        auto* edit = Control<QDateEdit>(name);
        edit->setMinimumDate(OpenDate());
        edit->setDate(OpenDate());
        connect(edit, &QDateEdit::dateChanged, this, &CMainWnd::ApplyFilter);
    }
    connect(Control<QTabWidget>("ResultViews"), &QTabWidget::currentChanged, this,
            &CMainWnd::ListCurrentNode);

    BuildAssistMenu();

    ConnectControls();
    connect(diskList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ShowSourceInfo(item); });
    connect(diskList, &CDiskListUI::RemoveImageAsked, this, &CMainWnd::RemoveImage);
    connect(diskList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OnDiskDoubleClick(item); });
    diskProblems_ = UnreadableDisks();
    ApplyLanguage();
    DiskMap disks;
    RefreshVolumes(disks);
    SetDisks(disks);
    PrepareFileTypes();

    // Devices: a poll of the machine's disks notices arrivals and removals; the list follows
    // five seconds later, when the new device's partitions have settled.
    auto* bar = Control("PartitionListBar");
    arrivalTimer_ = new QTimer(bar);
    removalTimer_ = new QTimer(bar);
    for (QTimer* timer : {arrivalTimer_, removalTimer_}) {
        timer->setSingleShot(true);
        timer->setInterval(kDeviceSettleMs);
    }
    connect(arrivalTimer_, &QTimer::timeout, this, [this] { RefreshDisks(true); });
    connect(removalTimer_, &QTimer::timeout, this, [this] { RefreshDisks(false); });
    knownDisks_ = WholeDiskNodes();
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CMainWnd::PollDevices);
    poll->start(kDevicePollMs);

    ShowPage(kPageStart);
}

void CMainWnd::ConnectControls() {
    for (auto* button : findChildren<QAbstractButton*>()) {
        const QString name = button->objectName();
        if (name == "TabScan" || name == "TabRecover" || name == "BtnAssist") continue;
        connect(button, &QAbstractButton::clicked, this, [this, name] { OnClick(name); });
    }
    // The page options select their pages when the user picks them.
    connect(Control<QPushButton>("TabScan"), &QPushButton::clicked, this,
            [this] { ShowPage(kPageSource); });
    connect(Control<QPushButton>("TabRecover"), &QPushButton::clicked, this,
            [this] { ShowPage(kPageRecover); });
    connect(Control<CButtonExUI>("BtnRecoverMode"), &CButtonExUI::OnHot, this,
            [this] { Control<QLabel>("TxtMainInfo")->setText(MessageText("MSG0101")); });
    connect(Control<CButtonExUI>("BtnCreateImageMode"), &CButtonExUI::OnHot, this,
            [this] { Control<QLabel>("TxtMainInfo")->setText(MessageText("MSG0102")); });
}

void CMainWnd::OnClick(const QString& name) {
    if (name == "BtnStart" || name == "BtnRecoverMode") {
        StartMode(kModeRecover);
    } else if (name == "BtnCreateImageMode") {
        StartMode(kModeCreateImage);
    } else if (name == "BtnNext") {
        NextPage();
    } else if (name == "BtnPrev") {
        PreviousPage();
    } else if (name == "BtnScan") {
        // In image-creation mode the button makes an image of the selection.
        mode_ == kModeCreateImage ? CreateImage() : StartScan();
    } else if (name == "BtnCreateImage") {
        CreateImage();
    } else if (name == "BtnLoadImage") {
        LoadImage();
    } else if (name == "BtnRecover") {
        const ThumbnailService::ReadHold hold(grid_->Service());
        emit RecoverClicked();
    } else if (name == "BtnListView" || name == "BtnGridView") {
        ShowFileView(name == "BtnGridView");
    } else if (name == "BtnAdvanceScan") {
        ShowPage(kPageFileType);
    } else if (name == "BtnOfferDeepScan") {
        // The source of the results, scanned again deeply.
        ShowPage(kPageFileType);
        StartScanOf(lastScanned_, true);
    } else if (name == "ChkAllListSel") {
        // A click on the partial state checks every row.
        fileListModel_->SetAllChecked(Control<QCheckBox>("ChkAllListSel")->checkState() !=
                                      Qt::Unchecked);
    }
}

void CMainWnd::StartMode(int mode) {
    mode_ = mode;
    Control<CDiskListUI>("DiskList")->SetImagesVisible(mode == kModeRecover);
    Control<CDiskListUI>("DiskList")->SelectDefaultRow();
    ShowPage(kPageSource);
}

void CMainWnd::StartScan() {
    auto* diskList = Control<QTreeWidget>("DiskList");
    if (!sourceSelected_ || diskList->currentItem() == nullptr) {
        // In image-creation mode the button makes an image of the selection.
        ShowMessage(kMessageInformation, this,
                    MessageText(mode_ == kModeCreateImage ? "MSG0216" : "MSG0505"));
        return;
    }
    if (mode_ == kModeCreateImage) return;  // the image window takes it from here

    // A partition, image or image volume row; or, for a disk row or the row of an image that
    // holds a partition table, all its volumes that have a file system, in order, and for a
    // deep scan then the stretches no such volume covers: where a deleted partition lies.
    const bool deep = CurrentPage() == kPageFileType;
    std::vector<SourceItem*> sources;
    QTreeWidgetItem* item = diskList->currentItem();
    if (item->childCount() == 0) {
        if (SourceItem* source = CDiskListUI::SourceOf(item)) sources.push_back(source);
    } else {
        std::vector<SourceItem*> stretches;
        for (int i = 0; i < item->childCount(); ++i) {
            SourceItem* child = CDiskListUI::SourceOf(item->child(i));
            if (child == nullptr || !child->partition) continue;
            if (!child->partition->fileSystemName.empty()) {
                sources.push_back(child);
            } else if (deep && child->partition->length >= kBootAreaBytes / kImageSectorSize) {
                // (A stretch smaller than a boot area, as the gap before the first partition
                // of most tables, holds no file.)
                stretches.push_back(child);
            }
        }
        sources.insert(sources.end(), stretches.begin(), stretches.end());
    }
    if (sources.empty()) {
        ShowMessage(kMessageInformation, this, MessageText("MSG0505"));
        return;
    }
    StartScanOf(sources, deep);
}

// Scans the sources, then searches what was found and shows it. The results of the scan
// before go first: a results page shows nothing but the files of its own scan. The scan's
// engines reach the sources only with the files found on them, once both jobs are over.
void CMainWnd::StartScanOf(std::vector<SourceItem*> sources, bool deep) {
    if (sources.empty()) return;
    DropResults();
    for (SourceItem* scanned : lastScanned_) DropEngine(scanned);
    for (SourceItem* source : sources) DropEngine(source);
    lastScanned_ = sources;
    deepScan_ = deep;

    std::vector<ScannedSource> scanned;
    {
        CScanProcessWnd scan(this, sources, deepScan_);
        scanning_ = true;
        const int result = scan.exec();
        scanning_ = false;
        scanned = scan.TakeScanned();
        summary_ = ScanSummary{deepScan_, !scan.Stopped(), scan.Seconds(), scan.PassedOver(), {}};
        if (result == kProcessNoEngine && !closing_) {
            QString text = MessageText("MSG0504");
            for (const QString& line : scan.PassedOver()) text += QStringLiteral("\n- ") + line;
            ShowMessage(kMessageWarning, this, text);
        }
    }
    // A window closed during the scan searches nothing.
    if (!scanned.empty() && !closing_) {
        RunSearch(std::move(scanned));
    } else {
        TakeEngines(scanned);
    }
    // What was found stays listed; the disks and images go back until a file is read.
    for (SourceItem* source : lastScanned_) CloseUnleasedSource(*source);
}

void CMainWnd::TakeEngines(std::vector<ScannedSource>& scanned) {
    for (ScannedSource& source : scanned) source.item->engine = std::move(source.engine);
    scanned.clear();
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    // A job at work stops: its window closes (with a question open over it), and the scan or
    // recovery ends there. (Hiding this window would leave its dialogs up.)
    closing_ = true;
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) dialog->done(QDialog::Rejected);
    }
    QWidget::closeEvent(event);
}

// The engine goes, and with it the results that would recover through it.
void CMainWnd::DropEngine(SourceItem* source) {
    if (!source->engine) return;
    if (results_ != nullptr) {
        for (const ResultsSource& shown : results_->Sources()) {
            if (shown.tag == source->SourceTag()) DropResults();
            if (results_ == nullptr) break;
        }
    }
    source->engine.reset();
}

// The results page empties, and the memory of its files goes back to the system.
void CMainWnd::DropResults() {
    Control<QTextBrowser>("PreviewEdit")->clear();  // the preview of a file no longer listed
    grid_->Forget();
    fileListModel_->Show(nullptr, {});
    Control<QTreeView>("TypeTree")->setModel(nullptr);
    Control<QTreeView>("FolderTree")->setModel(nullptr);
    folders_.reset();
    results_.reset();
    ReturnFreedMemory();
    ShowCheckState();
    ShowPageTexts();
}

// The search over the sources of the scan, with the extension list of the file-type page; its
// files become the results model of the page.
void CMainWnd::RunSearch(std::vector<ScannedSource> scanned) {
    const ThumbnailService::ReadHold hold(grid_->Service());
    SearchResults found;
    bool searched = false;
    {
        CSearchProcessWnd search(
            this, std::move(scanned),
            std::make_unique<FoundFileStore>(QString::fromStdString(ScanLogFolder())),
            SearchExtensions());
        searching_ = true;
        search.exec();
        searching_ = false;
        searched = search.WorkerDone();
        found = search.TakeResults();
    }
    TakeEngines(found.scanned);
    if (!searched || closing_) return;
    if (found.error != kOk) {
        ShowMessage(kMessageWarning, this, QString::fromStdString(StatusMessage(found.error)));
    }
    summary_.lostVolumes = found.lostVolumes;
    // Grouping a large store takes a moment: the pointer says the program is at work.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowResults(std::make_unique<CResultsModel>(std::move(found.store), std::move(found.sources),
                                                summary_, typeOptions_));
    QApplication::restoreOverrideCursor();
}

void CMainWnd::ShowResults(std::unique_ptr<CResultsModel> results) {
    DropResults();
    results_ = std::move(results);
    auto* typeTree = Control<QTreeView>("TypeTree");
    typeTree->setModel(results_.get());
    typeTree->expandAll();
    connect(typeTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CMainWnd::ListCurrentNode);
    // Ticks made anywhere (the list, a tree) show in the totals and the Recover button.
    connect(results_.get(), &CResultsModel::ChecksChanged, this, &CMainWnd::ShowCheckState);
    // The filters of the results before stay.
    results_->SetFilter(CurrentFilter());
    ShowFolders();
    // The first type that has files is shown at once.
    const QModelIndex first = results_->FirstFilledNode();
    if (first.isValid()) typeTree->setCurrentIndex(first);
    ListCurrentNode();
    ShowCheckState();
    ShowPage(kPageRecover);
}

// Each source's tree open one level down, the folder that was current before current again
// (else the first source).
void CMainWnd::ShowFolders() {
    auto* folderTree = Control<QTreeView>("FolderTree");
    const QString current =
        folders_ != nullptr ? folders_->PathOf(folderTree->currentIndex()) : QString();
    auto folders = std::make_unique<CFolderTreeModel>(*results_);
    folderTree->setModel(folders.get());
    folders_ = std::move(folders);
    folderTree->expandToDepth(0);
    QModelIndex chosen = folders_->rowCount() > 0 ? folders_->index(0, 0) : QModelIndex();
    for (QModelIndex at = chosen; at.isValid();) {
        // Down the path of the folder current before, as far as it still exists.
        QModelIndex next;
        for (int row = 0; row < folders_->rowCount(at); ++row) {
            const QModelIndex child = folders_->index(row, 0, at);
            const QString path = folders_->PathOf(child);
            if (current == path || current.startsWith(path + QLatin1Char('/'))) next = child;
        }
        if (next.isValid()) chosen = next;
        at = next;
    }
    if (chosen.isValid()) {
        folderTree->setCurrentIndex(chosen);
        folderTree->scrollTo(chosen);
    }
    connect(folderTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CMainWnd::ListCurrentNode);
}

FileFilter CMainWnd::CurrentFilter() const {
    static constexpr uint64_t kMegabyte = 1024 * 1024;
    FileFilter filter;
    filter.name = Control<QLineEdit>("EditNameFilter")->text().trimmed();
    switch (Control<QComboBox>("CmbSizeFilter")->currentIndex()) {
        case 1:
            filter.maxSize = kMegabyte - 1;
            break;
        case 2:
            filter.minSize = kMegabyte;
            filter.maxSize = 10 * kMegabyte;
            break;
        case 3:
            filter.minSize = 10 * kMegabyte + 1;
            break;
        default:
            break;
    }
    filter.hideDamaged = Control<QCheckBox>("ChkHideDamaged")->isChecked();
    // Whole days, as the list shows times (UTC).
    const QDate from = Control<QDateEdit>("DateFrom")->date();
    const QDate to = Control<QDateEdit>("DateTo")->date();
    if (from != OpenDate()) filter.fromTime = UtcFileTime(from, {0, 0});
    if (to != OpenDate()) filter.toTime = UtcFileTime(to.addDays(1), {0, 0}) - 1;
    return filter;
}

void CMainWnd::ApplyFilter() {
    if (results_ == nullptr) return;
    const FileFilter filter = CurrentFilter();
    if (filter.DateLimited()) ReadDatesTaken();
    results_->SetFilter(filter);
    ShowFolders();
    ListCurrentNode();
    ShowCheckState();
}

// Carved photos have no file-system date: the date filter goes by the date they were taken,
// read from their EXIF the first time a date range is set (with progress: each photo's first
// bytes are read from the source). Cancelled, the photos not read yet stay without a date and
// are read when the range changes again.
void CMainWnd::ReadDatesTaken() {
    const std::vector<uint32_t> files = results_->DatesToRead();
    if (files.empty()) return;
    const ThumbnailService::ReadHold hold(grid_->Service());
    const SourceLease open(lastScanned_);
    QProgressDialog progress(MessageText("MSG0839"), MessageText("MSG0840"), 0,
                             static_cast<int>(files.size()), this);
    progress.setWindowModality(Qt::WindowModal);
    // Shown at once: while a modal window is up, a removed disk's engine waits (RefreshDisks).
    progress.setMinimumDuration(0);
    for (size_t i = 0; i < files.size() && !progress.wasCanceled(); ++i) {
        progress.setValue(static_cast<int>(i));
        const FoundRecord record = results_->Store().Record(files[i]);
        ScanEngine* engine = EngineOf(record);
        if (engine == nullptr) continue;
        const std::optional<DateTaken> taken = ReadFoundPhotoMetadata(*engine, record).taken;
        // The camera's clock keeps no zone: taken as UTC, as the list shows every time.
        results_->SetDateTaken(
            files[i], taken ? UtcFileTime(QDate(taken->year, taken->month, taken->day),
                                          QTime(taken->hour, taken->minute, taken->second))
                            : 0);
    }
    progress.setValue(static_cast<int>(files.size()));
}

// The filter controls' texts of the current language; the chosen size range stays.
void CMainWnd::FilterTexts() {
    Control<QLineEdit>("EditNameFilter")->setPlaceholderText(MessageText("MSG0831"));
    auto* sizes = Control<QComboBox>("CmbSizeFilter");
    const QSignalBlocker blocker(sizes);
    const int chosen = std::max(0, sizes->currentIndex());
    sizes->clear();
    for (const char* key : {"MSG0832", "MSG0833", "MSG0834", "MSG0835"}) {
        sizes->addItem(MessageText(key));
    }
    sizes->setCurrentIndex(chosen);
    for (const char* name : {"DateFrom", "DateTo"}) {
        Control<QDateEdit>(name)->setSpecialValueText(MessageText("MSG0838"));
    }
}

void CMainWnd::ShowFileView(bool grid) {
    Control<QToolButton>(grid ? "BtnGridView" : "BtnListView")->setChecked(true);
    auto* views = Control<QStackedWidget>("FileViews");
    QAbstractItemView* list = Control<QTableView>("FileList");
    QAbstractItemView* thumbnails = Control<QListView>("FileGrid");
    QAbstractItemView* shown = grid ? thumbnails : list;
    views->setCurrentWidget(shown);
    grid_->SetShown(grid);
    if (shown->currentIndex().isValid()) shown->scrollTo(shown->currentIndex());
}

void CMainWnd::ListCurrentNode() {
    if (results_ == nullptr) return;
    if (Control<QTabWidget>("ResultViews")->currentWidget() == Control("PageByFolder")) {
        const QModelIndex folder = Control<QTreeView>("FolderTree")->currentIndex();
        // A folder lists what its count counts: its files and those of the folders below.
        fileListModel_->ShowFiles(results_.get(), folders_->FilesBelow(folder));
    } else {
        fileListModel_->Show(results_.get(), Control<QTreeView>("TypeTree")->currentIndex());
    }
}

// Each option of the file-type page names its extensions in its user data ("jpg|jpeg"); the
// results give each option's files a row of their own.
void CMainWnd::PrepareFileTypes() {
    typeOptions_.clear();
    for (int group = 0; group < 3; ++group) {
        for (auto* option : Control(kTypeGroups[group])->findChildren<QCheckBox*>()) {
            TypeOption type;
            type.name = option->objectName();
            type.category = group;
            for (const QString& extension : option->property("userdata").toString().split('|')) {
                if (!extension.isEmpty()) type.extensions.push_back(extension);
            }
            typeOptions_.push_back(std::move(type));
        }
    }
    OptionLabels();
}

// The option texts up to the blank before their "(" ("JPEG (jpg, jpeg)" → "JPEG").
void CMainWnd::OptionLabels() {
    for (TypeOption& type : typeOptions_) {
        const QString text = findChild<QCheckBox*>(type.name)->text();
        const qsizetype paren = text.indexOf(QStringLiteral(" ("));
        type.label = paren >= 0 ? text.left(paren) : text;
    }
}

std::string CMainWnd::SearchExtensions() const {
    std::vector<std::string> chosen;
    for (const char* group : kTypeGroups) {
        for (auto* option : Control(group)->findChildren<QCheckBox*>()) {
            if (!option->isChecked()) continue;
            for (const QString& extension : option->property("userdata").toString().split('|')) {
                if (!extension.isEmpty()) chosen.push_back(extension.toStdString());
            }
        }
    }
    std::string list;
    for (const std::string& extension : chosen) {
        list += list.empty() ? "*." : "|*.";
        list += extension;
    }
    return list;
}

// The list's check state on "ChkAllListSel"; the checked files' total on "SelectedFileInfo";
// "BtnRecover" usable only with checked files.
void CMainWnd::ShowCheckState() {
    auto* all = Control<QCheckBox>("ChkAllListSel");
    {
        const QSignalBlocker blocker(all);
        all->setCheckState(fileListModel_->ListCheckState());
    }
    const size_t count = CheckedCount();
    auto* info = Control<QLabel>("SelectedFileInfo");
    Control("BtnRecover")->setEnabled(count > 0);
    if (count == 0) {
        info->setText(MessageText("MSG0803"));
    } else if (count == 1) {
        info->setText(FormatMessage(MessageText("MSG0806"), {SizeText(results_->CheckedBytes())}));
    } else {
        info->setText(FormatMessage(MessageText("MSG0804"),
                                    {SizeText(results_->CheckedBytes()), QString::number(count)}));
    }
}

// The first click on a name or type sorts ascending, on a size or time descending; every
// further click turns the order round. The check-box column does not sort.
void CMainWnd::OnHeaderClick(int column) {
    if (column <= 0) return;
    const auto last = sortAscending_.find(column);
    const bool ascending =
        last != sortAscending_.end()
            ? !last->second
            : !(column >= CFileListModel::kSizeColumn && column <= CFileListModel::kCreatedColumn);
    sortAscending_[column] = ascending;
    auto* fileList = Control<QTableView>("FileList");
    const Qt::SortOrder order = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    fileListModel_->sort(column, order);
    fileList->horizontalHeader()->setSortIndicator(column, order);
    fileList->horizontalHeader()->setSortIndicatorShown(true);
}

const FoundRecord* CMainWnd::SelectedRecord() const {
    const QModelIndex row = Control<QTableView>("FileList")->currentIndex();
    if (!row.isValid() || results_ == nullptr) return nullptr;
    return &results_->Store().Record(fileListModel_->FileAt(row.row()));
}

std::vector<FoundRecord> CMainWnd::ListedRecords() const {
    std::vector<FoundRecord> records;
    if (results_ == nullptr) return records;
    records.reserve(fileListModel_->Files().size());
    for (uint32_t file : fileListModel_->Files()) records.push_back(results_->Store().Record(file));
    return records;
}

size_t CMainWnd::CheckedCount() const {
    return results_ != nullptr ? results_->CheckedCount() : 0;
}

std::vector<FoundRecord> CMainWnd::CheckedRecords() const {
    return results_ != nullptr ? results_->CheckedRecords() : std::vector<FoundRecord>{};
}

SourceItem* CMainWnd::SourceByTag(uint16_t tag) const {
    for (const auto& source : sources_) {
        if (source->SourceTag() == tag) return source.get();
    }
    return nullptr;
}

std::vector<VolumeEntry> CMainWnd::ScannedPartitions() const {
    std::vector<VolumeEntry> partitions;
    for (const auto& source : sources_) {
        if (source->IsPartition() && source->engine != nullptr)
            partitions.push_back(*source->partition);
    }
    return partitions;
}

ScanEngine* CMainWnd::EngineOf(const FoundRecord& record) const {
    const SourceItem* source = SourceByTag(record.sourceTag);
    return source != nullptr ? source->engine.get() : nullptr;
}

// Images go by many names (card.img, sdb.dd, disk.raw, dump.bin, cd.iso, or none at all), so
// every file can be chosen; one that holds nothing of a disk is added only when the user says so.
void CMainWnd::LoadImage() {
    const QString filters = QStringLiteral("%1 (*);;%2 (*.img *.dd *.raw *.bin *.iso *.001)")
                                .arg(MessageText("MSG0240"), MessageText("MSG0239"));
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), filters);
    if (!path.isEmpty()) AddImageFile(path);
}

SourceItem* CMainWnd::AddImageFile(const QString& path) {
    if (ImageRow(path) != nullptr) return AddImageSource(path);  // selects its row
    ImageVolumes volumes;
    if (const Status s = ListImageVolumes(path.toStdString(), volumes); s != kOk) {
        ShowMessage(kMessageError, this,
                    QStringLiteral("%1\n%2").arg(path, QString::fromStdString(StatusMessage(s))));
        return nullptr;
    }
    if (!LooksLikeDiskImage(path.toStdString(), volumes) &&
        ShowMessage(kMessageQuestion, this,
                    FormatMessage(MessageText("MSG0241"), {QFileInfo(path).fileName()})) !=
            kAnswerOk) {
        return nullptr;
    }
    return AddImageSource(path);
}

// The row of an image already listed under `path` (the same file by another name included).
QTreeWidgetItem* CMainWnd::ImageRow(const QString& path) const {
    const QString wanted = QFileInfo(path).canonicalFilePath();
    if (wanted.isEmpty()) return nullptr;  // no such file
    auto* diskList = Control<CDiskListUI>("DiskList");
    for (QTreeWidgetItemIterator it(diskList); *it != nullptr; ++it) {
        const SourceItem* source = CDiskListUI::SourceOf(*it);
        if (source == nullptr || source->imagePath.empty() || source->partition) continue;
        if (QFileInfo(QString::fromStdString(source->imagePath)).canonicalFilePath() == wanted)
            return *it;
    }
    return nullptr;
}

void CMainWnd::RemoveImage(QTreeWidgetItem* row) {
    if (row == nullptr || scanning_ || searching_) return;
    const SourceItem* source = CDiskListUI::SourceOf(row);
    if (source == nullptr || source->imagePath.empty()) return;
    if (source->partition && row->parent() != nullptr) row = row->parent();
    std::vector<SourceItem*> gone{CDiskListUI::SourceOf(row)};
    for (int i = 0; i < row->childCount(); ++i) {
        if (SourceItem* volume = CDiskListUI::SourceOf(row->child(i))) gone.push_back(volume);
    }
    Control<CDiskListUI>("DiskList")->RemoveImage(row);
    for (SourceItem* item : gone) {
        DropEngine(item);
        std::erase(lastScanned_, item);
        std::erase_if(sources_, [item](const auto& owned) { return owned.get() == item; });
    }
    ShowSourceInfo(Control<CDiskListUI>("DiskList")->currentItem());
}

SourceItem* CMainWnd::AddImageSource(const QString& path) {
    if (QTreeWidgetItem* listed = ImageRow(path)) {
        Control<CDiskListUI>("DiskList")->setCurrentItem(listed);
        return CDiskListUI::SourceOf(listed);
    }
    auto source = std::make_unique<SourceItem>();
    source->imagePath = path.toStdString();
    source->imageTag = static_cast<uint16_t>(kFirstImageTag + ++imageTags_);
    SourceItem* added = source.get();
    sources_.push_back(std::move(source));
    const qint64 size = QFileInfo(path).size();
    auto* diskList = Control<CDiskListUI>("DiskList");
    QTreeWidgetItem* row = diskList->AddImage(added, size > 0 ? static_cast<uint64_t>(size) : 0);
    // A disk image lists its volumes below it; an image of one volume names its file system.
    if (!AddImageVolumeRows(row, added->imagePath)) {
        CDiskListUI::ShowFileSystem(
            row, QString::fromStdString(ImageFileSystemName(added->imagePath)));
    }
    diskList->setCurrentItem(row);
    return added;
}

// The volumes and stretches of the image's partition table, each a source of its own with a
// tag of its own; table entries the image cannot hold are told, and the others still listed.
// An image without a table (or that cannot be read) stays a single source; a table that is
// there but cannot be used is told. False when the image holds no table.
bool CMainWnd::AddImageVolumeRows(QTreeWidgetItem* imageRow, const std::string& imagePath) {
    ImageVolumes image;
    if (ListImageVolumes(imagePath, image) != kOk) return false;
    auto* diskList = Control<CDiskListUI>("DiskList");
    for (const VolumeEntry& entry : image.entries) {
        auto volume = std::make_unique<SourceItem>();
        volume->partition = entry;
        volume->imagePath = imagePath;
        volume->imageTag = static_cast<uint16_t>(kFirstImageTag + ++imageTags_);
        diskList->AddImageVolume(imageRow, volume.get());
        sources_.push_back(std::move(volume));
    }
    const bool table = !image.tableType.empty() || !image.entries.empty();
    if (image.problems.empty()) return table;
    QString text = FormatMessage(MessageText(image.tableType.empty() ? "MSG0226" : "MSG0225"),
                                 {QFileInfo(QString::fromStdString(imagePath)).fileName()});
    text += '\n';
    for (const ImageTableProblem& problem : image.problems) {
        text += QStringLiteral("\n- ") + ImageTableProblemText(problem);
    }
    imageRow->setToolTip(0, text);
    ShowMessage(kMessageWarning, this, text);
    return table;
}

void CMainWnd::SetDisks(const DiskMap& disks) {
    auto* diskList = Control<CDiskListUI>("DiskList");
    for (int d = diskList->topLevelItemCount() - 1; d >= 0; --d) {
        QTreeWidgetItem* row = diskList->topLevelItem(d);
        if (row->data(0, kControlNameRole).toString() != "ImageFile") RemoveDiskRow(row);
    }
    for (const auto& problem : diskProblems_) {
        diskList->AddUnreadableDisk(QString::fromStdString(problem.devicePath),
                                    QString::fromStdString(StatusMessage(problem.status)));
    }
    for (const auto& [diskNumber, entries] : disks) AddDiskRows(diskNumber, entries, false);
}

// A disk that can be read, with a source per entry. Entries keep their running number as their
// source tag unless a listed source has it already (numbers shift as devices come and go);
// then they take the next free one.
void CMainWnd::AddDiskRows(int diskNumber, const std::vector<VolumeEntry>& entries,
                           bool selectNew) {
    if (entries.empty()) return;
    const std::string identity = DiskIdentity(diskNumber);
    for (const auto& problem : diskProblems_) {
        if (problem.devicePath == identity) return;  // listed greyed
    }
    auto* diskList = Control<CDiskListUI>("DiskList");
    const bool removable = IsRemovableDisk(diskNumber);
    QTreeWidgetItem* disk = diskList->AddDisk(diskNumber, identity, removable);
    for (const VolumeEntry& entry : entries) {
        auto source = std::make_unique<SourceItem>();
        source->partition = entry;
        uint16_t tag = entry.letter;
        if (tag == 0 || tag >= kFirstImageTag || SourceByTag(tag) != nullptr)
            tag = nextPartitionTag_;
        source->partition->letter = tag;
        nextPartitionTag_ = std::max<uint16_t>(nextPartitionTag_, tag + 1);
        QTreeWidgetItem* row = diskList->AddPartition(disk, source.get());
        sources_.push_back(std::move(source));
        if (selectNew && removable && row->parent()->indexOfChild(row) == 0) {
            diskList->setCurrentItem(row);
        }
    }
}

void CMainWnd::RemoveDiskRow(QTreeWidgetItem* disk) {
    auto* diskList = Control<CDiskListUI>("DiskList");
    std::vector<SourceItem*> gone;
    for (int i = 0; i < disk->childCount(); ++i) {
        if (SourceItem* source = CDiskListUI::SourceOf(disk->child(i))) gone.push_back(source);
    }
    delete diskList->takeTopLevelItem(diskList->indexOfTopLevelItem(disk));
    for (SourceItem* source : gone) {
        DropEngine(source);
        std::erase(lastScanned_, source);
        std::erase_if(sources_, [source](const auto& owned) { return owned.get() == source; });
    }
}

void CMainWnd::PollDevices() {
    std::vector<std::string> now = WholeDiskNodes();
    const bool arrived = std::any_of(now.begin(), now.end(), [this](const std::string& node) {
        return !std::binary_search(knownDisks_.begin(), knownDisks_.end(), node);
    });
    const bool removed =
        std::any_of(knownDisks_.begin(), knownDisks_.end(), [&now](const std::string& node) {
            return !std::binary_search(now.begin(), now.end(), node);
        });
    knownDisks_ = std::move(now);
    if (arrived) arrivalTimer_->start();
    if (removed) removalTimer_->start();
}

// Timer 0 adds the disks that are not listed yet, selecting the first volume of a new removable
// disk unless a scan is running; timer 1 removes the disks that are gone. Kept disks take their
// new disk numbers. A removal waits while a progress window works with the engines.
void CMainWnd::RefreshDisks(bool addNew) {
    if (!addNew && QApplication::activeModalWidget() != nullptr) {
        removalTimer_->start();
        return;
    }
    DiskMap disks;
    RefreshVolumes(disks);
    std::map<std::string, int> numbers;
    for (const auto& [diskNumber, entries] : disks) {
        if (!entries.empty()) numbers[DiskIdentity(diskNumber)] = diskNumber;
    }
    auto* diskList = Control<CDiskListUI>("DiskList");
    for (int d = diskList->topLevelItemCount() - 1; d >= 0; --d) {
        QTreeWidgetItem* disk = diskList->topLevelItem(d);
        const std::string identity = CDiskListUI::IdentityOf(disk);
        if (identity.empty()) continue;  // the image group, or a disk that cannot be read
        const auto found = numbers.find(identity);
        if (found == numbers.end()) {
            if (!addNew) RemoveDiskRow(disk);
            continue;
        }
        for (int i = 0; i < disk->childCount(); ++i) {
            if (SourceItem* source = CDiskListUI::SourceOf(disk->child(i))) {
                source->partition->diskNumber = found->second;
            }
        }
        numbers.erase(found);
    }
    if (!addNew) return;
    for (const auto& [identity, diskNumber] : numbers) {
        AddDiskRows(diskNumber, disks[diskNumber], !scanning_);
    }
}

// A row with rows below it (a disk, the image group, an image that holds a partition table)
// opens or closes; a source row starts its scan.
void CMainWnd::OnDiskDoubleClick(QTreeWidgetItem* item) {
    if (item->childCount() > 0) {
        item->setExpanded(!item->isExpanded());
    } else if (CDiskListUI::SourceOf(item) != nullptr) {
        if (mode_ == kModeRecover) StartScan();
    }
}

// An image of the selected partition, or of the whole disk of a selected disk row.
void CMainWnd::CreateImage() {
    auto* diskList = Control<CDiskListUI>("DiskList");
    QTreeWidgetItem* item = diskList->currentItem();
    ImageSourceChoice source;
    if (const VolumeEntry* entry = diskList->EntryOf(item)) {
        source = ImageOfVolume(*entry);
    } else if (item != nullptr && item->childCount() > 0) {
        if (const VolumeEntry* first = diskList->EntryOf(item->child(0))) {
            source = ImageOfDisk(first->diskNumber);
        }
    }
    if (!sourceSelected_ || source.diskNumber < 0) {
        ShowMessage(kMessageInformation, this, MessageText("MSG0216"));
        return;
    }
    const std::optional<std::string> image = CreateImageFromSource(this, source);
    if (!image) return;
    // The new image as a source of recovery mode, its row selected.
    StartMode(kModeRecover);
    AddImageSource(QString::fromStdString(*image));
}

int CMainWnd::CurrentPage() const {
    return Control<QStackedWidget>("TabPage")->currentIndex();
}

void CMainWnd::NextPage() {
    switch (CurrentPage()) {
        case kPageStart:
            ShowPage(kPageSource);
            break;
        case kPageSource:
            if (Control("BtnScan")->isEnabled()) {
                ShowPage(kPageFileType);
            } else {
                ShowMessage(kMessageInformation, this, QString::fromLatin1(kSelectDiskFirst));
            }
            break;
        case kPageFileType:
            // The way on from the file types is the deep scan of the selected source.
            StartScan();
            break;
        default:
            break;
    }
}

void CMainWnd::PreviousPage() {
    switch (CurrentPage()) {
        case kPageRecover:
            // Leaving the results lets their memory go; a scan brings them back.
            DropResults();
            ShowPage(deepScan_ ? kPageFileType : kPageSource);
            break;
        case kPageFileType:
            ShowPage(kPageSource);
            break;
        case kPageSource:
            ShowPage(kPageStart);
            break;
        default:
            break;
    }
}

void CMainWnd::ShowPage(int page) {
    if (page < kPageStart || page > kPageRecover) return;
    Control<QStackedWidget>("TabPage")->setCurrentIndex(page);
    const bool start = page == kPageStart;
    for (const char* name : {"ToolBar2", "ToolBar3", "ToolBtn", "SubBar2", "Txt1", "Txt2"}) {
        Control(name)->setVisible(!start);
    }
    Control("SubBar1")->setVisible(start);
    if (!start) {
        const Banner& banner = kBanners[page - 1];
        Control<CPictureFrame>("ToolBar2")->SetBkImage(banner.background);
        Control<CPictureFrame>("ToolBar2Logo")->SetImage(banner.logo);
        Control<CMarkupLabel>("Txt1")->SetTextColor(QColor(QString::fromLatin1(banner.textColor)));
        Control("BtnScan")->setVisible(page != kPageRecover);
        Control("BtnAdvanceScan")->setVisible(page == kPageSource && mode_ == kModeRecover);
        Control("BtnRecover")->setVisible(page == kPageRecover);
        Control("SelectedFileInfo")->setVisible(page == kPageRecover);
        Control("BtnNext")->setEnabled(page != kPageRecover);
        Control<QPushButton>("TabScan")->setChecked(page != kPageRecover);
        Control<QPushButton>("TabRecover")->setChecked(page == kPageRecover);
    }
    ShowPageTexts();
}

// The line that names the results' sources and scan, the sources it passed over, and the offer
// of a deep scan after a quick scan that found nothing.
void CMainWnd::ShowScanSummary() {
    auto* summary = Control<QLabel>("LblScanSummary");
    auto* offer = Control("BtnOfferDeepScan");
    if (results_ == nullptr) {
        summary->clear();
        offer->hide();
        return;
    }
    const ScanSummary& scan = results_->Summary();
    QStringList names;
    for (const ResultsSource& source : results_->Sources()) names << source.name;
    const char* key = scan.deep ? (scan.complete ? "MSG0815" : "MSG0817")
                                : (scan.complete ? "MSG0814" : "MSG0816");
    QString text = FormatMessage(
        MessageText(key),
        {names.join(QStringLiteral(", ")), QString::fromStdString(DurationText(scan.seconds))});
    // What was found, by category, and how much of it is damaged.
    QStringList found;
    for (int c = 0; c < kCategoryCount; ++c) {
        const size_t files = results_->CategoryFileCount(c);
        if (files == 0) continue;
        found << QStringLiteral("%1 %2").arg(MessageText(kCategoryTexts[c])).arg(files);
    }
    if (!found.isEmpty()) {
        text += QLatin1Char(' ') + found.join(QStringLiteral(", "));
        if (results_->DamagedCount() > 0) {
            text += QStringLiteral("; ") +
                    FormatMessage(MessageText("MSG0836"),
                                  {QString::number(results_->DamagedCount())});
        }
        text += QLatin1Char('.');
    }
    for (const QString& line : scan.passedOver) text += QLatin1Char('\n') + line;
    if (!scan.lostVolumes.isEmpty()) {
        text += QLatin1Char('\n') + FormatMessage(MessageText("MSG0819"),
                                                  {scan.lostVolumes.join(QStringLiteral("; "))});
    }
    summary->setText(text);
    offer->setVisible(results_->FileCount() == 0 && !scan.deep);
}

// The texts that depend on the page and the mode.
void CMainWnd::ShowPageTexts() {
    const TextMap& messages = LanguageTable().Section("Messages");
    auto* txt1 = Control<CMarkupLabel>("Txt1");
    auto* txt2 = Control<CMarkupLabel>("Txt2");
    auto* tabScan = Control<QPushButton>("TabScan");
    const bool imageMode = mode_ == kModeCreateImage;
    tabScan->setText(QText(messages, imageMode ? "MSG0211" : "MSG0503"));
    const TextMap& controls = LanguageTable().Section("MainWnd");
    Control<CButtonExUI>("BtnScan")->setText(
        QText(controls, imageMode ? "BtnCreateImage" : "BtnScan"));
    Control<CButtonExUI>("BtnScan")->SetImage(imageMode
                                                  ? "file='btn_create_image.png' dest='49,5,77,37'"
                                                  : "file='btn_scan.png' dest='49,5,81,37'");
    ShowScanSummary();
    // On the file-type page the way on is the deep scan, and says so.
    // (A language without the text leaves the skin's.)
    auto* next = Control<QPushButton>("BtnNext");
    if (!next->property("skinText").isValid()) next->setProperty("skinText", next->text());
    const QString nextText =
        QText(controls, CurrentPage() == kPageFileType ? "BtnAdvanceScan" : "BtnNext");
    next->setText(nextText.isEmpty() ? next->property("skinText").toString() : nextText);
    switch (CurrentPage()) {
        case kPageSource:
            txt1->SetText(QText(messages, imageMode ? "MSG0212" : "MSG0501"));
            txt2->SetText(QText(messages, imageMode ? "MSG0213" : "MSG0502"));
            break;
        case kPageFileType:
            txt1->SetText(QText(messages, "MSG0601"));
            txt2->SetText(QText(messages, "MSG0602"));
            break;
        case kPageRecover: {
            txt1->SetText(QText(messages, "MSG0801"));
            const size_t found = results_ != nullptr ? results_->FileCount() : 0;
            const QString count =
                QStringLiteral("{f 7}{c #316D1E}%1{/c}{/f}").arg(static_cast<qulonglong>(found));
            // With nothing found by a quick scan, the deep scan is the way on.
            const bool offerDeep = results_ != nullptr && found == 0 && !results_->Summary().deep;
            txt2->SetText(
                FormatMessage(QText(messages, offerDeep ? "MSG0818" : "MSG0802"), {count}));
            break;
        }
        default:
            break;
    }
}

// The information panel of a partition, image or image volume row; a disk row changes
// nothing. Showing a source makes it the one to scan, and the scan button (and with it the way
// on) available.
void CMainWnd::ShowSourceInfo(QTreeWidgetItem* item) {
    const SourceItem* source = CDiskListUI::SourceOf(item);
    const TextMap& messages = LanguageTable().Section("Messages");
    QString lines[6];
    if (source == nullptr) {
        // A disk row or nothing: no source's details stay on show.
        for (int i = 0; i < 6; ++i) {
            Control<QLabel>(QStringLiteral("Label%1").arg(i + 1).toLatin1().constData())->clear();
        }
        return;
    }
    if (source->partition) {
        const VolumeEntry& entry = *source->partition;
        const QString label = QString::fromStdString(entry.volumeLabel);
        if (source->IsImageVolume()) {
            lines[0] = QText(messages, "MSG0209") + ' ' + ImageSourceText(*source);
        } else {
            const bool letter = IsDriveLetter(entry.letter);
            lines[0] =
                FormatMessage(letter ? "%s %c" : "%s %d",
                              {QText(messages, "MSG0203"), letter ? QString(QChar(entry.letter))
                                                                  : QString::number(entry.letter)});
        }
        lines[1] =
            label.isEmpty() ? QText(messages, "MSG0204") : QText(messages, "MSG0204") + ' ' + label;
        lines[2] = QText(messages, "MSG0205") + ' ' + QString::fromStdString(entry.fileSystemName);
        lines[3] = QText(messages, "MSG0206") + ' ' + SizeText(entry.totalBytes);
        lines[4] = QText(messages, "MSG0207") + ' ' + SizeText(entry.usedBytes);
        lines[5] = QText(messages, "MSG0208") + ' ' + SizeText(entry.freeBytes);
    } else {
        const QString path = QString::fromStdString(source->imagePath);
        const qint64 size = QFileInfo(path).size();
        lines[0] = QText(messages, "MSG0209") + ' ' + path;
        lines[1] =
            QText(messages, "MSG0210") + ' ' + SizeText(size > 0 ? static_cast<uint64_t>(size) : 0);
    }
    for (int i = 0; i < 6; ++i) {
        Control<QLabel>(QStringLiteral("Label%1").arg(i + 1).toLatin1().constData())
            ->setText(lines[i]);
    }
    sourceSelected_ = true;
    Control("BtnScan")->setEnabled(true);
}

void CMainWnd::ApplyLanguage() {
    ApplySection(this, "MainWnd");
    OptionLabels();
    fileListModel_->Retranslate();
    if (results_ != nullptr) results_->Retranslate();
    if (folders_ != nullptr) folders_->Retranslate();
    FilterTexts();
    const TextMap& controls = LanguageTable().Section("MainWnd");
    auto* views = Control<QTabWidget>("ResultViews");
    views->setTabText(views->indexOf(Control("PageByType")), QText(controls, "PageByType"));
    views->setTabText(views->indexOf(Control("PageByFolder")), QText(controls, "PageByFolder"));
    Control<QLabel>("LblProductName")->setText(MessageText("MSG1209"));
    ShowDiskAccessProblems();
    ShowCheckState();
    ShowPageTexts();
    ShowSourceInfo(Control<CDiskListUI>("DiskList")->currentItem());
}

void CMainWnd::ShowDiskAccessProblems() {
    auto* label = Control<QLabel>("TxtDiskAccess");
    if (diskProblems_.empty()) {
        label->hide();
        return;
    }
    // Root is advised only where it would help.
    const bool asRoot = RootWouldHelp(diskProblems_, geteuid() == 0);
    label->setText(MessageText(asRoot ? "MSG0222" : "MSG0238"));
    label->show();
}

void CMainWnd::BuildAssistMenu() {
    assistMenu_ = new QMenu(this);
    assistMenu_->setObjectName("MenuWnd");
    languageMenu_ = assistMenu_->addMenu(QString());
    languageMenu_->setObjectName("item_language");
    assistMenu_->addSeparator();
    for (const char* item : {"item_help", "item_faq", "item_about", "item_support"}) {
        QAction* action = assistMenu_->addAction(QString());
        action->setObjectName(item);
        connect(action, &QAction::triggered, this, [this, item] { OpenDocument(item); });
    }
    assistMenu_->addSeparator();
    QAction* exit = assistMenu_->addAction(QString());
    exit->setObjectName("item_exit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(assistMenu_, &QMenu::aboutToShow, this, &CMainWnd::FillAssistMenu);
    FillAssistMenu();
    Control<QPushButton>("BtnAssist")->setMenu(assistMenu_);
}

// The menu's texts, and one entry per language with the current one marked.
void CMainWnd::FillAssistMenu() {
    ApplySection(assistMenu_, "MenuWnd");
    languageMenu_->clear();
    const QPixmap point =
        PictureToPixmap(ParsePictureAttr(kLanguagePoint), QSize(16, 16), devicePixelRatioF());
    for (const auto& language : LanguageTable().Languages()) {
        const std::string name = language.first;
        QAction* action = languageMenu_->addAction(QString::fromStdString(language.second));
        action->setObjectName(QString::fromStdString(name));
        if (name == LanguageTable().CurrentLanguage()) action->setIcon(QIcon(point));
        connect(action, &QAction::triggered, this, [this, name] { ChooseLanguage(name); });
    }
}

// Help, questions and support are in the README shipped with the program, opened in the
// user's viewer; "about" names the program and its version.
void CMainWnd::OpenDocument(const QString& item) {
    if (item == "item_about") {
        ShowMessage(kMessageInformation, this,
                    MessageText("MSG1209") + QStringLiteral(" ") + QStringLiteral(KELTRA_VERSION));
        return;
    }
    const QString path = QString::fromStdString(FileBesideProgram("README.md"));
    if (!QFileInfo::exists(path) || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        ShowMessage(kMessageInformation, this, path);
    }
}

void CMainWnd::ChooseLanguage(const std::string& name) {
    LanguageTable().SetLanguage(name);
    QApplication::postEvent(this, new QEvent(kLanguageChanged));
}

bool CMainWnd::event(QEvent* event) {
    if (event->type() == kLanguageChanged) {
        ApplyLanguage();
        return true;
    }
    return QWidget::event(event);
}

}  // namespace keltra
