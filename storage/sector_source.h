// The one read path of every engine: whole sectors of a disk or an image file, addressed by a
// 64-bit LBA. Sources are opened read-only; nothing here can write to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/file_handle.h"
#include "platform/status.h"
#include "storage/sector_reader.h"

namespace keltra {

struct SectorSource {
    // How a source opened by path is opened again after SuspendSource.
    enum class Kind { kNone, kDevice, kImage };

    FileHandle handle;
    std::unique_ptr<SectorReader> reader;  // used instead of `handle` when set
    uint64_t totalSectors = 0;
    std::string path;  // the device node or image file it was opened from
    Kind kind = Kind::kNone;

    bool IsOpen() const { return handle.IsOpen() || reader != nullptr; }
    void Close() {
        handle.Close();
        reader.reset();
        totalSectors = 0;
        path.clear();
        kind = Kind::kNone;
    }
};

inline constexpr uint32_t kImageSectorSize = 512;
inline constexpr size_t kReadPieceBytes = 65536;
// Pieces for reading long runs of metadata (an MFT, a FAT, a folder's clusters) in few calls.
inline constexpr size_t kLargeReadPieceBytes = 1024 * 1024;

// Opens whole disk N (see DiskDevicePath) for reading. Total sectors = length ÷ logical sector
// size, or cylinders × heads × sectors when the length is unknown.
Status OpenDiskSource(SectorSource& source, int diskNumber);
// The logical sector size a disk reports, or 512 when it reports none (an image, a reader).
uint32_t ReportedSectorSize(const SectorSource& source);
// Opens a device node directly (the disk-number form resolves to this).
Status OpenDeviceSource(SectorSource& source, const std::string& devicePath);
// Opens an image file for reading; its sectors are 512 bytes, a trailing partial one is not
// addressable.
Status OpenImageSource(SectorSource& source, const std::string& path);
// Closes the descriptor of a source opened by path while keeping what it is, so that a scanned
// device can be detached or removed; reads fail (87) until ResumeSource. A reader source stays.
void SuspendSource(SectorSource& source);
// Opens a suspended source again: kOk when it is open (or was never opened by path); 21 when
// the path now holds something of another length (another card in the reader, a new image);
// the open's error when it is gone.
Status ResumeSource(SectorSource& source);
// Puts a reader behind the source.
void OpenReaderSource(SectorSource& source, std::unique_ptr<SectorReader> reader,
                      uint64_t totalSectors);

// Reads `count` sectors of `sectorSize` bytes at `lba` into `buffer`, one system call per piece
// of at most `pieceBytes` (64 KiB unless the caller reads metadata in larger pieces).
// 87 when the range passes the last sector or the buffer is too small (nothing read, the output
// untouched); 30 when a read fails or returns nothing, with `sectorsRead` = whole sectors read.
Status ReadSectors(const SectorSource& source, uint32_t count, std::span<std::byte> buffer,
                   uint64_t lba, int sectorSize, uint32_t& sectorsRead,
                   size_t pieceBytes = kReadPieceBytes);

}  // namespace keltra
