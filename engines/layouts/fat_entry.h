// FAT directory entries: field access, the plausibility tests shared by the quick FAT scan, the
// deep FAT directory search and the signature code, and the DOS date/time conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/little_endian.h"

namespace keltra {

inline constexpr size_t kFatEntryBytes = 32;

inline constexpr uint8_t kFatAttrReadOnly = 0x01;
inline constexpr uint8_t kFatAttrVolumeLabel = 0x08;
inline constexpr uint8_t kFatAttrDirectory = 0x10;
inline constexpr uint8_t kFatAttrArchive = 0x20;
inline constexpr uint8_t kFatAttrLongName = 0x0F;
inline constexpr uint8_t kFatDeletedMark = 0xE5;

// Read access to one 32-byte directory entry; `bytes` must hold at least 32 bytes.
class FatEntryView {
  public:
    explicit FatEntryView(std::span<const std::byte> bytes) : b_(bytes.first(kFatEntryBytes)) {}

    std::span<const std::byte> Bytes() const { return b_; }
    std::span<const std::byte> ShortName() const { return b_.first(11); }  // base 0-7, ext 8-10
    uint8_t First() const { return Byte(b_, 0); }
    uint8_t Attr() const { return Byte(b_, 11); }
    uint8_t CreationFine() const { return Byte(b_, 13); }
    uint16_t CreationTime() const { return Le16(b_, 14); }
    uint16_t CreationDate() const { return Le16(b_, 16); }
    uint16_t AccessDate() const { return Le16(b_, 18); }
    uint16_t HighCluster() const { return Le16(b_, 20); }
    uint16_t ModifiedTime() const { return Le16(b_, 22); }
    uint16_t ModifiedDate() const { return Le16(b_, 24); }
    uint16_t LowCluster() const { return Le16(b_, 26); }
    uint32_t Size() const { return Le32(b_, 28); }
    uint32_t Cluster() const { return (uint32_t{HighCluster()} << 16) | LowCluster(); }
    uint8_t LfnChecksumByte() const { return Byte(b_, 13); }

    bool IsDeleted() const { return First() == kFatDeletedMark; }
    bool IsLongName() const { return Attr() == kFatAttrLongName; }
    bool IsVolumeLabel() const { return Attr() == kFatAttrVolumeLabel; }
    bool IsFolder() const { return !IsLongName() && (Attr() & kFatAttrDirectory) != 0; }
    // The names of a folder's own two first entries.
    bool IsDotName() const { return BytesEqual(b_, 0, ".          "); }
    bool IsDotDotName() const { return BytesEqual(b_, 0, "..         "); }

  private:
    std::span<const std::byte> b_;
};

// The three times of an entry as FILETIMEs; 0 where the stored date or time is impossible.
struct FatEntryTimes {
    uint64_t created = 0;
    uint64_t accessed = 0;
    uint64_t modified = 0;
};

// A DOS date (year-1980 in bits 9-15, month 5-8, day 0-4) and time (hour 11-15, minute 5-10,
// seconds/2 0-4) plus `extraMs` milliseconds, as a FILETIME taken from the local calendar values
// without any time-zone shift. Nothing for an impossible date or time (month 0, 30 February,
// hour 24, ...).
std::optional<uint64_t> DosDateTimeToFileTime(uint16_t date, uint16_t time, uint32_t extraMs = 0);

// Creation (with the fine-resolution byte: 10 ms units, up to 199), last access (date only) and
// modification times of an entry.
FatEntryTimes ReadFatEntryTimes(const FatEntryView& entry);

// The 11 short-name bytes hold a byte below 0x20, a lower-case ASCII letter or one of
// " * / : < > ? \ | . (bytes of 0x80 and above, the 0xE5 deletion mark among them, pass).
bool HasBadShortNameChar(std::span<const std::byte> name11);

// `entries` starts with a "." folder entry of size 0 that is followed by a ".." folder entry of
// size 0. Needs 64 bytes; fewer give false.
bool IsDotPair(std::span<const std::byte> entries);

// Whether the entry at the start of `entries` can be a real directory entry. The 32 bytes after
// it, when present, are the next entry (a "." entry followed by ".." passes at once).
bool IsPlausibleFatEntry(std::span<const std::byte> entries);

// The long-name checksum of the 11 short-name bytes.
uint8_t LfnChecksum(std::span<const std::byte> name11);

// Whether one sector (a whole number of 32-byte entries) is full of directory entries, up to its
// end or up to terminating zero bytes.
bool LooksLikeFatDirSector(std::span<const std::byte> sector);

}  // namespace keltra
