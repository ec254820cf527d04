// Copies the data of one stream (resident bytes, or runs of clusters) to a sink in pieces of
// 64 KiB, straight from the source: the data is never held whole in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "platform/file_handle.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra::ntfs {

inline constexpr size_t kCopyPieceBytes = 65536;

class DataSink {
  public:
    virtual ~DataSink() = default;
    virtual Status Write(std::span<const std::byte> bytes) = 0;
    // `count` zero bytes: sparse runs and the part past the initialized size.
    virtual Status Zeros(uint64_t count) = 0;
};

// Writes into a file from offset 0; zeros become a hole. Finish() sets the file's length.
class FileSink final : public DataSink {
  public:
    explicit FileSink(const FileHandle& file) : file_(file) {}
    Status Write(std::span<const std::byte> bytes) override;
    Status Zeros(uint64_t count) override;
    Status Finish() const { return file_.Truncate(offset_); }

  private:
    const FileHandle& file_;
    uint64_t offset_ = 0;
};

// Fills a caller's buffer; what does not fit is dropped and Full() turns true.
class BufferSink final : public DataSink {
  public:
    explicit BufferSink(std::span<std::byte> buffer) : buffer_(buffer) {}
    Status Write(std::span<const std::byte> bytes) override;
    Status Zeros(uint64_t count) override;
    size_t Filled() const { return filled_; }
    bool Full() const { return filled_ == buffer_.size(); }

  private:
    std::span<std::byte> buffer_;
    size_t filled_ = 0;
};

// Called after each piece with the bytes delivered so far; a non-zero answer stops the copy,
// which then returns that answer.
using PieceProgress = std::function<int(uint64_t done)>;

// Copies the first `size` bytes of the stream: a resident stream's bytes (at most what it
// holds), or the runs' clusters, sparse runs and bytes past the initialized size as zeros.
// A stream whose runs cover less than `size` ends where they end. A read that returns nothing
// ends the copy with 30, another read error with its status; a write error with its status.
// `stopWhen` (optional) ends the copy early, without error, once it answers true.
Status CopyStream(const SectorSource& source, const Geometry& geometry, const StreamLayout& stream,
                  uint64_t size, DataSink& sink, const PieceProgress& progress,
                  const std::function<bool()>& stopWhen = {});

}  // namespace keltra::ntfs
