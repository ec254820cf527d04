// Reads a disk or an image for a rescue copy with O_DIRECT where the system allows it: a read
// error then covers only the sectors asked for, not the whole page-cache pages (and the
// read-ahead) around them, and a long copy does not push everything else out of the cache.
// Opened read-only, like every source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/file_handle.h"
#include "storage/sector_source.h"

namespace keltra {

class DirectReader : public SectorReader {
  public:
    // Opens `path` for reading; `sizeBytes` = its length. Falls back to ordinary reads where
    // O_DIRECT is refused (tmpfs, some FUSE file systems).
    static Status Open(const std::string& path, std::unique_ptr<DirectReader>& out,
                       uint64_t& sizeBytes);
    DirectReader() = default;

    // As SectorReader. A failed read gives 1117 (the medium could not be read) or, when the
    // source is gone (unplugged, disconnected, no medium), 21.
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override;

    bool Direct() const { return direct_.IsOpen(); }

  private:
    struct FreeDeleter {
        void operator()(std::byte* p) const;
    };
    Status Read(const FileHandle& handle, uint64_t offset, std::span<std::byte> buffer,
                size_t& done);

    FileHandle direct_;
    FileHandle buffered_;
    std::unique_ptr<std::byte, FreeDeleter> bounce_;  // aligned, for O_DIRECT transfers
    size_t bounceBytes_ = 0;
};

}  // namespace keltra
