// exFAT directory entries: the entry types, and the parsing of a file's entry set (a file
// entry, its stream extension and its file name entries) into what the scan needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace keltra {

inline constexpr size_t kExFatEntryBytes = 32;
// Entry types with the in-use bit (0x80) set; a deleted entry keeps its type with the bit clear.
inline constexpr uint8_t kExFatEndOfDirectory = 0x00;
inline constexpr uint8_t kExFatInUse = 0x80;
inline constexpr uint8_t kExFatBitmapEntry = 0x81;
inline constexpr uint8_t kExFatUpcaseEntry = 0x82;
inline constexpr uint8_t kExFatFileEntry = 0x85;
inline constexpr uint8_t kExFatStreamEntry = 0xC0;
inline constexpr uint8_t kExFatNameEntry = 0xC1;
inline constexpr uint16_t kExFatAttrDirectory = 0x10;
// Characters one file name entry holds; names are at most 255 characters.
inline constexpr size_t kExFatNameEntryChars = 15;
// A file entry is followed by 2 … 18 secondary entries.
inline constexpr uint32_t kExFatMaxSetEntries = 19;

// Where a file's data lies, as its stream extension says.
struct ExFatStream {
    uint32_t firstCluster = 0;
    bool noFatChain = false;   // the clusters follow one another; the FAT is not used
    uint64_t validLength = 0;  // bytes written; the rest up to `length` reads as zeros
    uint64_t length = 0;       // data length
};

struct ExFatEntrySet {
    bool deleted = false;     // the file entry's in-use bit is clear
    uint32_t entryCount = 0;  // 1 + the secondary count: the entries the set spans
    uint16_t attributes = 0;
    uint64_t created = 0;  // FILETIMEs, 0 where the stored timestamp is impossible
    uint64_t modified = 0;
    uint64_t accessed = 0;
    ExFatStream stream;
    uint16_t nameHash = 0;  // as stored in the stream extension
    std::u16string name;
    bool checksumMatches = false;  // the set checksum, taken with the in-use bits set

    bool IsFolder() const { return (attributes & kExFatAttrDirectory) != 0; }
};

// The checksum of an entry set of `entries.size() / 32` entries, its own field (bytes 2-3)
// left out. With `asInUse` every entry's type is taken with its in-use bit set, as it was when
// the checksum was written before a deletion cleared the bits.
uint16_t ExFatSetChecksum(std::span<const std::byte> entries, bool asInUse);

// An exFAT timestamp (DOS time in the low 16 bits, DOS date in the high 16), with the 10 ms
// increment (0-199) and the UTC offset byte (bit 7: valid; bits 0-6: signed quarter hours),
// as a FILETIME: in UTC where the offset is valid, else as the local calendar values.
// Nothing for an impossible date or time.
std::optional<uint64_t> ExFatTimeToFileTime(uint32_t timestamp, uint8_t tenMs, uint8_t utcOffset);

// The entry set that starts at the file entry (type 0x85, or 0x05 when deleted) at the start
// of `entries`. Nothing when the bytes are no complete set: not a file entry, a secondary count
// outside 2-18, fewer bytes than the set spans, a missing stream extension or name entry, an
// entry whose in-use bit differs from the file entry's, a name length of 0 or one the name
// entries cannot hold. The checksum is only reported (`checksumMatches`).
std::optional<ExFatEntrySet> ParseExFatEntrySet(std::span<const std::byte> entries);

}  // namespace keltra
