#include "cli/commands/found_items.h"

#include <algorithm>
#include <iostream>

#include "engines/extension_categories.h"
#include "engines/found_tree_walk.h"
#include "engines/recovery_target.h"
#include "platform/text.h"

namespace keltra::cli {

namespace {

void WalkSource(ScannedSource& source, size_t sourceIndex,
                const std::function<void(const FoundItem&)>& visit) {
    // The volumes of one image keep their files apart under the volume's name.
    const std::string rootPath =
        source.sourceArg.inWholeImage ? source.sourceArg.volumeName + "/" : "";
    WalkFoundTree(
        *source.engine, rootPath,
        [&](const WalkedItem& walked) {
            visit(FoundItem{walked.record, walked.folderPath, sourceIndex, walked.depth});
            return true;
        },
        [&source](const std::string& path, Status status) {
            std::cerr << "keltra: cannot list '" << path << "' of '" << source.sourceArg.text
                      << "': " << StatusMessage(status) << "\n";
        });
}

bool UnderPrefix(const std::string& path, const std::string& prefix) {
    if (prefix.empty()) return true;
    return path == prefix ||
           (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path[prefix.size()] == '/');
}

}  // namespace

std::string NormalizeFoundPath(std::string_view path) {
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return std::string(path);
}

void WalkFound(ScanSession& session, const std::function<void(const FoundItem&)>& visit) {
    for (size_t i = 0; i < session.sources.size(); ++i) WalkSource(session.sources[i], i, visit);
}

std::vector<FoundItem> CollectFound(ScanSession& session) {
    std::vector<FoundItem> items;
    WalkFound(session, [&items](const FoundItem& item) { items.push_back(item); });
    return items;
}

const std::vector<std::string> kFileTypeNames = {"photo",    "audio",   "video",
                                                 "document", "archive", "others"};

void AddScanOptions(CLI::App& sub, ScanRequest& request, Selection& selection) {
    sub.add_option("SOURCE", request.sources, kSourceForms)->required();
    CLI::Option* deep = sub.add_flag("--deep", request.deep,
                                     "deep scan: search every sector, not only the file system");
    sub.add_flag("--restart", request.restart,
                 "with --deep: forget an earlier unfinished deep scan and start afresh")
        ->needs(deep);
    sub.add_flag("--carve-only", request.carveOnly,
                 "find files by their signatures in every sector, ignoring the file system "
                 "(for a card whose file system is gone)")
        ->excludes(deep);
    sub.add_option("--types", selection.types, "only these kinds of file, comma-separated")
        ->delimiter(',')
        ->check(CLI::IsMember(kFileTypeNames));
    sub.add_option("--ext", selection.extensions,
                   "only files with these extensions, comma-separated (jpg,png,...)")
        ->delimiter(',');
}

SelectionFilter::SelectionFilter(const Selection& selection)
    : filtersFiles_(selection.FiltersFiles()),
      types_(selection.types),
      prefix_(NormalizeFoundPath(selection.pathPrefix)) {
    for (std::string_view e : selection.extensions) {
        if (!e.empty() && e.front() == '.') e.remove_prefix(1);
        if (!e.empty()) extensions_.push_back(AsciiLower(e));
    }
}

bool SelectionFilter::Matches(const FoundItem& item) const {
    if (!UnderPrefix(item.FullPath(), prefix_)) return false;
    if (!filtersFiles_) return true;
    if (item.record.isFolder != 0) return false;
    const std::string_view name = item.record.Name();
    const bool typeMatch =
        std::find(types_.begin(), types_.end(), GetFileCategory(name)) != types_.end();
    const bool extensionMatch = std::find(extensions_.begin(), extensions_.end(),
                                          AsciiLower(ExtensionOf(name))) != extensions_.end();
    return typeMatch || extensionMatch;
}

std::vector<FoundItem> Select(const std::vector<FoundItem>& items, const Selection& selection) {
    const SelectionFilter filter(selection);
    std::vector<FoundItem> chosen;
    for (const FoundItem& item : items) {
        if (filter.Matches(item)) chosen.push_back(item);
    }
    return chosen;
}

}  // namespace keltra::cli
