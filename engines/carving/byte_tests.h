// Small tests on byte views shared by the format modules. Every test checks its own bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/little_endian.h"

namespace keltra {

// `text` stands at `offset` (false when it would run past the bytes).
inline bool At(std::span<const std::byte> b, size_t offset, std::string_view text) {
    return BytesEqual(b, offset, text);
}

inline uint16_t Be16(std::span<const std::byte> b, size_t off) {
    return static_cast<uint16_t>((Byte(b, off) << 8) | Byte(b, off + 1));
}

inline uint32_t Be32(std::span<const std::byte> b, size_t off) {
    return (uint32_t{Be16(b, off)} << 16) | Be16(b, off + 2);
}

}  // namespace keltra
