#include "engines/ext/fast_ext_recovery.h"

namespace keltra {

Status CFastExtRecovery::OpenPartition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                                       uint16_t driveLetter) {
    startSector_ = startSector;
    sectorCount_ = sectorCount;
    driveLetter_ = driveLetter;
    return OpenDiskSource(source_, diskNumber);
}

}  // namespace keltra
