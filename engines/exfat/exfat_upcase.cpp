#include "engines/exfat/exfat_upcase.h"

#include "platform/little_endian.h"

namespace keltra {

void ExFatUpcase::Load(std::span<const std::byte> stored) {
    map_.resize(0x10000);
    for (size_t c = 0; c < map_.size(); ++c) map_[c] = static_cast<char16_t>(c);
    size_t next = 0;
    for (size_t at = 0; at + 2 <= stored.size() && next < map_.size(); at += 2) {
        const uint16_t value = Le16(stored, at);
        if (value == 0xFFFF && at + 4 <= stored.size()) {
            at += 2;
            next += Le16(stored, at);
            continue;
        }
        map_[next++] = static_cast<char16_t>(value);
    }
}

uint16_t ExFatUpcase::NameHash(std::u16string_view name) const {
    uint16_t hash = 0;
    for (const char16_t c : name) {
        const uint16_t upper = Upper(c);
        for (const uint8_t byte :
             {static_cast<uint8_t>(upper & 0xFF), static_cast<uint8_t>(upper >> 8)}) {
            hash = static_cast<uint16_t>(((hash & 1) != 0 ? 0x8000 : 0) + (hash >> 1) + byte);
        }
    }
    return hash;
}

std::u16string ExFatUpcase::Folded(std::u16string_view name) const {
    std::u16string folded(name);
    for (char16_t& c : folded) c = Upper(c);
    return folded;
}

uint32_t ExFatUpcase::TableChecksum(std::span<const std::byte> stored) {
    uint32_t sum = 0;
    for (const std::byte b : stored) {
        sum = ((sum & 1) != 0 ? 0x80000000U : 0) + (sum >> 1) + std::to_integer<uint32_t>(b);
    }
    return sum;
}

}  // namespace keltra
