#include "storage/sector_source.h"

#include "platform/disk_names.h"
#include "storage/copied_areas_reader.h"

namespace keltra {

Status OpenDeviceSource(SectorSource& source, const std::string& devicePath) {
    source.Close();
    if (Status s = FileHandle::OpenForReading(devicePath, source.handle); s != kOk) return s;
    DiskGeometry geometry;
    if (Status s = source.handle.Geometry(geometry); s != kOk) return s;
    uint64_t length = 0;
    if (source.handle.Size(length) == kOk && length != 0) {
        source.totalSectors = length / geometry.bytesPerSector;
    } else {
        source.totalSectors =
            geometry.cylinders * geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    }
    return kOk;
}

Status OpenDiskSource(SectorSource& source, int diskNumber) {
    const auto device = DiskDevicePath(diskNumber);
    if (!device) {
        source.Close();
        return kErrFileNotFound;
    }
    return OpenDeviceSource(source, *device);
}

uint32_t ReportedSectorSize(const SectorSource& source) {
    uint32_t bytes = 0;
    if (!source.handle.IsOpen() || source.handle.LogicalSectorSize(bytes) != kOk || bytes == 0) {
        return 512;
    }
    return bytes;
}

Status OpenImageSource(SectorSource& source, const std::string& path) {
    source.Close();
    if (Status s = FileHandle::OpenForReading(path, source.handle); s != kOk) return s;
    uint64_t size = 0;
    if (Status s = source.handle.Size(size); s != kOk) return s;
    source.totalSectors = size / kImageSectorSize;
    // An image a rescue copy made: its reads go through the map kept beside it.
    if (auto map = CopiedAreasReader::MapOfImage(path, size)) {
        FileHandle image;
        if (Status s = FileHandle::OpenForReading(path, image); s != kOk) return s;
        source.reader = std::make_unique<CopiedAreasReader>(std::move(image), std::move(*map));
    }
    return kOk;
}

void OpenReaderSource(SectorSource& source, std::unique_ptr<SectorReader> reader,
                      uint64_t totalSectors) {
    source.Close();
    source.reader = std::move(reader);
    source.totalSectors = totalSectors;
}

Status ReadSectors(const SectorSource& source, uint32_t count, std::span<std::byte> buffer,
                   uint64_t lba, int sectorSize, uint32_t& sectorsRead, size_t pieceBytes) {
    if (sectorSize <= 0 || pieceBytes == 0 || lba > source.totalSectors ||
        count > source.totalSectors - lba) {
        return kErrInvalidParameter;
    }
    const uint64_t total = uint64_t{count} * static_cast<uint64_t>(sectorSize);
    if (buffer.size() < total) return kErrInvalidParameter;
    if (!source.IsOpen()) return kErrInvalidParameter;

    const uint64_t base = lba * static_cast<uint64_t>(sectorSize);
    uint64_t done = 0;
    Status status = kOk;
    while (done < total) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(pieceBytes, total - done));
        size_t got = 0;
        const auto target = buffer.subspan(static_cast<size_t>(done), piece);
        const Status s = source.reader ? source.reader->ReadAt(base + done, target, got)
                                       : source.handle.ReadAt(base + done, target, got);
        if (s != kOk || got == 0) {
            status = kErrReadFault;
            break;
        }
        done += got;
    }
    sectorsRead = static_cast<uint32_t>(done / static_cast<uint64_t>(sectorSize));
    return status;
}

}  // namespace keltra
