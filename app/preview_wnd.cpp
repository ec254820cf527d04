#include "app/preview_wnd.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>

#include "app/found_files.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/recovery_destination.h"
#include "app/ui/apply_section.h"
#include "engines/extension_categories.h"
#include "ui_PreviewWnd.h"

namespace keltra {

int NextPictureIndex(const std::vector<FoundRecord>& list, const FoundRecord& current,
                     bool forward) {
    const int count = static_cast<int>(list.size());
    const uint64_t key = CheckedFileKey(current);
    int at = -1;
    for (int i = 0; i < count; ++i) {
        if (CheckedFileKey(list[i]) == key) {
            at = i;
            break;
        }
    }
    if (at < 0) at = forward ? -1 : count;
    // Every other entry once, then the current one itself.
    for (int step = 1; step <= count; ++step) {
        const int i = ((forward ? at + step : at - step) % count + count) % count;
        const FoundRecord& record = list[i];
        if (record.isFolder == 0 && ExtensionInList(ExtensionOf(record.Name()), kPhotoExtensions))
            return i;
    }
    return -1;
}

CPreviewWnd::CPreviewWnd(QWidget* owner, PreviewExtraction& shown,
                         std::vector<FoundRecord> navigation, RecoverySources sources,
                         std::string& recoverFolder, CPlayerLauncher* players)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      shown_(shown),
      navigation_(std::move(navigation)),
      sources_(std::move(sources)),
      recoverFolder_(recoverFolder),
      players_(players) {
    Ui::PreviewWnd skin;
    skin.setupUi(this);
    setModal(true);
    resize(kWidth, kHeight);
    ApplySection(this, "PreviewWnd");
    edit_ = findChild<QTextBrowser*>("PreviewEdit");
    edit_->setLineWrapMode(QTextEdit::NoWrap);
    if (shown_.tempPath.empty()) {
        findChild<QWidget*>("PrevBar")->hide();
        findChild<QWidget*>("NextBar")->hide();
    }
    connect(findChild<QPushButton*>("PrevBtn"), &QPushButton::clicked, this,
            [this] { Step(false); });
    connect(findChild<QPushButton*>("NextBtn"), &QPushButton::clicked, this,
            [this] { Step(true); });
    connect(findChild<QPushButton*>("RecoveryBtn"), &QPushButton::clicked, this,
            &CPreviewWnd::RecoverShown);
    connect(findChild<QPushButton*>("CancelBtn"), &QPushButton::clicked, this,
            [this] { done(kResultClosed); });
    connect(findChild<QPushButton*>("closebtn"), &QPushButton::clicked, this,
            [this] { done(kResultClosed); });
}

void CPreviewWnd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ShowExtraction();
}

void CPreviewWnd::ShowExtraction() {
    const QString name = QString::fromUtf8(shown_.record.Name().data(),
                                           static_cast<qsizetype>(shown_.record.Name().size()));
    findChild<QLabel*>("FileName")->setText(name);
    findChild<QLabel*>("title")->setText(name);
    if (shown_.tempPath.empty()) {
        edit_->setPlainText(PreviewText(
            std::span(shown_.buffer).first(std::min<size_t>(shown_.size, shown_.buffer.size()))));
        return;
    }
    if (!ShowPicture(edit_, QString::fromStdString(shown_.tempPath))) {
        edit_->setPlainText(QString::fromLatin1(kCannotPreviewPicture));
    }
}

void CPreviewWnd::Step(bool forward) {
    const int next = NextPictureIndex(navigation_, shown_.record, forward);
    if (next < 0) return;
    edit_->clear();
    const FoundRecord record = navigation_[next];
    IFileRecoveryParse* engine = sources_.engineOf ? sources_.engineOf(record.sourceTag) : nullptr;
    if (ExtractPreview(this, record, engine, shown_, players_) ==
        CPreviewProcessWnd::kResultExtracted) {
        ShowExtraction();
    }
}

void CPreviewWnd::RecoverShown() {
    const std::vector<VolumeEntry> partitions =
        sources_.scannedPartitions ? sources_.scannedPartitions() : std::vector<VolumeEntry>();
    if (!ChooseRecoveryDestination(this, partitions, recoverFolder_)) return;
    CRecoverProcessWnd window(this, CRecoverProcessWnd::kOneFile, recoverFolder_, {shown_.record},
                              sources_.engineOf);
    window.exec();
}

}  // namespace keltra
