// What the scans found, as one list: every record reachable from each source's root folder
// with its folder path, and the selection that --types, --ext and --path make of it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cli/commands/scan_session.h"
#include "engines/found_record.h"

namespace keltra::cli {

struct FoundItem {
    FoundRecord record;
    std::string folderPath;  // "a/b/", empty at the root, as GetRecordPath gives it
    size_t source = 0;       // index into ScanSession::sources
    int depth = 0;           // folders: the depth their children are listed with

    std::string FullPath() const { return folderPath + std::string(record.Name()); }
};

// Walks each source's folder tree depth-first from its root (each folder's files, then its
// folders, in listing order) and hands every item to `visit` as it is listed, so that only the
// folder being listed and the folders still to enter are held. A folder met a second time on one
// branch (a loop in a corrupt volume) is not entered again. Listing errors are told on stderr
// and end that branch only.
void WalkFound(ScanSession& session, const std::function<void(const FoundItem&)>& visit);
// The same items as one list.
std::vector<FoundItem> CollectFound(ScanSession& session);

// A path as the user writes it, in the form of FoundItem::FullPath: leading and trailing "/"
// removed.
std::string NormalizeFoundPath(std::string_view path);

struct Selection {
    std::vector<std::string> types;       // category names; empty: no filter by type
    std::vector<std::string> extensions;  // without dots; empty: no filter by extension
    std::string pathPrefix;               // "a/b": that file or folder and what lies under it

    bool FiltersFiles() const { return !types.empty() || !extensions.empty(); }
};

// The names --types accepts: the category sub-folders of a recovery.
extern const std::vector<std::string> kFileTypeNames;

// The options that choose sources and files, shared by scan and recover: SOURCE..., --deep,
// --restart, --types, --ext.
void AddScanOptions(CLI::App& sub, ScanRequest& request, Selection& selection);

// Files of a chosen category or extension (an extension matches whole, ignoring case), or of
// either when both are given; folders only when no file filter is given. Everything outside the
// path prefix is left out.
class SelectionFilter {
  public:
    explicit SelectionFilter(const Selection& selection);
    bool Matches(const FoundItem& item) const;

  private:
    bool filtersFiles_;
    std::vector<std::string> types_;
    std::vector<std::string> extensions_;  // lower-case, without dots
    std::string prefix_;
};

// The items the selection keeps, in their order.
std::vector<FoundItem> Select(const std::vector<FoundItem>& items, const Selection& selection);

}  // namespace keltra::cli
