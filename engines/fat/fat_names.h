// Names of FAT directory entries: long names gathered from the long-name entries before a short
// entry, and short 8.3 names.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "engines/fat/fat_entry.h"

namespace keltra {

// Long-name entries come last part first; each one's 13 UTF-16 units go in front of those
// gathered before it. No checksum or sequence check: a deleted run is gathered like a live one.
class LongNameGatherer {
  public:
    static constexpr size_t kMaxEntries = 19;

    // Adds one long-name entry; false (nothing added) when kMaxEntries are gathered already.
    bool Add(const FatEntryView& entry);
    bool Empty() const { return entries_ == 0; }
    void Clear() { entries_ = 0; }
    // The gathered units up to the first 0 unit, as UTF-8; empty when nothing is gathered.
    std::string Name() const;

  private:
    static constexpr size_t kUnitsPerEntry = 13;
    std::array<char16_t, kMaxEntries * kUnitsPerEntry> units_{};
    size_t entries_ = 0;
};

// The 8.3 name of a short entry: the base without trailing blanks, and for a file "." and the
// extension unless byte 8 is a blank (a folder's extension bytes are not used). Each part is in
// lower case when the entry's case flags (byte 12: 0x08 base, 0x10 extension) say so, as the
// systems that wrote them show them. Bytes of 0x80 and above are read in code page 437; a
// leading 0xE5 deletion mark becomes "!".
std::string ShortEntryName(const FatEntryView& entry, bool folder);

// The name of a short entry: the gathered long name when there is one, else the short name.
std::string EntryName(const LongNameGatherer& longName, const FatEntryView& entry, bool folder);

}  // namespace keltra
