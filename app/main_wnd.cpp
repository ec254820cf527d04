#include "app/main_wnd.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QUrl>
#include <cctype>

#include "app/create_image_flow.h"
#include "app/disk_list.h"
#include "app/language_table.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "app/ui/button_ex.h"
#include "app/ui/markup_label.h"
#include "app/ui/picture_attr.h"
#include "app/ui/picture_frame.h"
#include "platform/app_folders.h"
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

// The named columns of the lists, so that language sections reach their headers.
void NameColumns(QTreeWidget* tree, std::initializer_list<const char*> names) {
    int column = 0;
    for (const char* name : names) {
        tree->headerItem()->setData(column++, kControlNameRole, QString::fromLatin1(name));
    }
}

QTreeWidgetItem* NamedNode(QTreeWidget* tree, const char* name) {
    auto* item = new QTreeWidgetItem(tree);
    item->setData(0, kControlNameRole, QString::fromLatin1(name));
    return item;
}

}  // namespace

CMainWnd::CMainWnd(QWidget* parent) : QWidget(parent) {
    Ui::MainWnd skin;
    skin.setupUi(this);
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(QIcon(SkinPixmap("logo.png", 2.0)));
    setFixedSize(800, 500);
    WindowInit();
}

void CMainWnd::WindowInit() {
    auto* diskList = Control<CDiskListUI>("DiskList");
    NameColumns(diskList, {"LblDiskName", "LblDiskFileSystem", "LblDiskSize"});
    diskList->header()->setObjectName("DiskListHeader");
    diskList->header()->setStretchLastSection(false);
    diskList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    diskList->header()->resizeSection(1, 110);
    diskList->header()->resizeSection(2, 100);

    auto* fileList = Control<QTreeWidget>("FileList");
    NameColumns(fileList,
                {"CheckAll", "FileName", "Size", "ModifiedTime", "CreatedTime", "Path", "Type"});
    const int widths[] = {26, 150, 70, 120, 120, 80, 50};
    for (int column = 0; column < 7; ++column)
        fileList->header()->resizeSection(column, widths[column]);

    auto* typeTree = Control<QTreeWidget>("TypeTree");
    for (const char* node : {"NodePhoto", "NodeAudio", "NodeVideo"}) NamedNode(typeTree, node);

    BuildAssistMenu();

    ConnectControls();
    connect(diskList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ShowSourceInfo(item); });
    diskProblems_ = UnreadableDisks();
    ApplyLanguage();
    DiskMap disks;
    RefreshVolumes(disks);
    diskList->Build(disks);
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
    } else if (name == "ChkAllListSel") {
        const Qt::CheckState state =
            Control<QCheckBox>("ChkAllListSel")->isChecked() ? Qt::Checked : Qt::Unchecked;
        auto* fileList = Control<QTreeWidget>("FileList");
        for (int row = 0; row < fileList->topLevelItemCount(); ++row) {
            fileList->topLevelItem(row)->setCheckState(0, state);
        }
    }
}

void CMainWnd::StartMode(int mode) {
    mode_ = mode;
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
    deepScan_ = CurrentPage() == kPageFileType;
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
    CreateImageFromSource(this, source);
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
            ShowPage(kPageRecover);
            break;
        default:
            break;
    }
}

void CMainWnd::PreviousPage() {
    switch (CurrentPage()) {
        case kPageRecover:
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
        Control("BtnRecover")->setVisible(page == kPageRecover);
        Control("SelectedFileInfo")->setVisible(page == kPageRecover);
        Control("BtnNext")->setEnabled(page != kPageRecover);
        Control<QPushButton>("TabScan")->setChecked(page != kPageRecover);
        Control<QPushButton>("TabRecover")->setChecked(page == kPageRecover);
    }
    ShowPageTexts();
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
            const QString count = QStringLiteral("{f 7}{c #316D1E}%1{/c}{/f}")
                                      .arg(static_cast<qulonglong>(foundRecords_.size()));
            txt2->SetText(FormatMessage(QText(messages, "MSG0802"), {count}));
            break;
        }
        default:
            break;
    }
}

// The information panel of a partition row; a disk row changes nothing. Showing a partition
// makes it the source, and the scan button (and with it the way on) becomes available.
void CMainWnd::ShowSourceInfo(QTreeWidgetItem* item) {
    const VolumeEntry* entry = Control<CDiskListUI>("DiskList")->EntryOf(item);
    if (entry == nullptr) return;
    const TextMap& messages = LanguageTable().Section("Messages");
    const bool letter = entry->letter < 128 && std::isalpha(entry->letter);
    const QString label = QString::fromStdString(entry->volumeLabel);
    const QString lines[] = {
        FormatMessage(letter ? "%s %c" : "%s %d",
                      {QText(messages, "MSG0203"),
                       letter ? QString(QChar(entry->letter)) : QString::number(entry->letter)}),
        label.isEmpty() ? QText(messages, "MSG0204") : QText(messages, "MSG0204") + ' ' + label,
        QText(messages, "MSG0205") + ' ' + QString::fromStdString(entry->fileSystemName),
        QText(messages, "MSG0206") + ' ' + SizeText(entry->totalBytes),
        QText(messages, "MSG0207") + ' ' + SizeText(entry->usedBytes),
        QText(messages, "MSG0208") + ' ' + SizeText(entry->freeBytes),
    };
    for (int i = 0; i < 6; ++i) {
        Control<QLabel>(QStringLiteral("Label%1").arg(i + 1).toLatin1().constData())
            ->setText(lines[i]);
    }
    sourceSelected_ = true;
    Control("BtnScan")->setEnabled(true);
}

void CMainWnd::ApplyLanguage() {
    ApplySection(this, "MainWnd");
    Control<QLabel>("LblProductName")->setText(MessageText("MSG1209"));
    Control<QLabel>("SelectedFileInfo")->setText(MessageText("MSG0803"));
    ShowDiskAccessProblems();
    ShowPageTexts();
    ShowSourceInfo(Control<CDiskListUI>("DiskList")->currentItem());
}

void CMainWnd::ShowDiskAccessProblems() {
    auto* label = Control<QLabel>("TxtDiskAccess");
    if (diskProblems_.empty()) {
        label->hide();
        return;
    }
    QStringList lines{MessageText("MSG0222")};
    for (const auto& problem : diskProblems_) {
        lines << FormatMessage(QStringLiteral("%s: %s"),
                               {QString::fromStdString(problem.devicePath),
                                QString::fromStdString(StatusMessage(problem.status))});
    }
    label->setText(lines.join('\n'));
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
    for (const auto& [name, display] : LanguageTable().Languages()) {
        QAction* action = languageMenu_->addAction(QString::fromStdString(display));
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
