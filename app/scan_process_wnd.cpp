#include "app/scan_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_box.h"
#include "app/message_format.h"
#include "platform/duration_text.h"
#include "scanlog/scan_history.h"
#include "ui_ScanProcessWnd.h"

namespace keltra {

CScanProcessWnd::CScanProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, bool deep,
                                 EngineMaker makeEngine)
    : CProcessWnd(owner, "MSG0709") {
    Ui::ScanProcessWnd skin;
    skin.setupUi(this);
    setFixedSize(450, 250);
    for (const SourceItem* source : sources) names_.push_back(SourceName(*source));
    auto job = std::make_unique<CScanJob>(std::move(sources), deep, std::move(makeEngine));
    scan_ = job.get();
    connect(scan_, &CScanJob::SourceStarted, this, &CScanProcessWnd::ShowSource);
    connect(scan_, &CScanJob::Progress, this, &CScanProcessWnd::ShowProgress);
    Present(std::move(job));
    InitialiseWindow("ScanWnd");
    setWindowTitle(findChild<QLabel*>("title")->text());
}

void CScanProcessWnd::BeginWork() {
    if (scan_->Deep()) {
        for (const SourceItem* source : scan_->Sources()) AskToResume(*source);
    }
    CProcessWnd::BeginWork();
}

void CScanProcessWnd::OnFinished() {
    for (const size_t source : scan_->PassedOver()) passedOver_.push_back(PassedOverLine(source));
    done(!scan_->AnyEngine() && !scan_->Stopped() ? kProcessNoEngine : kProcessDone);
}

// Why a source got no engine, as the results and the warning name it.
QString CScanProcessWnd::PassedOverLine(size_t index) const {
    const QString& name = names_[index];
    if (scan_->Deep()) return FormatMessage(Text("MSG0509"), {name});
    const SourceItem& source = *scan_->Sources()[index];
    const std::string fileSystem =
        source.partition ? source.partition->fileSystemName : std::string();
    if (fileSystem.empty()) return FormatMessage(Text("MSG0507"), {name});
    return FormatMessage(Text("MSG0508"), {name, QString::fromStdString(fileSystem)});
}

// A deep scan continues an earlier deep scan of the same source (for a volume inside an image:
// of that volume alone), which the engine finds in the scan history when it opens, only when the
// user says so; otherwise that scan is forgotten (with its folder) before the scan starts, so
// that it starts afresh. A scan that was stopped is offered to be continued; one that went to
// the end, to be shown as it was.
void CScanProcessWnd::AskToResume(const SourceItem& source) {
    ScanHistory& history = ScanHistory::Instance();
    ScanHistoryRecord earlier{};
    if (!history.FindScan(source.Ref(), earlier)) return;
    const bool finished = earlier.state.runLength == 0 && earlier.state.sectorsDone > 0;
    if (ShowMessage(kMessageQuestion, this, Text(finished ? "MSG1210" : "MSG1206")) ==
        kAnswerOk) {
        return;
    }
    // The record goes from the history in memory whatever the disk allows, so the scan starts
    // afresh; a folder left behind is never opened again, and the next save writes the history
    // whole.
    IgnoreStatus(history.ForgetScan(earlier.ScanFolder()), "the record is gone from memory");
    IgnoreStatus(history.Save(), "the next save writes the history whole");
}

void CScanProcessWnd::ShowSource(int index) {
    const SourceItem& source = *scan_->Sources()[static_cast<size_t>(index)];
    QString stage;
    if (source.IsPartition()) {
        const uint16_t letter = source.partition->letter;
        stage = IsDriveLetter(letter) ? FormatMessage(Text("MSG0701"), {QString(QChar(letter))})
                                      : FormatMessage(Text("MSG0702"), {QString::number(letter)});
    } else {
        stage = QStringLiteral("%1 %2").arg(Text("MSG0703"), ImageSourceText(source));
    }
    findChild<QLabel*>("stage")->setText(stage);
}

void CScanProcessWnd::ShowProgress(const ScanReport& report) {
    const int overall = report.percent * report.weight / 100;
    const bool estimated = report.secondsLeft >= 0 && report.weight >= 90;
    // "MSG0708" is followed directly by the duration; a language file cannot keep the blank at
    // the end of its text, so a text that does not end in one gets it here.
    QString timeText = Text(estimated ? "MSG0708" : "MSG0705");
    if (estimated) {
        if (!timeText.isEmpty() && !timeText.back().isSpace()) timeText += ' ';
        timeText += QString::fromStdString(DurationText(static_cast<uint64_t>(report.secondsLeft)));
    }
    findChild<QLabel*>("percent")->setText(QStringLiteral("%1 %2%").arg(Text("MSG0704")).arg(overall));
    findChild<QLabel*>("time")->setText(
        report.secondsLeft < 0 && report.weight == 100 ? QString() : timeText);
    findChild<QProgressBar*>("progress")->setValue(overall);
    auto* sectors = findChild<QLabel*>("sectors");
    auto* files = findChild<QLabel*>("totalfile");
    const bool countsShown = report.totalSectors != 0;
    sectors->setVisible(countsShown);
    files->setVisible(countsShown);
    if (!countsShown) return;
    sectors->setText(QStringLiteral("%1 %2 / %3")
                         .arg(Text("MSG0706"))
                         .arg(static_cast<qulonglong>(report.currentSector))
                         .arg(static_cast<qulonglong>(report.totalSectors)));
    files->setText(QStringLiteral("%1 %2").arg(Text("MSG0707")).arg(
        static_cast<qulonglong>(report.filesFound)));
}

}  // namespace keltra
