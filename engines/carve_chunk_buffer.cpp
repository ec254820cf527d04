#include "engines/carve_chunk_buffer.h"

#include <memory>
#include <mutex>

namespace keltra {

namespace {

struct SharedChunk {
    std::mutex lock;
    int holds = 0;
    std::unique_ptr<std::byte[]> bytes;
};

SharedChunk& Shared() {
    static SharedChunk chunk;
    return chunk;
}

}  // namespace

CarveChunkBuffer::CarveChunkBuffer() {
    SharedChunk& s = Shared();
    std::lock_guard guard(s.lock);
    if (s.holds++ == 0) s.bytes = std::make_unique<std::byte[]>(kBytes);
}

CarveChunkBuffer::~CarveChunkBuffer() {
    SharedChunk& s = Shared();
    std::lock_guard guard(s.lock);
    if (--s.holds == 0) s.bytes.reset();
}

std::span<std::byte, CarveChunkBuffer::kBytes> CarveChunkBuffer::Bytes() const {
    return std::span<std::byte, kBytes>(Shared().bytes.get(), kBytes);
}

int CarveChunkBuffer::HoldCount() {
    SharedChunk& s = Shared();
    std::lock_guard guard(s.lock);
    return s.holds;
}

}  // namespace keltra
