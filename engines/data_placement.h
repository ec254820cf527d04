// What a file system search knows of where a found file's data lies: the deep scan tells a
// carved copy of a listed file, and a deep find the quick scan lists too, by its first sector.
#pragma once

#include <cstdint>
#include <optional>

#include "engines/found_record.h"

namespace keltra {

class DataPlacement {
  public:
    virtual ~DataPlacement() = default;
    // The absolute sector where the record's data starts, for the records of the file system
    // this search knows (quick finds as well as its own); nothing for any other record, and
    // when it cannot be told.
    virtual std::optional<uint64_t> FirstDataSector(const FoundRecord& record) const = 0;
};

}  // namespace keltra
