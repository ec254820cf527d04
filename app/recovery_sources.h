// What the preview and recovery windows need of the main window's source list.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engines/scan_engine.h"
#include "storage/volume_entry.h"

namespace keltra {

struct RecoverySources {
    // The engine of the first source whose tag equals `sourceTag`; null when no source has one.
    std::function<ScanEngine*(uint16_t sourceTag)> engineOf;
    // The partitions that have been scanned (have an engine), in source-list order. Images are
    // not listed: they are files, not disk areas.
    std::function<std::vector<VolumeEntry>()> scannedPartitions;
};

}  // namespace keltra
