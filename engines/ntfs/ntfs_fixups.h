// The update sequence fixups of an MFT FILE record: the last two bytes of every 512-byte
// stride of the record were swapped for the update sequence number when it was written; the
// saved values sit in the update sequence array at offset 48.
#pragma once

#include <cstddef>
#include <span>

namespace keltra::ntfs {

inline constexpr size_t kFixupStride = 512;
inline constexpr size_t kUpdateSequenceOffset = 48;

// Puts the saved values back into the record in place. NTFS writes fixups every 512 bytes
// whatever the sector size, so a 4,096-byte record has eight of them. The sector-end values
// are not compared with the update sequence number: a torn record is still read as it stands.
// A record shorter than one stride is left as it is.
void ApplyFixups(std::span<std::byte> record);

}  // namespace keltra::ntfs
