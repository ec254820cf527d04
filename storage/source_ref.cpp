#include "storage/source_ref.h"

#include <utility>

namespace keltra {

SourceRef SourceRef::Partition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                               uint16_t driveLetter) {
    SourceRef ref;
    ref.kind = Kind::DiskPartition;
    ref.diskNumber = diskNumber;
    ref.startSector = startSector;
    ref.sectorCount = sectorCount;
    ref.tag = driveLetter;
    return ref;
}

SourceRef SourceRef::Image(std::string imagePath, uint16_t tag) {
    SourceRef ref;
    ref.kind = Kind::Image;
    ref.imagePath = std::move(imagePath);
    ref.tag = tag;
    return ref;
}

SourceRef SourceRef::ImageVolume(std::string imagePath, uint64_t startSector, uint64_t sectorCount,
                                 uint16_t tag) {
    SourceRef ref = Image(std::move(imagePath), tag);
    ref.kind = Kind::ImageVolume;
    ref.startSector = startSector;
    ref.sectorCount = sectorCount;
    return ref;
}

Status OpenReferencedSource(const SourceRef& ref, SectorSource& source, uint32_t& sectorSize) {
    if (ref.IsImage()) {
        sectorSize = kImageSectorSize;
        return OpenImageSource(source, ref.imagePath);
    }
    const Status status = OpenDiskSource(source, ref.diskNumber);
    sectorSize = status == kOk ? ReportedSectorSize(source) : kImageSectorSize;
    return status;
}

}  // namespace keltra
