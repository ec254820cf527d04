#include "app/search_job.h"

#include <algorithm>

#include "engines/deep/lost_volume_folders.h"
#include "engines/extension_categories.h"
#include "engines/found_tree_walk.h"

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

CSearchJob::CSearchJob(std::vector<ScannedSource> scanned, std::vector<QString> names,
                       std::unique_ptr<FoundFileStore> store, std::string_view wildcards)
    : names_(std::move(names)), pattern_(SearchPatternFromWildcards(wildcards)) {
    results_.scanned = std::move(scanned);
    results_.store = std::move(store);
    names_.resize(results_.scanned.size());
}

CSearchJob::~CSearchJob() {
    StopAndWait();
}

bool CSearchJob::Report(int percent) {
    if (ShouldStop()) return false;
    if (percent != sent_) {
        sent_ = percent;
        emit Progress(percent);
    }
    return true;
}

void CSearchJob::Run() {
    if (!results_.store) return;
    uint64_t total = 0;
    // A source the scan could not open has nothing to search.
    for (const ScannedSource& source : results_.scanned) {
        if (source.engine) total += source.engine->GetRecordCount();
    }
    uint64_t visited = 0;
    bool stopped = false;
    FoundFileStore& store = *results_.store;
    for (size_t i = 0; i < results_.scanned.size() && !stopped; ++i) {
        const ScannedSource& source = results_.scanned[i];
        if (!source.engine) continue;
        emit SourceStarted(static_cast<int>(i));
        const auto sourceIndex = static_cast<uint16_t>(results_.sources.size());
        results_.sources.push_back({names_[i], source.item->SourceTag()});
        WalkFoundTree(
            *source.engine, std::string(),
            [&](const WalkedItem& item) {
                // Every record counts towards the progress, folders too.
                if (++visited % kReportEvery == 0 &&
                    !Report(static_cast<int>(std::min<uint64_t>(
                        100, visited * 100 / std::max<uint64_t>(total, 1))))) {
                    stopped = true;
                    return false;
                }
                if (LostVolumeFolders::IsVolumeFolder(item.record)) {
                    const std::string_view name = item.record.Name();
                    results_.lostVolumes
                        << names_[i] + QStringLiteral(": ") +
                               QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
                }
                if (item.record.isFolder != 0) return true;
                if (!pattern_.empty() && !ExtensionInList(ExtensionOf(item.record.Name()), pattern_)) {
                    return true;
                }
                if (const Status s = store.Add(item.record, item.folderPath, sourceIndex);
                    s != kOk) {
                    results_.error = s;
                    stopped = true;
                    return false;
                }
                return true;
            },
            [](const std::string&, Status) {});
    }
    if (const Status s = store.Finish(); s != kOk && results_.error == kOk) results_.error = s;
    if (!StopRequested()) Report(100);
}

}  // namespace keltra
