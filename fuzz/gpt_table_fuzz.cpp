// The GPT header and entry array of a disk image read by the program itself: the first 512
// bytes are the header sector, the rest the entry array. Checksums are left to the input's
// luck; the fields are read whatever they say, and every partition kept lies in the usable
// sectors, numbered by its place.
#include <array>
#include <cstring>
#include <span>

#include "storage/gpt_table.h"
#include "storage/sector_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keltra;
    std::array<std::byte, kImageSectorSize> sector{};
    std::memcpy(sector.data(), data, std::min(size, sector.size()));
    (void)GptHeaderChecksumHolds(sector);
    const auto header = ParseGptHeader(sector);
    if (!header) return 0;
    const std::span entries(reinterpret_cast<const std::byte*>(data), size);
    const auto rest = size > sector.size() ? entries.subspan(sector.size()) : entries.subspan(0, 0);
    for (const PartitionSlot& slot : ParseGptEntries(rest, *header)) {
        const uint64_t first = slot.startBytes / kImageSectorSize;
        const uint64_t last = first + slot.lengthBytes / kImageSectorSize - 1;
        if (slot.lengthBytes == 0 || first < header->firstUsable || last > header->lastUsable)
            __builtin_trap();
        if (slot.number < 1 || static_cast<uint32_t>(slot.number) > header->entryCount)
            __builtin_trap();
        if (slot.typeGuid.size() != 36) __builtin_trap();
    }
    return 0;
}
