#include "app/preview_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "app/player_launcher.h"
#include "ui_PreviewProcessWnd.h"

namespace keltra {

CPreviewProcessWnd::CPreviewProcessWnd(QWidget* owner, const FoundRecord& record,
                                       ScanEngine* engine, PreviewExtraction& out,
                                       CPlayerLauncher* players)
    : CProcessWnd(owner, "MSG0903") {
    out.record = record;
    out.ClassifyMedia();
    auto job = std::make_unique<CPreviewJob>(engine, out);
    preview_ = job.get();
    connect(preview_, &CPreviewJob::Progress, this, &CPreviewProcessWnd::ShowProgress);
    Present(std::move(job));
    Ui::PreviewProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    InitialiseWindow("PreviewProcessWnd");
    const QString name =
        QString::fromUtf8(record.Name().data(), static_cast<qsizetype>(record.Name().size()));
    findChild<QLabel*>("FileName")->setText(name);
    findChild<QLabel*>("stage")->setText(
        FormatMessage(QStringLiteral("%s %s"), {Text("MSG0902"), name}));
    // Players run on this (the window's) thread, so they are ended here, before the worker
    // overwrites the file they may still hold.
    if (players != nullptr) players->EndAll();
}

void CPreviewProcessWnd::OnFinished() {
    done(preview_->Result() == kCancelled ? kResultCancelled : kResultExtracted);
}

void CPreviewProcessWnd::ShowProgress(int percent) {
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%"), {Text("MSG0901"), QString::number(percent)}));
    findChild<QProgressBar*>("progress")->setValue(percent);
}

int ExtractPreview(QWidget* owner, const FoundRecord& record, ScanEngine* engine,
                   PreviewExtraction& out, CPlayerLauncher* players) {
    CPreviewProcessWnd window(owner, record, engine, out, players);
    return window.exec();
}

}  // namespace keltra
