#include "storage/direct_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace keltra {

namespace {

// O_DIRECT wants the buffer, the offset and the length aligned to the device's logical block;
// 4096 covers every block size in use.
constexpr size_t kAlignment = 4096;

Status ReadStatus(int err) {
    switch (err) {
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
        case ENOTCONN:
        case ESHUTDOWN:
        case ENOENT:
        case EBADF:
            return kErrNotReady;
        default:
            return kErrIoDevice;
    }
}

}  // namespace

Status DirectReader::Open(const std::string& path, std::unique_ptr<DirectReader>& out,
                          uint64_t& sizeBytes) {
    out.reset();
    auto reader = std::make_unique<DirectReader>();
    if (Status s = FileHandle::OpenForReading(path, reader->buffered_); s != kOk) return s;
    if (Status s = reader->buffered_.Size(sizeBytes); s != kOk) return s;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) reader->direct_ = FileHandle::Adopt(fd);
    out = std::move(reader);
    return kOk;
}

void DirectReader::FreeDeleter::operator()(std::byte* p) const {
    std::free(p);
}

Status DirectReader::Read(const FileHandle& handle, uint64_t offset, std::span<std::byte> buffer,
                          size_t& done) {
    done = 0;
    ssize_t n;
    do {
        n = ::pread(handle.Descriptor(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EINVAL ? kErrInvalidParameter : ReadStatus(errno);
    done = static_cast<size_t>(n);
    return kOk;
}

Status DirectReader::ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) {
    done = 0;
    const bool aligned = offset % 512 == 0 && buffer.size() % 512 == 0;
    if (direct_.IsOpen() && aligned) {
        if (bounceBytes_ < buffer.size()) {
            bounceBytes_ = (buffer.size() + kAlignment - 1) / kAlignment * kAlignment;
            bounce_.reset(static_cast<std::byte*>(std::aligned_alloc(kAlignment, bounceBytes_)));
            if (!bounce_) {
                bounceBytes_ = 0;
                return kErrNotEnoughMemory;
            }
        }
        const Status s = Read(direct_, offset, std::span(bounce_.get(), buffer.size()), done);
        if (s != kErrInvalidParameter) {
            std::memcpy(buffer.data(), bounce_.get(), done);
            return s;
        }
        // The file system refuses direct reads of this shape: ordinary reads from now on.
        direct_.Close();
    }
    const Status s = Read(buffered_, offset, buffer, done);
    return s == kErrInvalidParameter ? kErrIoDevice : s;
}

}  // namespace keltra
