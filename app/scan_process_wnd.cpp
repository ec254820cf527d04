#include "app/scan_process_wnd.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <chrono>

#include "app/message_box.h"
#include "app/message_format.h"
#include "platform/duration_text.h"
#include "scanlog/scan_history.h"
#include "ui_ScanProcessWnd.h"

namespace keltra {

namespace {

int ScanProgress(void* user, int percent, int weight, int secondsLeft, uint64_t currentSector,
                 uint64_t totalSectors, uint64_t filesFound, int /*reserved*/) {
    return static_cast<CScanProcessWnd*>(user)->OnProgress(percent, weight, secondsLeft,
                                                           currentSector, totalSectors, filesFound);
}

}  // namespace

CScanProcessWnd::CScanProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, bool deep,
                                 EngineMaker makeEngine)
    : CProcessWnd(owner, "MSG0709"),
      sources_(std::move(sources)),
      deep_(deep),
      makeEngine_(std::move(makeEngine)) {
    Ui::ScanProcessWnd skin;
    skin.setupUi(this);
    setFixedSize(450, 250);
    for (const SourceItem* source : sources_) names_.push_back(SourceName(*source));
    InitialiseWindow("ScanWnd");
    setWindowTitle(findChild<QLabel*>("title")->text());
}

CScanProcessWnd::~CScanProcessWnd() {
    StopWorker();
}

void CScanProcessWnd::RunWorker() {
    const auto started = std::chrono::steady_clock::now();
    bool anyEngine = false;
    for (SourceItem* source : sources_) {
        if (CancelRequested()) {
            stopped_ = true;
            break;
        }
        {
            std::lock_guard guard(Lock());
            if (source->IsPartition()) {
                const uint16_t letter = source->partition->letter;
                view_.stage = IsDriveLetter(letter)
                                  ? FormatMessage(Text("MSG0701"), {QString(QChar(letter))})
                                  : FormatMessage(Text("MSG0702"), {QString::number(letter)});
            } else {
                view_.stage =
                    QStringLiteral("%1 %2").arg(Text("MSG0703"), ImageSourceText(*source));
            }
            view_.changed = true;
        }
        QueueRefresh();
        source->engine.reset();
        if (deep_ && !AskToResume(*source)) {
            stopped_ = true;
            break;
        }
        source->engine = makeEngine_(*source, deep_);
        if (!source->engine) {
            std::lock_guard guard(Lock());
            passedOver_.push_back(PassedOverLine(*source));
            continue;
        }
        anyEngine = true;
        source->engine->SetCallbacks(&ScanProgress, nullptr, this, 100);
        if (source->engine->Scan(std::nullopt) == kCancelled) {
            stopped_ = true;
            break;
        }
    }
    seconds_ = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count());
    if (!anyEngine && !stopped_) {
        CloseLater(kProcessNoEngine);
        return;
    }
    FinishAndNotify(kScanFinishedEvent);
}

// Why a source got no engine, as the results and the warning name it.
QString CScanProcessWnd::PassedOverLine(const SourceItem& source) const {
    const QString name = names_[static_cast<size_t>(
        std::find(sources_.begin(), sources_.end(), &source) - sources_.begin())];
    if (deep_) return FormatMessage(Text("MSG0509"), {name});
    const std::string fileSystem =
        source.partition ? source.partition->fileSystemName : std::string();
    if (fileSystem.empty()) return FormatMessage(Text("MSG0507"), {name});
    return FormatMessage(Text("MSG0508"), {name, QString::fromStdString(fileSystem)});
}

// A deep scan continues an earlier deep scan of the same source (for a volume inside an image:
// of that volume alone), which the engine finds in the scan history when it opens, only when the
// user says so; otherwise that scan is forgotten (with its folder) before the engine is made, so
// that it starts afresh. A scan that was stopped is offered to be continued; one that went to
// the end, to be shown as it was. The window stays up under the question box (hiding a modal
// window would end it).
bool CScanProcessWnd::AskToResume(const SourceItem& source) {
    ScanHistory& history = ScanHistory::Instance();
    ScanHistoryRecord earlier{};
    if (!history.FindScan(source.Ref(), earlier)) return true;
    const bool finished = earlier.state.runLength == 0 && earlier.state.sectorsDone > 0;
    const std::optional<int> answer = AskFromWorker(Text(finished ? "MSG1210" : "MSG1206"));
    if (!answer) return false;
    if (*answer == kAnswerOk) return true;
    history.ForgetScan(earlier.ScanFolder());
    history.Save();
    return true;
}

int CScanProcessWnd::OnProgress(int percent, int weight, int secondsLeft, uint64_t currentSector,
                                uint64_t totalSectors, uint64_t filesFound) {
    const int overall = percent * weight / 100;
    std::lock_guard guard(Lock());
    if (CancelRequested()) return kCancelled;
    // "MSG0708" is followed directly by the duration; a language file cannot keep the blank at
    // the end of its text, so a text that does not end in one gets it here.
    QString timeText = Text(secondsLeft < 0 || weight < 90 ? "MSG0705" : "MSG0708");
    if (secondsLeft >= 0 && weight >= 90) {
        if (!timeText.isEmpty() && !timeText.back().isSpace()) timeText += ' ';
        timeText += QString::fromStdString(DurationText(static_cast<uint64_t>(secondsLeft)));
    }
    view_.progress = overall;
    view_.time = secondsLeft < 0 && weight == 100 ? QString() : timeText;
    view_.percent = QStringLiteral("%1 %2%").arg(Text("MSG0704")).arg(overall);
    view_.countsShown = totalSectors != 0;
    if (view_.countsShown) {
        view_.sectors = QStringLiteral("%1 %2 / %3")
                            .arg(Text("MSG0706"))
                            .arg(static_cast<qulonglong>(currentSector))
                            .arg(static_cast<qulonglong>(totalSectors));
        view_.files =
            QStringLiteral("%1 %2").arg(Text("MSG0707")).arg(static_cast<qulonglong>(filesFound));
    }
    view_.changed = true;
    QueueRefresh();
    return 0;
}

void CScanProcessWnd::RefreshControls() {
    if (!view_.changed) return;
    view_.changed = false;
    findChild<QLabel*>("stage")->setText(view_.stage);
    if (view_.percent.isEmpty()) return;  // no progress reported yet
    findChild<QLabel*>("percent")->setText(view_.percent);
    findChild<QLabel*>("time")->setText(view_.time);
    findChild<QProgressBar*>("progress")->setValue(view_.progress);
    auto* sectors = findChild<QLabel*>("sectors");
    auto* files = findChild<QLabel*>("totalfile");
    sectors->setVisible(view_.countsShown);
    files->setVisible(view_.countsShown);
    if (view_.countsShown) {
        sectors->setText(view_.sectors);
        files->setText(view_.files);
    }
}

}  // namespace keltra
