// Names of FAT directory entries: long names gathered from the long-name entries before a short
// entry, and short 8.3 names.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "engines/layouts/fat_entry.h"

namespace keltra {

// Long-name entries come last part first; each one's 13 UTF-16 units go in front of those
// gathered before it. A deleted run is gathered like a live one; whether the run belongs to the
// short entry after it is BelongsTo's question.
class LongNameGatherer {
  public:
    static constexpr size_t kMaxEntries = 19;

    // Adds one long-name entry; false (nothing added) when kMaxEntries are gathered already.
    bool Add(const FatEntryView& entry);
    bool Empty() const { return entries_ == 0; }
    void Clear() { entries_ = 0; }
    // The gathered units up to the first 0 unit, as UTF-8; empty when nothing is gathered.
    std::string Name() const;
    // Whether the gathered run names `shortEntry`: every entry carries the short name's
    // checksum, and the sequence numbers count down to 1 at the entry next to the short one,
    // the farthest entry marked as the last part. Deletion overwrites a sequence number (it is
    // then not checked) and a short name's first byte: a deleted short entry matches when some
    // first byte that the short-name test allows gives the checksum, and a short name made
    // from the gathered name begins with that byte (its first character that is not a blank
    // or a dot, in upper case; any byte where that character lies beyond ASCII).
    bool BelongsTo(const FatEntryView& shortEntry) const;

  private:
    bool CanBeginShortName(uint8_t first) const;

    static constexpr size_t kUnitsPerEntry = 13;
    std::array<char16_t, kMaxEntries * kUnitsPerEntry> units_{};
    // Sequence and checksum bytes, in the order gathered (farthest from the short entry first).
    std::array<uint8_t, kMaxEntries> sequence_{};
    std::array<uint8_t, kMaxEntries> checksum_{};
    size_t entries_ = 0;
};

// The 8.3 name of a short entry: the base without trailing blanks, and for a file "." and the
// extension unless byte 8 is a blank (a folder's extension bytes are not used). Each part is in
// lower case when the entry's case flags (byte 12: 0x08 base, 0x10 extension) say so, as the
// systems that wrote them show them. Bytes of 0x80 and above are read in code page 437; a
// leading 0xE5 deletion mark becomes "!".
std::string ShortEntryName(const FatEntryView& entry, bool folder);

// The name of a short entry: the gathered long name when it belongs to the entry, else the
// short name.
std::string EntryName(const LongNameGatherer& longName, const FatEntryView& entry, bool folder);

}  // namespace keltra
