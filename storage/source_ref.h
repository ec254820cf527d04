// What a scan reads: the partition of a disk, an image file whole, or a volume inside an image
// that holds a partition table. Every engine is opened by one of these; the scan history finds
// the earlier deep scan of one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

struct SourceRef {
    enum class Kind { DiskPartition, Image, ImageVolume };

    Kind kind = Kind::Image;
    // DiskPartition: the disk's number.
    int diskNumber = 0;
    // Image and ImageVolume: the image file.
    std::string imagePath;
    // DiskPartition and ImageVolume: the volume's first sector and its length in sectors (a
    // partition of length 0 runs to the end of the disk). An image whole: 0 and 0.
    uint64_t startSector = 0;
    uint64_t sectorCount = 0;
    // Goes into every record found (a partition's running number, an image's tag).
    uint16_t tag = 0;

    static SourceRef Partition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                               uint16_t driveLetter);
    static SourceRef Image(std::string imagePath, uint16_t tag);
    static SourceRef ImageVolume(std::string imagePath, uint64_t startSector, uint64_t sectorCount,
                                 uint16_t tag);

    bool IsImage() const { return kind != Kind::DiskPartition; }
};

// Opens the disk or the image file the reference reads, whole and read-only; `sectorSize`
// receives the size of its sectors (an image's: 512; a disk's: the one it reports, 512 when it
// reports none).
Status OpenReferencedSource(const SourceRef& ref, SectorSource& source, uint32_t& sectorSize);

}  // namespace keltra
