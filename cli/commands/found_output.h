// Printing what was found: one JSON object per line, or a tree by folder.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands/found_items.h"

namespace keltra::cli {

// "2017-05-01T12:34:56Z" for a FILETIME; nothing for 0 (no time known).
std::optional<std::string> IsoTime(uint64_t fileTime);

// name, path, size, is_folder, origin, intact, compressed and encrypted (as the file system kept
// the data; the engine reads that from the source), created, modified, accessed, category,
// taken and camera (what a carved picture's EXIF says; null otherwise), location and the
// source it came from.
nlohmann::ordered_json ItemJson(const FoundItem& item, const ScanSession& session);

// One JSON object as one line; text that is not valid UTF-8 is replaced, never refused.
std::string JsonLine(const nlohmann::ordered_json& j);

// A found name or path made harmless for a terminal: control characters (a corrupt disk may
// hold escape sequences) become "?".
std::string Printable(std::string_view text);

// The items as a tree of folders, indented two blanks a level, each source under its name,
// then a count line; printed item by item as they come (in the order WalkFound gives them).
// Folders that hold chosen files but were not chosen themselves are drawn from the items' paths.
class TreePrinter {
  public:
    TreePrinter(std::ostream& out, const ScanSession& session) : out_(out), session_(session) {}
    void Add(const FoundItem& item);
    // The names of the sources without items still to come, and the count line.
    void Finish();

  private:
    // Prints the names of the sources up to `source`.
    void ReachSource(size_t source);

    std::ostream& out_;
    const ScanSession& session_;
    size_t nextSource_ = 0;          // sources whose name is printed
    std::vector<std::string> open_;  // folders drawn on the way to the current item
    size_t files_ = 0;
    size_t folders_ = 0;
};

}  // namespace keltra::cli
