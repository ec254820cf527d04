#include "storage/disk_image_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/clock.h"
#include "storage/volume_sync.h"

namespace keltra {

namespace {

// Refuses an image path that is not a regular file (a disk, a partition, a pipe) before it is
// opened, so that no device is ever opened for writing.
Status CheckImagePath(const std::string& imagePath) {
    struct stat st {};
    if (::stat(imagePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return kErrInvalidParameter;
    return kOk;
}

bool SameFile(const FileHandle& a, const SectorSource& source) {
    struct stat sa {
    }, sb{};
    return source.handle.IsOpen() && ::fstat(a.Descriptor(), &sa) == 0 &&
           ::fstat(source.handle.Descriptor(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

DiskImageWriter::DiskImageWriter(ImageProgressCallback callback, void* user)
    : callback_(callback), user_(user), clock_(&TickCountMs) {}

Status DiskImageWriter::Copy(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                             const std::string& imagePath) {
    SectorSource source;
    if (Status s = OpenDiskSource(source, diskNumber); s != kOk) return s;
    uint32_t bytesPerSector = 0;
    if (Status s = source.handle.LogicalSectorSize(bytesPerSector); s != kOk) return s;
    SyncMountedVolumes(diskNumber, firstSector,
                       sectorCount == 0
                           ? source.totalSectors - std::min(firstSector, source.totalSectors)
                           : sectorCount);
    return CopyFrom(source, bytesPerSector, firstSector, sectorCount, imagePath);
}

Status DiskImageWriter::CopyFrom(const SectorSource& source, uint32_t bytesPerSector,
                                 uint64_t firstSector, uint64_t sectorCount,
                                 const std::string& imagePath) {
    sectorsWritten_ = 0;
    if (bytesPerSector == 0 || firstSector > source.totalSectors) return kErrInvalidParameter;
    if (sectorCount == 0) sectorCount = source.totalSectors - firstSector;
    if (sectorCount > source.totalSectors - firstSector) return kErrInvalidParameter;
    if (Status s = CheckImagePath(imagePath); s != kOk) return s;

    FileHandle image;
    if (Status s = FileHandle::OpenOrCreate(imagePath, image); s != kOk) return s;
    if (SameFile(image, source)) return kErrInvalidParameter;

    Status result = CopyLoop(source, bytesPerSector, firstSector, sectorCount, image);

    // An existing longer file keeps nothing past what this copy wrote.
    const uint64_t written = sectorsWritten_ * bytesPerSector;
    uint64_t size = 0;
    Status cut = image.Size(size);
    if (cut == kOk && size > written) cut = image.Truncate(written);
    if (result == kOk) result = cut;
    return result;
}

Status DiskImageWriter::CopyLoop(const SectorSource& source, uint32_t bytesPerSector,
                                 uint64_t firstSector, uint64_t sectorCount,
                                 const FileHandle& image) {
    const uint64_t totalBytes = sectorCount * bytesPerSector;
    const size_t chunkLimit = std::max<size_t>(kImageChunkBytes, bytesPerSector);
    std::vector<std::byte> buffer(chunkLimit);
    const uint64_t startMs = clock_();
    uint64_t lastEstimateMs = startMs;
    int secondsLeft = -1;
    uint64_t doneBytes = 0;

    while (doneBytes < totalBytes) {
        const uint64_t chunkBytes = std::min<uint64_t>(chunkLimit, totalBytes - doneBytes);
        const auto sectors = static_cast<uint32_t>(chunkBytes / bytesPerSector);
        const uint64_t doneSectors = doneBytes / bytesPerSector;
        const auto chunk = std::span(buffer).first(static_cast<size_t>(chunkBytes));
        uint32_t got = 0;
        if (ReadSectors(source, sectors, chunk, firstSector + doneSectors,
                        static_cast<int>(bytesPerSector), got) != kOk) {
            return kErrReadFault;
        }
        if (Status s = image.WriteAllAt(doneBytes, chunk); s != kOk) return s;
        doneBytes += chunkBytes;
        sectorsWritten_ += sectors;

        const uint64_t now = clock_();
        if (now - lastEstimateMs >= kEstimateIntervalMs) {
            const uint64_t elapsedSeconds = (now - startMs) / 1000;
            uint64_t rate = elapsedSeconds == 0 ? 0 : doneBytes / elapsedSeconds;
            if (rate == 0) rate = 1;
            secondsLeft =
                static_cast<int>(std::min<uint64_t>((totalBytes - doneBytes) / rate, INT_MAX));
            lastEstimateMs = now;
        }
        if (callback_ != nullptr) {
            const int percent = static_cast<int>(doneBytes * 100 / totalBytes);
            if (int answer = callback_(user_, percent, doneBytes / bytesPerSector,
                                       totalBytes / bytesPerSector, secondsLeft);
                answer != 0) {
                return answer;
            }
        }
    }
    return kOk;
}

}  // namespace keltra
