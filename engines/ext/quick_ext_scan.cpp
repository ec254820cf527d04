#include "engines/ext/quick_ext_scan.h"

namespace keltra {

Status QuickExtScan::OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                                    uint64_t sectorCount, uint16_t /*sourceTag*/) {
    source_ = std::move(source);
    sectorSize_ = sectorSize;
    startSector_ = startSector;
    sectorCount_ = sectorCount != 0 || startSector >= source_.totalSectors
                       ? sectorCount
                       : source_.totalSectors - startSector;
    return kOk;
}

Status QuickExtScan::Scan(const std::optional<std::string>& /*logName*/) {
    return kOk;
}

Status QuickExtScan::ReadFileData(const FoundRecord& /*record*/, uint64_t /*maxBytes*/,
                                      const DataSink& /*sink*/) {
    return kErrInvalidParameter;
}

Status QuickExtScan::LoadVolumeBitmap() {
    return bitmap_.Load(source_, sectorSize_, startSector_, sectorCount_);
}

int QuickExtScan::NextFreeRange(uint64_t& position, uint64_t& length) {
    bitmap_.NextFreeRange(position, length, sectorCount_);
    return 1;
}

}  // namespace keltra
