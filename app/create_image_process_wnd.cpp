#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "app/rescue_map_view.h"
#include "app/size_text.h"
#include "platform/duration_text.h"
#include "ui_CreateImageProcessWnd.h"

namespace keltra {

CCreateImageProcessWnd::CCreateImageProcessWnd(QWidget* owner, std::string imagePath,
                                               ImageSourceChoice source, RescueOptions options)
    : CProcessWnd(owner, "MSG0306") {
    auto job = std::make_unique<CImageCopyJob>(imagePath, std::move(source), options,
                                               RescueMapView::kCells);
    copy_ = job.get();
    connect(copy_, &CImageCopyJob::Progress, this, &CCreateImageProcessWnd::ShowProgress);
    Present(std::move(job));
    Ui::CreateImageProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    InitialiseWindow("CreateImageWnd");
    findChild<QLabel*>("stage")->setText(FormatMessage(
        QStringLiteral("%s %s"), {Text("MSG0302"), QString::fromStdString(imagePath)}));
    // The legend under the map: its texts from the language section, each after a square of
    // its status's colour.
    for (const auto& [name, status] :
         {std::pair{"legendgood", AreaStatus::kFinished}, {"legendbad", AreaStatus::kBad},
          {"legenduntried", AreaStatus::kNonTried}, {"legendtrimmed", AreaStatus::kNonTrimmed},
          {"legendscraped", AreaStatus::kNonScraped}}) {
        auto* label = findChild<QLabel*>(name);
        label->setTextFormat(Qt::RichText);
        label->setText(QStringLiteral("<span style=\"color:%1; font-size:14px\">&#9632;</span> %2")
                           .arg(RescueMapView::ColourOf(status).name(), label->text().toHtmlEscaped()));
    }
}

void CCreateImageProcessWnd::OnFinished() {
    const Status result = copy_->Result();
    done(result == kCancelled ? kResultCancelled : result == kOk ? kResultComplete : kResultFailed);
}

QString CCreateImageProcessWnd::PhaseText(const RescueProgress& progress) const {
    const QString pass = QString::number(progress.pass);
    switch (progress.phase) {
        case RescuePhase::kCopying:
            return FormatMessage(Text("MSG0307"), {pass});
        case RescuePhase::kTrimming:
            return Text("MSG0308");
        case RescuePhase::kScraping:
            return Text("MSG0309");
        case RescuePhase::kRetrying:
            return FormatMessage(Text("MSG0310"), {pass});
        default:
            return Text("MSG0311");
    }
}

void CCreateImageProcessWnd::ShowProgress(const ImageCopyReport& report) {
    const RescueProgress& p = report.progress;
    if (p.continued) {
        findChild<QLabel*>("stage")->setText(FormatMessage(
            QStringLiteral("%s %s"), {Text("MSG0312"), QString::fromStdString(copy_->ImagePath())}));
    }
    const uint64_t settled = p.finishedBytes + p.badBytes;
    const int percent = p.totalBytes == 0 ? 0 : static_cast<int>(settled * 100 / p.totalBytes);
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%  %s"),
                      {Text("MSG0301"), QString::number(percent), PhaseText(p)}));
    findChild<QProgressBar*>("progress")->setValue(percent);
    findChild<QLabel*>("time")->setText(
        p.secondsLeft < 0
            ? Text("MSG0304")
            : Text("MSG0305") + QLatin1Char(' ') +
                  QString::fromStdString(DurationText(static_cast<uint64_t>(p.secondsLeft))));
    const uint64_t sector = p.sectorSize == 0 ? 512 : p.sectorSize;
    QString sectors = FormatMessage(QStringLiteral("%s %I64u / %I64u"),
                                    {Text("MSG0303"), QString::number(p.finishedBytes / sector),
                                     QString::number(p.totalBytes / sector)});
    if (p.bytesPerSecond != 0) sectors += QStringLiteral("  (%1/s)").arg(SizeText(p.bytesPerSecond));
    findChild<QLabel*>("sectors")->setText(sectors);
    findChild<QLabel*>("counts")->setText(FormatMessage(
        Text("MSG0313"), {SizeText(p.finishedBytes), SizeText(p.badBytes),
                          QString::number(p.badAreas), SizeText(p.untriedBytes)}));
    if (!report.cells.empty()) findChild<RescueMapView*>("sectormap")->SetCells(report.cells);
}

}  // namespace keltra
