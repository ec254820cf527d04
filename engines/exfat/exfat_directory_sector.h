// Recognising exFAT directory data in a sector met anywhere on a disk: every 32-byte entry of
// the sector must be of a type a folder holds, and the entry sets that start in it must carry
// their own checksum. No volume is needed: this is how the deep exFAT search finds folders whose
// volume's boot region, FAT or parent folders are gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engines/exfat/exfat_entry_set.h"

namespace keltra {

// Bytes an entry set that starts in a sector may need after it: 18 more entries.
inline constexpr size_t kExFatSetTailBytes = (kExFatMaxSetEntries - 1) * kExFatEntryBytes;

// An entry set that starts in the sector, with its checksum verified.
struct ExFatSetSighting {
    uint32_t offset = 0;  // bytes from the sector's start to its file entry
    ExFatEntrySet set;
};

struct ExFatDirectorySector {
    // Every entry of the sector is of a type folders hold (up to an end-of-directory entry after
    // which only end entries follow), and at least one verified set, a system entry (allocation
    // bitmap, up-case table, volume label) or a set continued from the sector before is there.
    bool directory = false;
    bool startsWithPrimary = false;  // the first entry starts a set (a folder's first sector does)
    bool continuesSet = false;       // the first entry is a secondary one of a set begun before
    bool endOfDirectory = false;     // an end-of-directory entry ends the folder in this sector
    bool rootEntries = false;        // allocation bitmap or up-case table entries: a root folder
    std::optional<ExFatStream> upcase;  // the up-case table the root folder names
    uint32_t upcaseChecksum = 0;        // the table's checksum, as its entry keeps it
    std::vector<ExFatSetSighting> sets;
};

// The cheap first test of the deep pass: the sector's first byte is the type of an entry a
// folder can start a sector with. Most sectors of file data fail it.
bool MayStartExFatDirectorySector(std::span<const std::byte> sector);

// Whether every entry of the sector is of a type a folder holds, up to an end-of-directory entry
// after which only end entries follow (the first part of ReadExFatDirectorySector's test).
bool HasOnlyExFatEntryTypes(std::span<const std::byte> sector);

// Reads one sector of `sectorBytes` at the start of `bytes`; the bytes after it (up to
// kExFatSetTailBytes are used) complete sets that run past the sector's end. A set that needs
// bytes `bytes` does not hold is not reported.
ExFatDirectorySector ReadExFatDirectorySector(std::span<const std::byte> bytes,
                                              size_t sectorBytes);

// Whether a set whose checksum matched also describes a file a volume can hold: a name without
// the characters exFAT forbids, a valid length not above the data length, a folder with a first
// cluster and a data length in whole entries, and a first cluster only where there is data.
bool IsSoundExFatSet(const ExFatEntrySet& set);

}  // namespace keltra
