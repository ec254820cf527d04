// Copies a disk, or a range of its sectors, into a raw image file: no header, byte 0 of the file
// is the first sector copied. The disk is read through a read-only sector source, and the first
// unreadable sector ends the copy (RescueCopier goes on past them).
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// Progress after every chunk: percent done (0-100), sectors done, total sectors, estimated
// seconds left (-1 while there is no estimate). 0 goes on; any other answer stops the copy and
// becomes its result (kCancelled when the user cancelled).
using ImageProgressCallback = int (*)(void* user, int percent, uint64_t sectorsDone,
                                      uint64_t totalSectors, int secondsLeft);

inline constexpr size_t kImageChunkBytes = 65536;
inline constexpr uint64_t kEstimateIntervalMs = 5000;

class DiskImageWriter {
  public:
    DiskImageWriter(ImageProgressCallback callback, void* user);

    // The millisecond clock of the estimate (tests give their own).
    void SetClock(uint64_t (*tickCountMs)()) { clock_ = tickCountMs; }

    // Copies `sectorCount` sectors of disk N from `firstSector` (0: to the end of the disk) into
    // the image file, which is created when missing and cut to the copy's length when longer.
    // Result: 0; a system error code; 30 for a read fault; 87 for a range past the end of the
    // disk or an image path that names the source or something other than a regular file; or
    // the callback's non-zero answer.
    Status Copy(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                const std::string& imagePath);
    // The same from an open source whose sectors are `bytesPerSector` bytes long.
    Status CopyFrom(const SectorSource& source, uint32_t bytesPerSector, uint64_t firstSector,
                    uint64_t sectorCount, const std::string& imagePath);

    // After a copy: the sectors written to the image.
    uint64_t SectorsWritten() const { return sectorsWritten_; }

  private:
    Status CopyLoop(const SectorSource& source, uint32_t bytesPerSector, uint64_t firstSector,
                    uint64_t sectorCount, const FileHandle& image);

    ImageProgressCallback callback_;
    void* user_;
    uint64_t (*clock_)();
    uint64_t sectorsWritten_ = 0;
};

}  // namespace keltra
