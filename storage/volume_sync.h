// Before a disk is copied, what the file systems mounted from it still hold in memory is
// written out, so that the copy holds it too.
#pragma once

#include <cstdint>

namespace keltra {

// Syncs the file system of disk N itself and of each of its partitions that overlaps the
// sectors [firstSector, firstSector + sectorCount) (and only those, not every file system of
// the machine).
void SyncMountedVolumes(int diskNumber, uint64_t firstSector, uint64_t sectorCount);

}  // namespace keltra
