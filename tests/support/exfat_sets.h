// exFAT entry sets made in memory, as exfat-fuse writes them, for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/exfat/exfat_entry_set.h"
#include "engines/exfat/exfat_upcase.h"
#include "platform/little_endian.h"

namespace keltra::test {

// File, stream extension, name entries and the set checksum.
inline std::vector<std::byte> MakeExFatSet(std::u16string name, uint32_t cluster, uint64_t valid,
                                           uint64_t length, bool noFatChain,
                                           uint16_t attributes = 0x20) {
    const size_t nameEntries = (name.size() + 14) / 15;
    std::vector<std::byte> set((2 + nameEntries) * 32);
    std::span<std::byte> b(set);
    b[0] = std::byte{0x85};
    b[1] = static_cast<std::byte>(1 + nameEntries);
    StoreLE<uint16_t>(b, 4, attributes);
    StoreLE<uint32_t>(b, 12, (44u << 25) | (3u << 21) | (5u << 16) | (10u << 11) | (20u << 5) | 15);
    b[32] = std::byte{0xC0};
    b[33] = std::byte{static_cast<uint8_t>(noFatChain ? 3 : 1)};
    b[35] = static_cast<std::byte>(name.size());
    StoreLE<uint16_t>(b, 36, ExFatUpcase().NameHash(name));
    StoreLE<uint64_t>(b, 40, valid);
    StoreLE<uint32_t>(b, 52, cluster);
    StoreLE<uint64_t>(b, 56, length);
    for (size_t i = 0; i < name.size(); ++i) {
        if (i % 15 == 0) b[64 + i / 15 * 32] = std::byte{0xC1};
        StoreLE<uint16_t>(b, 64 + i / 15 * 32 + 2 + i % 15 * 2, static_cast<uint16_t>(name[i]));
    }
    StoreLE<uint16_t>(b, 2, ExFatSetChecksum(set, false));
    return set;
}

// The set marked deleted: the in-use bit of every entry cleared (the checksum stays).
inline std::vector<std::byte> DeletedExFatSet(std::vector<std::byte> set) {
    for (size_t at = 0; at < set.size(); at += kExFatEntryBytes) set[at] &= std::byte{0x7F};
    return set;
}

}  // namespace keltra::test
