// The one process-wide 64 KiB buffer that the end finders and the disk-reading recognisers read
// into. Every engine holds it from its creation to its destruction: the first hold allocates
// it, the last release frees it.
#pragma once

#include <cstddef>
#include <span>

namespace keltra {

class CarveChunkBuffer {
  public:
    static constexpr size_t kBytes = 65536;

    CarveChunkBuffer();
    ~CarveChunkBuffer();
    CarveChunkBuffer(const CarveChunkBuffer&) = delete;
    CarveChunkBuffer& operator=(const CarveChunkBuffer&) = delete;

    std::span<std::byte, kBytes> Bytes() const;

    // Holds alive now (for tests of the hold rule).
    static int HoldCount();
};

}  // namespace keltra
