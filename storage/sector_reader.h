// The byte-addressed reader a sector source can read through in place of its file handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/status.h"

namespace keltra {

// Byte-addressed reads in place of the file handle; tests use it to put memory or a faulty
// medium behind a source.
class SectorReader {
  public:
    virtual ~SectorReader() = default;
    // Reads up to buffer.size() bytes at `offset`; `done` = bytes read (0 at the end).
    virtual Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) = 0;
};

}  // namespace keltra
