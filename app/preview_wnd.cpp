#include "app/preview_wnd.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QWheelEvent>
#include <QWindow>
#include <cstdlib>

#include "app/found_files.h"
#include "app/message_format.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/recovery_destination.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "engines/extension_categories.h"
#include "ui_PreviewWnd.h"

namespace keltra {

namespace {

bool IsPicture(const FoundRecord& record) {
    return record.isFolder == 0 && ExtensionInList(ExtensionOf(record.Name()), kPhotoExtensions);
}

// One step of the mouse wheel: a notch of 15 degrees.
constexpr int kWheelNotch = 120;

}  // namespace

std::pair<int, int> PicturePosition(const std::vector<FoundRecord>& list,
                                    const FoundRecord& current) {
    const uint64_t key = CheckedFileKey(current);
    int count = 0;
    int at = 0;
    for (const FoundRecord& record : list) {
        if (!IsPicture(record)) continue;
        ++count;
        if (at == 0 && CheckedFileKey(record) == key) at = count;
    }
    return {at, count};
}

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
        if (IsPicture(list[i])) return i;
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
    connect(findChild<QPushButton*>("maxbtn"), &QPushButton::clicked, this,
            &CPreviewWnd::ToggleMaximised);
    // The window has no frame of its own: its title bar moves it, the corner grip resizes it.
    setSizeGripEnabled(true);
    setMinimumSize(360, 300);
    header_ = findChild<QWidget*>("header");
    header_->installEventFilter(this);
    edit_->installEventFilter(this);
    edit_->viewport()->installEventFilter(this);
}

void CPreviewWnd::ToggleMaximised() {
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

void CPreviewWnd::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!picture_.isNull()) InsertPicture(edit_, picture_);
}

void CPreviewWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        done(kResultClosed);
        return;
    }
    // A file shown as text has no pictures to step through.
    if (shown_.tempPath.empty()) {
        QDialog::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_PageUp:
            Step(false);
            return;
        case Qt::Key_Right:
        case Qt::Key_Down:
        case Qt::Key_PageDown:
        case Qt::Key_Space:
            Step(true);
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

bool CPreviewWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == header_) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            ToggleMaximised();
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle()) {
            windowHandle()->startSystemMove();
            return true;
        }
        return false;
    }
    // Over a picture the keys and the wheel step; over text they scroll it as usual.
    if (picture_.isNull()) return false;
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    if (event->type() == QEvent::Wheel) {
        wheelTurn_ += static_cast<QWheelEvent*>(event)->angleDelta().y();
        while (std::abs(wheelTurn_) >= kWheelNotch) {
            const bool forward = wheelTurn_ < 0;
            wheelTurn_ += forward ? kWheelNotch : -kWheelNotch;
            Step(forward);
        }
        return true;
    }
    return false;
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
    picture_ = QImage();
    if (shown_.tempPath.empty()) {
        edit_->setPlainText(PreviewText(
            std::span(shown_.buffer).first(std::min<size_t>(shown_.size, shown_.buffer.size()))));
    } else {
        picture_ = LoadPreviewPicture(QString::fromStdString(shown_.tempPath));
        if (picture_.isNull()) {
            edit_->setPlainText(QString::fromLatin1(kCannotPreviewPicture));
        } else {
            InsertPicture(edit_, picture_);
        }
    }
    ShowDetails();
}

void CPreviewWnd::ShowDetails() {
    const QString size = SizeText(shown_.record.size);
    findChild<QLabel*>("Details")
        ->setText(picture_.isNull()
                      ? size
                      : FormatMessage(MessageText("MSG0907"),
                                      {size, QString::number(picture_.width()),
                                       QString::number(picture_.height())}));
    const auto [at, count] = PicturePosition(navigation_, shown_.record);
    findChild<QLabel*>("Position")
        ->setText(at == 0 ? QString()
                          : FormatMessage(MessageText("MSG0906"),
                                          {QString::number(at), QString::number(count)}));
}

void CPreviewWnd::Step(bool forward) {
    const int next = NextPictureIndex(navigation_, shown_.record, forward);
    if (next < 0) return;
    edit_->clear();
    const FoundRecord record = navigation_[next];
    ScanEngine* engine = sources_.engineOf ? sources_.engineOf(record.sourceTag) : nullptr;
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
