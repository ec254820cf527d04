#include "platform/file_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace keltra {

FileHandle::~FileHandle() {
    Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void FileHandle::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Status FileHandle::OpenForReading(const std::string& path, FileHandle& out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return LastStatus();
    out = FileHandle(fd);
    return kOk;
}

Status FileHandle::CreateForWriting(const std::string& path, FileHandle& out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return LastStatus();
    out = FileHandle(fd);
    return kOk;
}

Status FileHandle::CreateNew(const std::string& path, FileHandle& out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return LastStatus();
    out = FileHandle(fd);
    return kOk;
}

Status FileHandle::OpenOrCreate(const std::string& path, FileHandle& out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return LastStatus();
    out = FileHandle(fd);
    return kOk;
}

Status FileHandle::ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) const {
    done = 0;
    if (fd_ < 0) return kErrInvalidParameter;
    ssize_t n;
    do {
        n = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return LastStatus();
    done = static_cast<size_t>(n);
    return kOk;
}

Status FileHandle::WriteAt(uint64_t offset, std::span<const std::byte> data, size_t& done) const {
    done = 0;
    if (fd_ < 0) return kErrInvalidParameter;
    ssize_t n;
    do {
        n = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return LastStatus();
    done = static_cast<size_t>(n);
    return kOk;
}

Status FileHandle::WriteAllAt(uint64_t offset, std::span<const std::byte> data) const {
    while (!data.empty()) {
        size_t done = 0;
        if (Status s = WriteAt(offset, data, done); s != kOk) return s;
        if (done == 0) return kErrWriteFault;
        offset += done;
        data = data.subspan(done);
    }
    return kOk;
}

bool FileHandle::IsBlockDevice() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

Status FileHandle::Size(uint64_t& bytes) const {
    bytes = 0;
    struct stat st {};
    if (fd_ < 0) return kErrInvalidParameter;
    if (::fstat(fd_, &st) != 0) return LastStatus();
    if (S_ISBLK(st.st_mode)) {
        uint64_t size = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &size) != 0) return LastStatus();
        bytes = size;
        return kOk;
    }
    bytes = static_cast<uint64_t>(st.st_size);
    return kOk;
}

Status FileHandle::Truncate(uint64_t bytes) const {
    if (fd_ < 0) return kErrInvalidParameter;
    if (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) return LastStatus();
    return kOk;
}

Status FileHandle::LogicalSectorSize(uint32_t& bytes) const {
    bytes = 512;
    if (fd_ < 0) return kErrInvalidParameter;
    if (!IsBlockDevice()) return kOk;
    int size = 0;
    if (::ioctl(fd_, BLKSSZGET, &size) != 0) return LastStatus();
    if (size > 0) bytes = static_cast<uint32_t>(size);
    return kOk;
}

Status FileHandle::Geometry(DiskGeometry& geometry) const {
    geometry = {};
    uint32_t sectorSize = 512;
    if (Status s = LogicalSectorSize(sectorSize); s != kOk) return s;
    uint64_t bytes = 0;
    if (Status s = Size(bytes); s != kOk) return s;
    geometry.bytesPerSector = sectorSize;
    hd_geometry hd{};
    if (IsBlockDevice() && ::ioctl(fd_, HDIO_GETGEO, &hd) == 0 && hd.heads != 0 &&
        hd.sectors != 0) {
        geometry.tracksPerCylinder = hd.heads;
        geometry.sectorsPerTrack = hd.sectors;
    } else {
        geometry.tracksPerCylinder = 255;
        geometry.sectorsPerTrack = 63;
    }
    // HDIO_GETGEO's cylinder field is 16 bits wide; the count is derived from the length.
    const uint64_t perCylinder = uint64_t{geometry.tracksPerCylinder} * geometry.sectorsPerTrack;
    geometry.cylinders = bytes / sectorSize / perCylinder;
    return kOk;
}

Status FileHandle::Flush() const {
    if (fd_ < 0) return kErrInvalidParameter;
    if (::fsync(fd_) != 0) return LastStatus();
    return kOk;
}

}  // namespace keltra
