// Keeps scanned sources open while their found files are read. A scanned source's engine keeps
// what it found but closes its disk or image once its scan ends, so that a card can be removed
// and a loop device detached while the results are shown; the first lease on a source opens it
// again, and the last lease to go closes it. User-interface thread only: a lease is taken before
// a preview or recovery window starts its worker and ends after that window has closed.
#pragma once

#include <vector>

#include "app/source_item.h"
#include "platform/status.h"

namespace keltra {

class SourceLease {
  public:
    // Sources without an engine are passed over.
    explicit SourceLease(std::vector<SourceItem*> sources);
    ~SourceLease();
    SourceLease(const SourceLease&) = delete;
    SourceLease& operator=(const SourceLease&) = delete;

    // kOk when every source opened again; else the first failure (the medium is gone, or the
    // path holds another one). Reads from a source that did not open fail file by file.
    Status OpenStatus() const { return status_; }

  private:
    std::vector<SourceItem*> held_;
    Status status_ = kOk;
};

// Closes the source of a scanned item unless a lease holds it open.
void CloseUnleasedSource(SourceItem& source);

}  // namespace keltra
