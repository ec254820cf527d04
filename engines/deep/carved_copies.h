// A carved file that starts where a file found by a file system starts, with its extension (or
// a jpg where the other is a thm: a camera's thumbnail), is a copy of that file: the deep scan
// lists the file system's find alone.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engines/found_record.h"

namespace keltra {

// Where a file found by a file system has its first data, by absolute sector; nothing when it
// cannot be told.
using FirstSectorOf = std::function<std::optional<uint64_t>(const FoundRecord&)>;

class FirstSectorNotes {
  public:
    // Notes where each file (not folder) of `found` starts, with its extension; a later file at
    // the same sector replaces an earlier one.
    FirstSectorNotes(const std::vector<FoundRecord>& found, const FirstSectorOf& firstSector);
    // Whether a file named `name` that starts at `sector` is a noted file again.
    bool Holds(uint64_t sector, std::string_view name) const;

  private:
    std::map<uint64_t, std::string> extensionAt_;
};

// The records of `carved` that are not copies of a file of `found`.
std::vector<FoundRecord> WithoutCarvedCopies(const std::vector<FoundRecord>& found,
                                             std::vector<FoundRecord> carved,
                                             const FirstSectorOf& firstSector);

// The search list ("*.jpg|*.thm|") of the extensions of `carved`, a jpg's thumbnail included.
std::string ExtensionsOf(const std::vector<FoundRecord>& carved);

}  // namespace keltra
