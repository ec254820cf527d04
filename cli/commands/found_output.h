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

// name, path, size, is_folder, origin, intact, created, modified, accessed, category,
// location and the source it came from.
nlohmann::ordered_json ItemJson(const FoundItem& item, const ScanSession& session);

// One JSON object as one line; text that is not valid UTF-8 is replaced, never refused.
std::string JsonLine(const nlohmann::ordered_json& j);

// A found name or path made harmless for a terminal: control characters (a corrupt disk may
// hold escape sequences) become "?".
std::string Printable(std::string_view text);

// The items as a tree of folders, indented two blanks a level, then a count line. Folders
// that hold chosen files but were not chosen themselves are drawn from the items' paths.
void PrintTree(std::ostream& out, const std::vector<FoundItem>& items, const ScanSession& session);

}  // namespace keltra::cli
