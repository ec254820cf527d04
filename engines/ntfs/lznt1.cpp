#include "engines/ntfs/lznt1.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace keltra::ntfs {

namespace {

constexpr uint16_t kCompressedChunk = 0x8000;
constexpr uint16_t kChunkLengthMask = 0x0FFF;

uint8_t At(std::span<const std::byte> s, size_t i) {
    return std::to_integer<uint8_t>(s[i]);
}

// Decodes one compressed chunk's data into `out` (at most one chunk long). False when it is
// corrupt; `written` then holds what was decoded before the fault.
bool DecodeChunk(std::span<const std::byte> data, std::span<std::byte> out, size_t& written) {
    size_t pos = 0;  // bytes written into this chunk
    size_t at = 0;   // bytes of `data` read
    while (at < data.size()) {
        const uint8_t flags = At(data, at++);
        for (int bit = 0; bit < 8 && at < data.size(); ++bit) {
            if (((flags >> bit) & 1) == 0) {
                if (pos >= out.size()) {
                    written = pos;
                    return false;
                }
                out[pos++] = data[at++];
                continue;
            }
            if (data.size() - at < 2) {
                written = pos;
                return false;
            }
            const uint16_t token = static_cast<uint16_t>(At(data, at) | (At(data, at + 1) << 8));
            at += 2;
            // The further into the chunk, the more bits the offset takes from the length.
            uint16_t lengthMask = kChunkLengthMask;
            unsigned offsetShift = 12;
            for (size_t p = pos == 0 ? 0 : pos - 1; p >= 0x10; p >>= 1) {
                lengthMask >>= 1;
                --offsetShift;
            }
            const size_t offset = size_t{static_cast<uint16_t>(token >> offsetShift)} + 1;
            const size_t length = size_t{static_cast<uint16_t>(token & lengthMask)} + 3;
            if (offset > pos) {
                written = pos;
                return false;
            }
            // Byte by byte: a reference may overlap the bytes it writes.
            const size_t copy = std::min(length, out.size() - pos);
            for (size_t i = 0; i < copy; ++i, ++pos) out[pos] = out[pos - offset];
            if (copy < length) {
                written = pos;
                return false;
            }
        }
    }
    written = pos;
    return true;
}

}  // namespace

Lznt1Result DecompressLznt1(std::span<const std::byte> in, std::span<std::byte> out) {
    std::fill(out.begin(), out.end(), std::byte{0});
    Lznt1Result result;
    size_t at = 0;
    size_t chunkStart = 0;
    while (in.size() - at >= 2 && chunkStart < out.size()) {
        const uint16_t header = static_cast<uint16_t>(At(in, at) | (At(in, at + 1) << 8));
        if (header == 0) break;
        const size_t length = size_t{static_cast<uint16_t>(header & kChunkLengthMask)} + 1;
        if (length > in.size() - at - 2) {
            result.corrupt = true;
            break;
        }
        const auto data = in.subspan(at + 2, length);
        const auto target =
            out.subspan(chunkStart, std::min(kLznt1ChunkBytes, out.size() - chunkStart));
        size_t written = 0;
        if ((header & kCompressedChunk) != 0) {
            if (!DecodeChunk(data, target, written)) {
                result.written = chunkStart + written;
                result.corrupt = true;
                break;
            }
        } else {
            written = std::min(data.size(), target.size());
            std::memcpy(target.data(), data.data(), written);
        }
        result.written = chunkStart + written;
        at += 2 + length;
        chunkStart += kLznt1ChunkBytes;
    }
    return result;
}

}  // namespace keltra::ntfs
