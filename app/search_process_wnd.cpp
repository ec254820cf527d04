#include "app/search_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "ui_SearchProcessWnd.h"

namespace keltra {

namespace {

int SearchProgress(void* user, int percent, int /*zero*/) {
    return static_cast<CSearchProcessWnd*>(user)->OnProgress(percent);
}

}  // namespace

std::string SearchPatternFromWildcards(std::string_view wildcards) {
    std::string pattern;
    for (size_t i = 0; i < wildcards.size(); ++i) {
        const char c = wildcards[i];
        if (c == '*') {
            if (i == 0 || wildcards[i - 1] != '\\') pattern += '.';
        } else if (std::string_view(".^$+?{}[]").find(c) != std::string_view::npos) {
            pattern += '\\';
            pattern += c;
        } else {
            pattern += c;
        }
    }
    return pattern;
}

CSearchProcessWnd::CSearchProcessWnd(QWidget* owner, std::vector<SourceItem*> sources,
                                     SearchRequest* request, std::string_view wildcards)
    : CProcessWnd(owner, "MSG1205"),
      sources_(std::move(sources)),
      request_(request),
      pattern_(SearchPatternFromWildcards(wildcards)) {
    Ui::SearchProcessWnd skin;
    skin.setupUi(this);
    setFixedSize(450, 220);
    InitialiseWindow("SearchProcessWnd");
    setWindowTitle(findChild<QLabel*>("title")->text());
}

CSearchProcessWnd::~CSearchProcessWnd() {
    StopWorker();
}

void CSearchProcessWnd::RunWorker() {
    if (request_ == nullptr) return;
    if (sources_.empty()) {
        CloseLater(kProcessDone);
        return;
    }
    for (SourceItem* source : sources_) {
        if (!source->engine) {
            CloseLater(kProcessDone);
            return;
        }
        {
            std::lock_guard guard(Lock());
            if (source->IsPartition()) {
                const uint16_t letter = source->partition->letter;
                stage_ = IsDriveLetter(letter)
                             ? FormatMessage(Text("MSG1201"), {QString(QChar(letter))})
                             : FormatMessage(Text("MSG1202"), {QString::number(letter)});
            } else {
                stage_ = FormatMessage(Text("MSG1203"), {ImageSourceText(*source)});
            }
        }
        QueueRefresh();
        source->engine->SetSearchCallback(&SearchProgress, this);
        // An engine stopped by its callback still answers 1, so a cancelled search goes on to
        // the next source, which stops at its own first report.
        if (source->engine->FindByExtensions(pattern_, request_->found) == kCancelled) break;
    }
    FinishAndNotify(kSearchFinishedEvent);
}

int CSearchProcessWnd::OnProgress(int percent) {
    std::lock_guard guard(Lock());
    if (CancelRequested()) return kCancelled;
    percent_ = QStringLiteral("%1 %2%").arg(Text("MSG1204")).arg(percent);
    progress_ = percent;
    QueueRefresh();
    return 0;
}

void CSearchProcessWnd::RefreshControls() {
    if (!stage_.isEmpty()) findChild<QLabel*>("stage")->setText(stage_);
    if (!percent_.isEmpty()) findChild<QLabel*>("percent")->setText(percent_);
    findChild<QProgressBar*>("progress")->setValue(progress_);
}

}  // namespace keltra
