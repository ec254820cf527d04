// An owned file or device descriptor. Sources (disks, partitions, images) are only ever opened
// for reading; destinations are opened for writing through their own calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/status.h"

namespace keltra {

// Drive geometry in the shape the callers expect of a disk.
struct DiskGeometry {
    uint64_t cylinders = 0;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
};

class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens an existing file or block device for reading only.
    static Status OpenForReading(const std::string& path, FileHandle& out);
    // Creates the file, or opens it and cuts it to zero length. A link in its place is not
    // followed (ELOOP).
    static Status CreateForWriting(const std::string& path, FileHandle& out);
    // Creates a new file for writing; a name already taken (a link included) gives 80.
    static Status CreateNew(const std::string& path, FileHandle& out);
    // Takes ownership of an open descriptor.
    static FileHandle Adopt(int fd) { return FileHandle(fd); }
    // Opens the file for reading and writing, creating it when missing; keeps its contents. A
    // link in its place is not followed.
    static Status OpenOrCreate(const std::string& path, FileHandle& out);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    void Close();

    // Positioned transfers. `done` is the byte count moved by the one call (may be short).
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) const;
    Status WriteAt(uint64_t offset, std::span<const std::byte> data, size_t& done) const;
    // Writes all of `data` at `offset`, retrying short writes.
    Status WriteAllAt(uint64_t offset, std::span<const std::byte> data) const;

    // Length of a regular file or of a block device, in bytes.
    Status Size(uint64_t& bytes) const;
    Status Truncate(uint64_t bytes) const;
    // Logical sector size of a block device (512 for a regular file).
    Status LogicalSectorSize(uint32_t& bytes) const;
    // Geometry of a block device. Devices that cannot report one (loop, most virtual and flash
    // devices) get the classic 255 heads × 63 sectors layout over their length.
    Status Geometry(DiskGeometry& geometry) const;
    bool IsBlockDevice() const;
    Status Flush() const;

  private:
    explicit FileHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace keltra
