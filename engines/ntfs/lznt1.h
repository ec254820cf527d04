// LZNT1, the compression NTFS uses for the data of compressed files: a compression unit's
// bytes are a series of chunks, each giving up to 4,096 bytes of data.
#pragma once

#include <cstddef>
#include <span>

namespace keltra::ntfs {

inline constexpr size_t kLznt1ChunkBytes = 4096;

struct Lznt1Result {
    size_t written = 0;    // bytes of `out` the chunks reached (the data's end within it)
    bool corrupt = false;  // a chunk could not be decoded to its end
};

// Decompresses the chunks of `in` into `out`. Every chunk begins with a two-byte header: 0 ends
// the data; otherwise bits 0-11 are the chunk's length minus 3 (header included) and bit 15 says
// it is compressed; an uncompressed chunk holds its data as it is. Each chunk's data begins at
// the next 4,096-byte boundary of `out`: a chunk that gives less leaves zeros behind it. The
// data ends with `in` or when `out` is full; `out` is first filled with zeros. A chunk that
// reaches past `in`, a back-reference before the chunk's start, or data longer than a chunk is
// corrupt: decoding stops there, what it gave so far is kept and the rest stays zeros. Nothing is
// read or written outside the two spans.
Lznt1Result DecompressLznt1(std::span<const std::byte> in, std::span<std::byte> out);

}  // namespace keltra::ntfs
