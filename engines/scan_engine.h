// A scan of a source: what the windows, the workers and the command line start, and then hold
// for its found files.
#pragma once

#include <optional>
#include <string>

#include "engines/found_files.h"

namespace keltra {

class ScanEngine : public virtual FoundFiles {
  public:
    // No name: a new scan log and a scan; a name: reopen that log without scanning.
    virtual Status Scan(const std::optional<std::string>& logName) = 0;
};

}  // namespace keltra
