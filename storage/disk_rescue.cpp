#include "storage/disk_rescue.h"

#include <memory>

#include "platform/disk_names.h"
#include "storage/direct_reader.h"
#include "storage/sector_source.h"
#include "storage/volume_sync.h"

namespace keltra {

Status RescueDiskRange(RescueCopier& copier, int diskNumber, uint64_t firstSector,
                       uint64_t sectorCount, const std::string& imagePath) {
    uint32_t sectorSize = kImageSectorSize;
    {
        SectorSource disk;
        if (Status s = OpenDiskSource(disk, diskNumber); s != kOk) return s;
        if (Status s = disk.handle.LogicalSectorSize(sectorSize); s != kOk) return s;
    }
    const auto device = DiskDevicePath(diskNumber);
    if (!device) return kErrFileNotFound;
    std::unique_ptr<DirectReader> reader;
    uint64_t deviceBytes = 0;
    if (Status s = DirectReader::Open(*device, reader, deviceBytes); s != kOk) return s;
    const uint64_t diskSectors = deviceBytes / sectorSize;
    if (firstSector >= diskSectors) return kErrInvalidParameter;
    if (sectorCount == 0) sectorCount = diskSectors - firstSector;
    if (sectorCount > diskSectors - firstSector) return kErrInvalidParameter;
    SyncMountedVolumes(diskNumber, firstSector, sectorCount);
    return copier.Run(*reader, sectorSize, firstSector * sectorSize, sectorCount * sectorSize,
                      imagePath, *device);
}

}  // namespace keltra
