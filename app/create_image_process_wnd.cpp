#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "app/rescue_map_view.h"
#include "app/size_text.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "storage/disk_rescue.h"
#include "ui_CreateImageProcessWnd.h"

namespace keltra {

namespace {

// The map's picture is worked out again at most this often; the counts follow every read.
constexpr uint64_t kCellsEveryMs = 250;

}  // namespace

CCreateImageProcessWnd::CCreateImageProcessWnd(QWidget* owner, std::string imagePath,
                                               ImageSourceChoice source, RescueOptions options)
    : CProcessWnd(owner, "MSG0306"),
      imagePath_(std::move(imagePath)),
      source_(std::move(source)),
      options_(options) {
    Ui::CreateImageProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    InitialiseWindow("CreateImageWnd");
    findChild<QLabel*>("stage")->setText(FormatMessage(
        QStringLiteral("%s %s"), {Text("MSG0302"), QString::fromStdString(imagePath_)}));
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

CCreateImageProcessWnd::~CCreateImageProcessWnd() {
    StopWorker();
}

void CCreateImageProcessWnd::RunWorker() {
    RescueCopier copier(&OnRescueProgress, this, options_);
    Status result = kErrInvalidParameter;
    if (source_.volume) {
        result = RescueDiskRange(copier, source_.volume->diskNumber, source_.volume->start,
                                 source_.volume->length, imagePath_);
    } else if (source_.diskNumber >= 0) {
        result = RescueDiskRange(copier, source_.diskNumber, 0, 0, imagePath_);
    }
    outcome_.progress = copier.Progress();
    outcome_.problem = copier.Problem();
    {
        // The final state, with the map's picture as the copy left it.
        std::lock_guard lock(Lock());
        if (copier.Progress().totalBytes != 0) {
            progress_ = copier.Progress();
            cells_ = copier.Map().Cells(RescueMapView::kCells);
        }
    }
    QueueRefresh();
    copyResult_ = result;
    CloseLater(result == kCancelled ? kResultCancelled
               : result == kOk      ? kResultComplete
                                    : kResultFailed);
}

int CCreateImageProcessWnd::OnRescueProgress(void* user, const RescueProgress& progress,
                                             const RescueMap& map) {
    auto* window = static_cast<CCreateImageProcessWnd*>(user);
    std::lock_guard lock(window->Lock());
    if (window->CancelRequested()) return kCancelled;
    const bool phaseChanged =
        progress.phase != window->progress_.phase || progress.pass != window->progress_.pass;
    window->progress_ = progress;
    const uint64_t now = TickCountMs();
    if (window->cells_.empty() || phaseChanged || now - window->cellsAtMs_ >= kCellsEveryMs) {
        window->cells_ = map.Cells(RescueMapView::kCells);
        window->cellsAtMs_ = now;
    }
    window->QueueRefresh();
    return 0;
}

QString CCreateImageProcessWnd::PhaseText() const {
    const QString pass = QString::number(progress_.pass);
    switch (progress_.phase) {
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

void CCreateImageProcessWnd::RefreshControls() {
    const RescueProgress& p = progress_;
    if (p.continued) {
        findChild<QLabel*>("stage")->setText(FormatMessage(
            QStringLiteral("%s %s"), {Text("MSG0312"), QString::fromStdString(imagePath_)}));
    }
    const uint64_t settled = p.finishedBytes + p.badBytes;
    const int percent = p.totalBytes == 0 ? 0 : static_cast<int>(settled * 100 / p.totalBytes);
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%  %s"),
                      {Text("MSG0301"), QString::number(percent), PhaseText()}));
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
    if (!cells_.empty()) findChild<RescueMapView*>("sectormap")->SetCells(cells_);
}

}  // namespace keltra
