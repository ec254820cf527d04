#include "engines/ext/fast_ext_recovery.h"

namespace keltra {

Status CFastExtRecovery::OpenImage(const std::string& imagePath, uint16_t sourceTag) {
    return OpenImageVolume(imagePath, 0, 0, sourceTag);
}

Status CFastExtRecovery::OpenImageVolume(const std::string& imagePath, uint64_t startSector,
                                         uint64_t sectorCount, uint16_t /*sourceTag*/) {
    sectorSize_ = kImageSectorSize;
    startSector_ = startSector;
    const Status status = OpenImageSource(source_, imagePath);
    sectorCount_ = sectorCount != 0 || startSector >= source_.totalSectors
                       ? sectorCount
                       : source_.totalSectors - startSector;
    return status;
}

Status CFastExtRecovery::OpenPartition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                                       uint16_t /*driveLetter*/) {
    startSector_ = startSector;
    sectorCount_ = sectorCount;
    const Status status = OpenDiskSource(source_, diskNumber);
    sectorSize_ = ReportedSectorSize(source_);
    return status;
}

Status CFastExtRecovery::LoadVolumeBitmap() {
    return bitmap_.Load(source_, sectorSize_, startSector_, sectorCount_);
}

int CFastExtRecovery::NextFreeRange(uint64_t& position, uint64_t& length) {
    bitmap_.NextFreeRange(position, length, sectorCount_);
    return 1;
}

}  // namespace keltra
