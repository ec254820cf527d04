#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/message_format.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "storage/disk_image_writer.h"
#include "storage/sector_source.h"
#include "ui_CreateImageProcessWnd.h"

namespace keltra {

CCreateImageProcessWnd::CCreateImageProcessWnd(QWidget* owner, std::string imagePath,
                                               ImageSourceChoice source)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      imagePath_(std::move(imagePath)),
      source_(std::move(source)) {
    Ui::CreateImageProcessWnd skin;
    skin.setupUi(this);
    setModal(true);
    resize(kWidth, kHeight);
    gate_.Reset();
    connect(findChild<QPushButton*>("cancelbtn"), &QPushButton::clicked, this,
            &CCreateImageProcessWnd::reject);
    connect(findChild<QPushButton*>("closebtn"), &QPushButton::clicked, this,
            &CCreateImageProcessWnd::reject);
}

CCreateImageProcessWnd::~CCreateImageProcessWnd() {
    if (worker_.joinable()) worker_.join();
}

void CCreateImageProcessWnd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ApplySection(this, "CreateImageWnd");
    findChild<QLabel*>("stage")->setText(FormatMessage(
        QStringLiteral("%s %s"), {MessageText("MSG0302"), QString::fromStdString(imagePath_)}));
    startMs_ = TickCountMs();
    worker_ = std::thread([this] { CreateImageThread(); });
}

void CCreateImageProcessWnd::CreateImageThread() {
    {
        SectorSource disk;
        uint32_t sectorSize = kImageSectorSize;
        if (OpenDiskSource(disk, source_.diskNumber) == kOk &&
            disk.handle.LogicalSectorSize(sectorSize) == kOk) {
            bytesPerSector_ = sectorSize;
        }
    }
    DiskImageWriter writer(&OnImageProgress, this);
    Status result = kErrInvalidParameter;
    if (source_.volume) {
        result = writer.Copy(source_.volume->diskNumber, source_.volume->start,
                             source_.volume->length, imagePath_);
    } else if (source_.diskNumber >= 0) {
        result = writer.Copy(source_.diskNumber, 0, 0, imagePath_);
    }
    copyResult_ = result;
    const int code = result == kCancelled ? kResultCancelled
                     : result == kOk      ? kResultComplete
                                          : kResultFailed;
    gate_.SetWorkerDone();
    QMetaObject::invokeMethod(
        this, [this, code] { done(code); }, Qt::QueuedConnection);
}

int CCreateImageProcessWnd::OnImageProgress(void* user, int percent, uint64_t sectorsDone,
                                            uint64_t totalSectors, int secondsLeft) {
    auto* window = static_cast<CCreateImageProcessWnd*>(user);
    std::lock_guard lock(window->gate_.Lock());
    if (window->gate_.CancelRequested()) return kCancelled;
    const QString percentText = FormatMessage(QStringLiteral("%s %d%%"),
                                              {MessageText("MSG0301"), QString::number(percent)});
    const QString time =
        secondsLeft == -1 ? MessageText("MSG0304")
                          : MessageText("MSG0305") + QLatin1Char(' ') +
                                QString::fromStdString(
                                    DurationText(static_cast<uint64_t>(std::max(secondsLeft, 0))));
    QString sectors = FormatMessage(
        QStringLiteral("%s %I64u / %I64u"),
        {MessageText("MSG0303"), QString::number(sectorsDone), QString::number(totalSectors)});
    // The speed so far, from the bytes copied (the image's own sector size).
    const uint64_t elapsedMs = TickCountMs() - window->startMs_;
    const uint64_t bytesPerSector = window->bytesPerSector_;
    if (elapsedMs >= 1000) {
        sectors += QStringLiteral("  (%1/s)")
                       .arg(SizeText(sectorsDone * bytesPerSector * 1000 / elapsedMs));
    }
    QMetaObject::invokeMethod(
        window,
        [window, percent, percentText, time, sectors] {
            window->findChild<QLabel*>("percent")->setText(percentText);
            window->findChild<QProgressBar*>("progress")->setValue(percent);
            window->findChild<QLabel*>("time")->setText(time);
            window->findChild<QLabel*>("sectors")->setText(sectors);
        },
        Qt::QueuedConnection);
    return 0;
}

void CCreateImageProcessWnd::reject() {
    gate_.AskCancel(this, MessageText("MSG0306"));
}

}  // namespace keltra
