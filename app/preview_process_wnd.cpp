#include "app/preview_process_wnd.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>

#include "app/message_format.h"
#include "app/player_launcher.h"
#include "app/ui/apply_section.h"
#include "ui_PreviewProcessWnd.h"

namespace keltra {

namespace {

// Time given to an ended player to let go of the temporary file it played.
constexpr auto kMediaSettle = std::chrono::milliseconds(1000);

}  // namespace

CPreviewProcessWnd::CPreviewProcessWnd(QWidget* owner, const FoundRecord& record,
                                       IFileRecoveryParse* engine, PreviewExtraction& out,
                                       CPlayerLauncher* players)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      record_(record),
      engine_(engine),
      out_(out),
      players_(players) {
    Ui::PreviewProcessWnd skin;
    skin.setupUi(this);
    setModal(true);
    resize(kWidth, kHeight);
    gate_.Reset();
    connect(findChild<QPushButton*>("cancelbtn"), &QPushButton::clicked, this,
            &CPreviewProcessWnd::reject);
    connect(findChild<QPushButton*>("closebtn"), &QPushButton::clicked, this,
            &CPreviewProcessWnd::reject);
}

CPreviewProcessWnd::~CPreviewProcessWnd() {
    if (worker_.joinable()) worker_.join();
}

void CPreviewProcessWnd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ApplySection(this, "PreviewProcessWnd");
    const QString name =
        QString::fromUtf8(record_.Name().data(), static_cast<qsizetype>(record_.Name().size()));
    findChild<QLabel*>("FileName")->setText(name);
    findChild<QLabel*>("stage")->setText(
        FormatMessage(QStringLiteral("%s %s"), {MessageText("MSG0902"), name}));
    // Players run on this (the window's) thread, so they are ended here, before the worker
    // overwrites the file they may still hold.
    out_.record = record_;
    out_.ClassifyMedia();
    if (players_ != nullptr) players_->EndAll();
    worker_ = std::thread([this] { PreviewThread(); });
}

void CPreviewProcessWnd::PreviewThread() {
    out_.size = static_cast<uint32_t>(out_.buffer.size());
    if (out_.media) std::this_thread::sleep_for(kMediaSettle);
    out_.tempPath.clear();
    Status result = kOk;
    if (engine_ == nullptr) {
        out_.size = 0;
    } else {
        result = engine_->ReadRecordData(out_.record, out_.tempPath, out_.buffer, out_.size,
                                         &OnPreviewProgress, this);
        if (result != kOk && !out_.tempPath.empty()) out_.tempPath.clear();
    }
    const int code = result == kCancelled ? kResultCancelled : kResultExtracted;
    gate_.SetWorkerDone();
    QMetaObject::invokeMethod(
        this, [this, code] { done(code); }, Qt::QueuedConnection);
}

int CPreviewProcessWnd::OnPreviewProgress(void* user, int percent, int) {
    auto* window = static_cast<CPreviewProcessWnd*>(user);
    std::lock_guard lock(window->gate_.Lock());
    if (window->gate_.CancelRequested()) return kCancelled;
    const QString text = FormatMessage(QStringLiteral("%s %d%%"),
                                       {MessageText("MSG0901"), QString::number(percent)});
    QMetaObject::invokeMethod(
        window,
        [window, percent, text] {
            window->findChild<QLabel*>("percent")->setText(text);
            window->findChild<QProgressBar*>("progress")->setValue(percent);
        },
        Qt::QueuedConnection);
    return 0;
}

void CPreviewProcessWnd::reject() {
    // The worker closes the window itself once it has stopped.
    gate_.AskCancel(this, MessageText("MSG0903"));
}

int ExtractPreview(QWidget* owner, const FoundRecord& record, IFileRecoveryParse* engine,
                   PreviewExtraction& out, CPlayerLauncher* players) {
    CPreviewProcessWnd window(owner, record, engine, out, players);
    return window.exec();
}

}  // namespace keltra
