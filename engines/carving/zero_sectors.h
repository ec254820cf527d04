// Runs of sectors that hold nothing but zero bytes: what new disks, trimmed SSDs and freshly
// formatted cards are mostly made of.
#pragma once

#include <cstddef>
#include <span>

namespace keltra {

// How many whole sectors of `sectorSize` bytes at the start of `bytes` are all zero, tested a
// machine word at a time. 0 for a sector size that is not a whole number of words.
size_t LeadingZeroSectors(std::span<const std::byte> bytes, size_t sectorSize);

}  // namespace keltra
