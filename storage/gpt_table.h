// The GPT partition table at the start of a disk image, read by the program itself for an
// image cut short: libblkid refuses a table whose disk is longer than the image, and the
// backup table at the disk's end is not in the image. The header's and the entries'
// checksums decide whether the table is sound.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/file_handle.h"
#include "storage/partition_probe.h"

namespace keltra {

inline constexpr uint32_t kGptHeaderLba = 1;  // in 512-byte sectors
inline constexpr uint32_t kGptMostEntryBytes = 1u << 20;

struct GptHeader {
    uint64_t diskSectors = 0;  // the backup header's sector + 1: the disk's length
    uint64_t firstUsable = 0;
    uint64_t lastUsable = 0;
    uint64_t entriesLba = 0;
    uint32_t entryCount = 0;
    uint32_t entrySize = 0;
    uint32_t entriesCrc = 0;
    uint32_t EntryBytes() const { return entryCount * entrySize; }
};

// The fields of the header sector: nothing when it is no GPT header ("EFI PART", a header
// size of 92 to 512 bytes, its own sector 1, usable sectors in order, entries of 128 bytes or a
// multiple of 8 above that, no more than kGptMostEntryBytes of them, and a backup header past
// the usable sectors). Its checksum is not looked at here.
std::optional<GptHeader> ParseGptHeader(std::span<const std::byte> sector);

// The checksum of the header sector holds (computed with its own field as zero).
bool GptHeaderChecksumHolds(std::span<const std::byte> sector);

// The partitions of the entry array (`header.EntryBytes()` bytes), in table order and numbered
// by their place in it from 1, as the kernel numbers them. Unused entries, and entries that end
// before they start or reach outside the usable sectors, are left out. The array's checksum is
// not looked at here.
std::vector<PartitionSlot> ParseGptEntries(std::span<const std::byte> entries,
                                           const GptHeader& header);

// The header at sector 1 of the image; nothing when there is none or it cannot be read.
// `checksumHolds` tells whether it is sound.
struct GptHeaderRead {
    GptHeader header;
    bool checksumHolds = false;
};
std::optional<GptHeaderRead> ReadGptHeader(const FileHandle& image);

// The partitions of a sound header's entry array; nothing when the array cannot be read or its
// checksum fails.
std::optional<std::vector<PartitionSlot>> ReadGptEntries(const FileHandle& image,
                                                         const GptHeader& header);

}  // namespace keltra
