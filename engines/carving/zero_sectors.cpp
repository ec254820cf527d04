#include "engines/carving/zero_sectors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace keltra {

namespace {

constexpr size_t kWord = sizeof(uint64_t);
// Words tested together before the answer is looked at: a non-zero sector is usually told by
// its first block.
constexpr size_t kBlockWords = 8;

bool IsZeroSector(const std::byte* sector, size_t sectorSize) {
    for (size_t block = 0; block < sectorSize; block += kWord * kBlockWords) {
        const size_t words = std::min(kBlockWords, (sectorSize - block) / kWord);
        uint64_t any = 0;
        for (size_t w = 0; w < words; ++w) {
            uint64_t word;
            std::memcpy(&word, sector + block + w * kWord, kWord);
            any |= word;
        }
        if (any != 0) return false;
    }
    return true;
}

}  // namespace

size_t LeadingZeroSectors(std::span<const std::byte> bytes, size_t sectorSize) {
    if (sectorSize == 0 || sectorSize % kWord != 0) return 0;
    const size_t count = bytes.size() / sectorSize;
    size_t zero = 0;
    while (zero < count && IsZeroSector(bytes.data() + zero * sectorSize, sectorSize)) ++zero;
    return zero;
}

}  // namespace keltra
