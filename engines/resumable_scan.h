// What an engine that can continue an earlier, unfinished scan offers beside the engine
// interface: the scan worker asks it, after opening, whether there is a scan to continue and,
// when the user declines, makes it start afresh.
#pragma once

#include <string>

namespace keltra {

class IResumableScan {
  public:
    // Opening the source found an unfinished scan of it in the scan history.
    virtual bool ResumePending() const = 0;
    // The scan folder of that unfinished scan (with its trailing "/").
    virtual std::string ResumeScanFolder() const = 0;
    // The next Scan starts afresh instead of continuing.
    virtual void DropResume() = 0;

  protected:
    ~IResumableScan() = default;
};

}  // namespace keltra
