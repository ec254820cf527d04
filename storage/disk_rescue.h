// The rescue copy of a disk or one of its partitions, as both the desktop program and the
// command line make it: the disk's device opened read-only for direct reads, in the disk's own
// sector size, after what the file systems mounted from those sectors hold in memory has been
// written out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "storage/rescue_copier.h"

namespace keltra {

// Copies sectors [firstSector, firstSector + sectorCount) of disk N (sectorCount 0: to the
// disk's end) into `imagePath` with its map beside it. The result is the copier's; a disk that
// cannot be found or opened gives the system's code.
Status RescueDiskRange(RescueCopier& copier, int diskNumber, uint64_t firstSector,
                       uint64_t sectorCount, const std::string& imagePath);

}  // namespace keltra
