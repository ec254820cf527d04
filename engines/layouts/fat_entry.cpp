#include "engines/layouts/fat_entry.h"

#include <algorithm>
#include <cstring>

namespace keltra {
namespace {

constexpr bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr int DaysInMonth(int y, int m) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
constexpr int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr int64_t kDaysFrom1601To1970 = 134774;
constexpr uint64_t kTicksPerSecond = 10'000'000;

constexpr uint64_t FileTimeOf(int y, int mo, int d, int h, int mi, int s, uint32_t ms) {
    const int64_t days = DaysFromCivil(y, mo, d) + kDaysFrom1601To1970;
    const int64_t seconds = days * 86400 + h * 3600 + mi * 60 + s;
    return static_cast<uint64_t>(seconds) * kTicksPerSecond + uint64_t{ms} * 10'000;
}

// The range a live entry's times must lie in to be believed.
constexpr uint64_t kEarliestPlausible = FileTimeOf(1990, 1, 1, 0, 0, 0, 0);
constexpr uint64_t kLatestPlausible = FileTimeOf(2050, 1, 1, 0, 0, 0, 0);

bool InPlausibleRange(std::optional<uint64_t> t) {
    return t && *t >= kEarliestPlausible && *t <= kLatestPlausible;
}

// The extra milliseconds of a creation time: the fine-resolution byte counts 10 ms units up to
// 1.99 s; larger values are not a time and are ignored.
uint32_t FineMilliseconds(uint8_t fine) {
    return fine <= 199 ? fine * 10u : 0;
}

std::optional<uint64_t> CreationFileTime(const FatEntryView& e) {
    return DosDateTimeToFileTime(e.CreationDate(), e.CreationTime(),
                                 FineMilliseconds(e.CreationFine()));
}

// Creation and access stamps are optional in FAT: writers that keep none (DOS, the label entry
// of mkfs) leave them 0, which is "not recorded", not a bad time.
bool CreationPlausible(const FatEntryView& e) {
    if (e.CreationDate() == 0 && e.CreationTime() == 0) return true;
    return InPlausibleRange(CreationFileTime(e));
}
bool AccessPlausible(const FatEntryView& e) {
    return e.AccessDate() == 0 || InPlausibleRange(DosDateTimeToFileTime(e.AccessDate(), 0));
}

// The short-entry rules of the directory-sector test (beyond the plausibility test).
bool ShortEntryLooksReal(const FatEntryView& e) {
    const bool noCreation = e.CreationDate() == 0 && e.CreationTime() == 0;
    if (!e.IsVolumeLabel() && !noCreation && !CreationFileTime(e)) return false;
    const auto name = e.Bytes();
    auto partOk = [&](size_t from, size_t to) {
        bool spaceSeen = false;
        for (size_t i = from; i < to; ++i) {
            const uint8_t c = Byte(name, i);
            if (c < 0x20 || c == '.') return false;
            if (spaceSeen && c != ' ') return false;
            spaceSeen = spaceSeen || c == ' ';
        }
        return true;
    };
    // The deletion mark replaces byte 0, which is then not looked at for the rules below.
    const size_t first = e.IsDeleted() ? 1 : 0;
    if (!partOk(first, 8) || !partOk(8, 11)) return false;
    // Bytes of 0x80 and above come in double-byte pairs up to byte 9.
    for (size_t i = first; i <= 9; ++i) {
        if (Byte(name, i) < 0x80) continue;
        if (Byte(name, i + 1) < 0x80) return false;
        ++i;
    }
    return true;
}

}  // namespace

std::optional<uint64_t> DosDateTimeToFileTime(uint16_t date, uint16_t time, uint32_t extraMs) {
    const int year = 1980 + (date >> 9);
    const int month = (date >> 5) & 0x0F;
    const int day = date & 0x1F;
    const int hour = time >> 11;
    const int minute = (time >> 5) & 0x3F;
    const int second = 2 * (time & 0x1F);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return FileTimeOf(year, month, day, hour, minute, second, 0) + uint64_t{extraMs} * 10'000;
}

FatEntryTimes ReadFatEntryTimes(const FatEntryView& e) {
    FatEntryTimes t;
    t.created = CreationFileTime(e).value_or(0);
    t.accessed = DosDateTimeToFileTime(e.AccessDate(), 0).value_or(0);
    t.modified = DosDateTimeToFileTime(e.ModifiedDate(), e.ModifiedTime()).value_or(0);
    return t;
}

bool HasBadShortNameChar(std::span<const std::byte> name11) {
    static constexpr char kBad[] = "\"*/:<>?\\|.";
    for (size_t i = 0; i < 11 && i < name11.size(); ++i) {
        const uint8_t c = Byte(name11, i);
        if (c < 0x20 || (c >= 'a' && c <= 'z')) return true;
        if (c < 0x80 && std::memchr(kBad, c, sizeof(kBad) - 1) != nullptr) return true;
    }
    return false;
}

bool IsDotPair(std::span<const std::byte> entries) {
    if (entries.size() < 2 * kFatEntryBytes) return false;
    const FatEntryView dot(entries);
    const FatEntryView dotdot(entries.subspan(kFatEntryBytes));
    return dot.First() == '.' && (dot.Attr() & kFatAttrDirectory) != 0 && dot.Size() == 0 &&
           dotdot.First() == '.' && Byte(entries, kFatEntryBytes + 1) == '.' &&
           (dotdot.Attr() & kFatAttrDirectory) != 0 && dotdot.Size() == 0;
}

bool IsPlausibleFatEntry(std::span<const std::byte> entries) {
    if (entries.size() < kFatEntryBytes) return false;
    if (IsDotPair(entries)) return true;
    const FatEntryView e(entries);
    const uint8_t attr = e.Attr();
    // The attribute byte alone rules out most bytes that are no entry: tested first.
    if ((attr & 0xC0) != 0) return false;
    const bool longName = attr == kFatAttrLongName;
    if (attr != kFatAttrVolumeLabel && !longName &&
        (attr & (kFatAttrDirectory | kFatAttrArchive)) == 0) {
        return false;
    }
    const bool folder = (attr & kFatAttrDirectory) != 0;
    const bool deleted = e.IsDeleted();

    if (!folder && e.Size() == 0 && (e.HighCluster() != 0 || e.LowCluster() != 0)) return false;
    if (attr == kFatAttrVolumeLabel) {
        if (e.Size() != 0 || e.HighCluster() != 0 || e.LowCluster() != 0) return false;
    } else if ((attr & kFatAttrVolumeLabel) != 0 && attr != kFatAttrLongName) {
        return false;
    }
    if (folder && (attr & kFatAttrReadOnly) != 0) return false;

    if (longName && !deleted) {
        if ((e.First() & ~0x40) > 18) return false;
    } else if (!deleted && !folder) {
        // The name first: it is cheaper than the times.
        if (attr != kFatAttrVolumeLabel && HasBadShortNameChar(e.ShortName())) return false;
        if (!CreationPlausible(e) || !AccessPlausible(e) ||
            !InPlausibleRange(DosDateTimeToFileTime(e.ModifiedDate(), e.ModifiedTime()))) {
            return false;
        }
    } else if (!longName && attr != kFatAttrVolumeLabel) {
        if (HasBadShortNameChar(e.ShortName())) return false;
    }

    if (folder && !deleted && e.Size() != 0) return false;
    return !(longName && e.LowCluster() != 0);
}

uint8_t LfnChecksum(std::span<const std::byte> name11) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 11; ++i) {
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + Byte(name11, i));
    }
    return sum;
}

bool LooksLikeFatDirSector(std::span<const std::byte> sector) {
    const size_t count = sector.size() / kFatEntryBytes;
    if (count == 0) return false;
    auto entryAt = [&](size_t i) { return sector.subspan(i * kFatEntryBytes); };
    size_t i = 0;
    while (i < count) {
        const FatEntryView e(entryAt(i));
        if (e.First() == 0) {
            if (i == 0) return false;
            const auto rest = sector.subspan(i * kFatEntryBytes);
            return std::all_of(rest.begin(), rest.end(),
                               [](std::byte b) { return b == std::byte{0}; });
        }
        if (!IsPlausibleFatEntry(entryAt(i))) return false;
        // A 16-byte pattern repeated over the entry is fill, not an entry.
        if (std::memcmp(e.Bytes().data() + 1, e.Bytes().data() + 17, 14) == 0) return false;
        if (e.IsLongName()) {
            // The run of long-name entries shares one checksum; the short entry after it must
            // match it unless it is deleted. A run cut by the sector end is accepted.
            const uint8_t checksum = e.LfnChecksumByte();
            size_t j = i + 1;
            size_t more = 0;
            for (; j < count; ++j) {
                const FatEntryView n(entryAt(j));
                if (!IsPlausibleFatEntry(entryAt(j))) return false;
                if (!n.IsLongName()) break;
                if (++more > 18 || n.LfnChecksumByte() != checksum) return false;
                if (std::memcmp(n.Bytes().data() + 1, n.Bytes().data() + 17, 14) == 0) return false;
            }
            if (j == count) return true;
            const FatEntryView shortEntry(entryAt(j));
            if (!shortEntry.IsDeleted() && LfnChecksum(shortEntry.ShortName()) != checksum)
                return false;
            i = j;
            continue;
        }
        if (!ShortEntryLooksReal(e)) return false;
        ++i;
    }
    return true;
}

}  // namespace keltra
