#include "app/search_process_wnd.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "app/message_format.h"
#include "engines/deep/lost_volume_folders.h"
#include "engines/extension_categories.h"
#include "engines/found_tree_walk.h"
#include "ui_SearchProcessWnd.h"

namespace keltra {

namespace {

// The walk reports after this many records.
constexpr uint64_t kReportEvery = 200;

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
    for (const SourceItem* source : sources_) names_.push_back(SourceName(*source));
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
    if (request_ == nullptr || !request_->store) return;
    if (sources_.empty()) {
        CloseLater(kProcessDone);
        return;
    }
    uint64_t total = 0;
    // A source the scan could not open has nothing to search.
    for (SourceItem* source : sources_) {
        if (source->engine) total += source->engine->GetRecordCount();
    }
    uint64_t visited = 0;
    bool stopped = false;
    for (size_t i = 0; i < sources_.size() && !stopped; ++i) {
        SourceItem* source = sources_[i];
        if (!source->engine) continue;
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
        const auto sourceIndex = static_cast<uint16_t>(request_->sources.size());
        request_->sources.push_back(
            {names_[i], source->SourceTag()});
        FoundFileStore& store = *request_->store;
        WalkFoundTree(
            *source->engine, std::string(),
            [&](const WalkedItem& item) {
                // Every record counts towards the progress, folders too.
                if (++visited % kReportEvery == 0 &&
                    OnProgress(static_cast<int>(std::min<uint64_t>(
                        100, visited * 100 / std::max<uint64_t>(total, 1)))) != 0) {
                    stopped = true;
                    return false;
                }
                if (LostVolumeFolders::IsVolumeFolder(item.record)) {
                    const std::string_view name = item.record.Name();
                    request_->lostVolumes
                        << names_[i] + QStringLiteral(": ") +
                               QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
                }
                if (item.record.isFolder != 0) return true;
                if (!pattern_.empty()) {
                    const std::string_view extension = ExtensionOf(item.record.Name());
                    if (!ExtensionInList(extension, pattern_)) return true;
                }
                if (const Status s = store.Add(item.record, item.folderPath, sourceIndex);
                    s != kOk) {
                    request_->error = s;
                    stopped = true;
                    return false;
                }
                return true;
            },
            [](const std::string&, Status) {});
    }
    if (const Status s = request_->store->Finish(); s != kOk && request_->error == kOk) {
        request_->error = s;
    }
    OnProgress(100);
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
