#include "app/preview_embedded_jpeg.h"

#include <cstdint>
#include <optional>

namespace keltra {

namespace {

uint8_t At(std::span<const std::byte> d, size_t i) {
    return std::to_integer<uint8_t>(d[i]);
}

// The length of the JPEG at `start` (its marker segments, then its scans to FF D9), when it is
// a whole one coded in a way a picture viewer decodes (baseline, extended or progressive).
std::optional<size_t> JpegLength(std::span<const std::byte> d, size_t start) {
    size_t pos = start + 2;
    bool viewable = false;
    while (pos + 4 <= d.size()) {
        if (At(d, pos) != 0xFF) return std::nullopt;
        const uint8_t marker = At(d, pos + 1);
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) return viewable ? std::optional(pos + 2 - start) : std::nullopt;
        const size_t length = (size_t{At(d, pos + 2)} << 8) | At(d, pos + 3);
        if (length < 2) return std::nullopt;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            viewable = marker <= 0xC2;
            if (!viewable) return std::nullopt;
        }
        pos += 2 + length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: up to the next marker that is neither a stuffed byte nor a
        // restart marker.
        while (pos + 1 < d.size()) {
            if (At(d, pos) == 0xFF) {
                const uint8_t next = At(d, pos + 1);
                if (next != 0x00 && (next < 0xD0 || next > 0xD7)) break;
            }
            ++pos;
        }
    }
    return std::nullopt;
}

}  // namespace

std::span<const std::byte> LargestEmbeddedJpeg(std::span<const std::byte> data) {
    std::span<const std::byte> best;
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (At(data, i) != 0xFF || At(data, i + 1) != 0xD8 || At(data, i + 2) != 0xFF) continue;
        if (const auto length = JpegLength(data, i); length && *length > best.size()) {
            best = data.subspan(i, *length);
            i += *length - 1;  // a thumbnail inside this one's Exif is smaller
        }
    }
    return best;
}

}  // namespace keltra
