// Little-endian loads and stores on byte views. Offsets are the caller's to check.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace keltra {

template <typename T>
inline T LoadLE(std::span<const std::byte> bytes, size_t offset) {
    static_assert(std::endian::native == std::endian::little);
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

inline uint16_t Le16(std::span<const std::byte> b, size_t off) {
    return LoadLE<uint16_t>(b, off);
}
inline uint32_t Le32(std::span<const std::byte> b, size_t off) {
    return LoadLE<uint32_t>(b, off);
}
inline uint64_t Le64(std::span<const std::byte> b, size_t off) {
    return LoadLE<uint64_t>(b, off);
}
inline uint8_t Byte(std::span<const std::byte> b, size_t off) {
    return std::to_integer<uint8_t>(b[off]);
}

template <typename T>
inline void StoreLE(std::span<std::byte> bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// The bytes at `offset` equal `text` (no terminator compared).
inline bool BytesEqual(std::span<const std::byte> b, size_t offset, std::string_view text) {
    return offset + text.size() <= b.size() &&
           std::memcmp(b.data() + offset, text.data(), text.size()) == 0;
}

}  // namespace keltra
