#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "app/size_text.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "storage/disk_image_writer.h"
#include "storage/sector_source.h"
#include "ui_CreateImageProcessWnd.h"

namespace keltra {

CCreateImageProcessWnd::CCreateImageProcessWnd(QWidget* owner, std::string imagePath,
                                               ImageSourceChoice source)
    : CProcessWnd(owner, "MSG0306"), imagePath_(std::move(imagePath)), source_(std::move(source)) {
    Ui::CreateImageProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    InitialiseWindow("CreateImageWnd");
    findChild<QLabel*>("stage")->setText(FormatMessage(
        QStringLiteral("%s %s"), {Text("MSG0302"), QString::fromStdString(imagePath_)}));
}

CCreateImageProcessWnd::~CCreateImageProcessWnd() {
    StopWorker();
}

void CCreateImageProcessWnd::RunWorker() {
    {
        SectorSource disk;
        uint32_t sectorSize = kImageSectorSize;
        if (OpenDiskSource(disk, source_.diskNumber) == kOk &&
            disk.handle.LogicalSectorSize(sectorSize) == kOk) {
            std::lock_guard lock(Lock());
            bytesPerSector_ = sectorSize;
        }
    }
    startMs_ = TickCountMs();
    DiskImageWriter writer(&OnImageProgress, this);
    Status result = kErrInvalidParameter;
    if (source_.volume) {
        result = writer.Copy(source_.volume->diskNumber, source_.volume->start,
                             source_.volume->length, imagePath_);
    } else if (source_.diskNumber >= 0) {
        result = writer.Copy(source_.diskNumber, 0, 0, imagePath_);
    }
    copyResult_ = result;
    CloseLater(result == kCancelled ? kResultCancelled
               : result == kOk      ? kResultComplete
                                    : kResultFailed);
}

int CCreateImageProcessWnd::OnImageProgress(void* user, int percent, uint64_t sectorsDone,
                                            uint64_t totalSectors, int secondsLeft) {
    auto* window = static_cast<CCreateImageProcessWnd*>(user);
    std::lock_guard lock(window->Lock());
    if (window->CancelRequested()) return kCancelled;
    window->percent_ = percent;
    window->sectorsDone_ = sectorsDone;
    window->totalSectors_ = totalSectors;
    window->secondsLeft_ = secondsLeft;
    const uint64_t elapsedMs = TickCountMs() - window->startMs_;
    if (elapsedMs >= 1000) {
        window->bytesPerSecond_ = sectorsDone * window->bytesPerSector_ * 1000 / elapsedMs;
    }
    window->QueueRefresh();
    return 0;
}

void CCreateImageProcessWnd::RefreshControls() {
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%"), {Text("MSG0301"), QString::number(percent_)}));
    findChild<QProgressBar*>("progress")->setValue(percent_);
    findChild<QLabel*>("time")->setText(
        secondsLeft_ < 0
            ? Text("MSG0304")
            : Text("MSG0305") + QLatin1Char(' ') +
                  QString::fromStdString(DurationText(static_cast<uint64_t>(secondsLeft_))));
    QString sectors = FormatMessage(
        QStringLiteral("%s %I64u / %I64u"),
        {Text("MSG0303"), QString::number(sectorsDone_), QString::number(totalSectors_)});
    // The speed so far.
    if (bytesPerSecond_ != 0) sectors += QStringLiteral("  (%1/s)").arg(SizeText(bytesPerSecond_));
    findChild<QLabel*>("sectors")->setText(sectors);
}

}  // namespace keltra
