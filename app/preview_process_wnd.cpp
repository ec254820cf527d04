#include "app/preview_process_wnd.h"

#include <QLabel>
#include <QProgressBar>
#include <chrono>
#include <thread>

#include "app/message_format.h"
#include "app/player_launcher.h"
#include "ui_PreviewProcessWnd.h"

namespace keltra {

namespace {

// Time given to an ended player to let go of the temporary file it played.
constexpr auto kMediaSettle = std::chrono::milliseconds(1000);

}  // namespace

CPreviewProcessWnd::CPreviewProcessWnd(QWidget* owner, const FoundRecord& record,
                                       IFileRecoveryParse* engine, PreviewExtraction& out,
                                       CPlayerLauncher* players)
    : CProcessWnd(owner, "MSG0903"), engine_(engine), out_(out) {
    Ui::PreviewProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    InitialiseWindow("PreviewProcessWnd");
    out_.record = record;
    out_.ClassifyMedia();
    const QString name =
        QString::fromUtf8(record.Name().data(), static_cast<qsizetype>(record.Name().size()));
    findChild<QLabel*>("FileName")->setText(name);
    findChild<QLabel*>("stage")->setText(
        FormatMessage(QStringLiteral("%s %s"), {Text("MSG0902"), name}));
    // Players run on this (the window's) thread, so they are ended here, before the worker
    // overwrites the file they may still hold.
    if (players != nullptr) players->EndAll();
}

CPreviewProcessWnd::~CPreviewProcessWnd() {
    StopWorker();
}

void CPreviewProcessWnd::RunWorker() {
    out_.size = static_cast<uint32_t>(out_.buffer.size());
    if (out_.media) std::this_thread::sleep_for(kMediaSettle);
    out_.tempPath.clear();
    Status result = kOk;
    if (engine_ == nullptr) {
        out_.size = 0;
    } else {
        result = engine_->ReadRecordData(out_.record, out_.tempPath, out_.buffer, out_.size,
                                         &OnPreviewProgress, this);
        if (result != kOk) out_.tempPath.clear();
    }
    CloseLater(result == kCancelled ? kResultCancelled : kResultExtracted);
}

int CPreviewProcessWnd::OnPreviewProgress(void* user, int percent, int) {
    auto* window = static_cast<CPreviewProcessWnd*>(user);
    std::lock_guard lock(window->Lock());
    if (window->CancelRequested()) return kCancelled;
    window->percent_ = percent;
    window->QueueRefresh();
    return 0;
}

void CPreviewProcessWnd::RefreshControls() {
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%"), {Text("MSG0901"), QString::number(percent_)}));
    findChild<QProgressBar*>("progress")->setValue(percent_);
}

int ExtractPreview(QWidget* owner, const FoundRecord& record, IFileRecoveryParse* engine,
                   PreviewExtraction& out, CPlayerLauncher* players) {
    CPreviewProcessWnd window(owner, record, engine, out, players);
    return window.exec();
}

}  // namespace keltra
