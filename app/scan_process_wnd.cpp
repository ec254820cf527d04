#include "app/scan_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

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
    InitialiseWindow("ScanWnd");
    setWindowTitle(findChild<QLabel*>("title")->text());
}

CScanProcessWnd::~CScanProcessWnd() {
    StopWorker();
}

void CScanProcessWnd::RunWorker() {
    for (SourceItem* source : sources_) {
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
        if (deep_) AskToResume(*source);
        source->engine = makeEngine_(*source, deep_);
        if (!source->engine) {
            CloseLater(kProcessNoEngine);
            return;
        }
        source->engine->SetCallbacks(&ScanProgress, nullptr, this, 100);
        if (source->engine->Scan(std::nullopt) == kCancelled) break;
    }
    FinishAndNotify(kScanFinishedEvent);
}

// A deep scan continues an unfinished earlier deep scan of the same source (for a volume inside
// an image: of that volume alone), which the engine finds in the scan history when it opens,
// only when the user says so; otherwise that scan is forgotten (with its folder) before the
// engine is made, so that it starts afresh. The window stays up under the question box (hiding
// a modal window would end it).
void CScanProcessWnd::AskToResume(const SourceItem& source) {
    ScanHistory& history = ScanHistory::Instance();
    ScanHistoryRecord earlier{};
    bool found = false;
    if (source.IsPartition()) {
        found = history.FindPartitionScan(source.partition->diskNumber, source.partition->start,
                                          source.partition->length, earlier);
    } else if (source.IsImageVolume()) {
        found = history.FindImageScan(source.imagePath, earlier, source.partition->start,
                                      source.partition->length);
    } else {
        found = history.FindImageScan(source.imagePath, earlier);
    }
    if (!found) return;
    int answer = 0;
    const QString question = Text("MSG1206");
    QMetaObject::invokeMethod(
        this,
        [this, &answer, &question] { answer = ShowMessage(kMessageQuestion, this, question); },
        Qt::BlockingQueuedConnection);
    if (answer == kAnswerOk) return;
    history.ForgetScan(earlier.ScanFolder());
    history.Save();
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
