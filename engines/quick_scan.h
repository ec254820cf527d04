// A quick scan reads a volume's own metadata; besides what it finds it tells the volume's free
// runs, which a deep scan then reads alone.
#pragma once

#include <cstdint>

#include "engines/scan_engine.h"

namespace keltra {

class QuickScan : public ScanEngine {
  public:
    // Loads the allocation bitmap used by NextFreeRange.
    virtual Status LoadVolumeBitmap() = 0;
    // The next unallocated run at or after `position` (sectors from the partition start);
    // `length` 0 when there is none. An engine without a bitmap leaves both as they were.
    virtual int NextFreeRange(uint64_t& position, uint64_t& length) = 0;
};

}  // namespace keltra
