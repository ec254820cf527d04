#include "engines/fat/fat_names.h"

#include <algorithm>

#include "platform/text.h"

namespace keltra {
namespace {

// Code page 437, bytes 0x80-0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Case flags of a short entry (byte 12): the base, or the extension, is shown in lower case.
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;

// Offsets of the 13 UTF-16 units inside a long-name entry.
constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

void AppendShortPart(std::u16string& out, const FatEntryView& entry, size_t from, size_t to,
                     bool lower) {
    size_t end = to;
    while (end > from && Byte(entry.Bytes(), end - 1) == ' ') --end;
    for (size_t i = from; i < end; ++i) {
        const uint8_t c = Byte(entry.Bytes(), i);
        if (i == 0 && c == kFatDeletedMark) {
            out += u'!';
        } else if (c >= 0x80) {
            out += kCp437High[c - 0x80];
        } else {
            out += static_cast<char16_t>(lower && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
    }
}

}  // namespace

bool LongNameGatherer::Add(const FatEntryView& entry) {
    if (entries_ == kMaxEntries) return false;
    sequence_[entries_] = entry.First();
    checksum_[entries_] = entry.LfnChecksumByte();
    ++entries_;
    const size_t at = units_.size() - entries_ * kUnitsPerEntry;
    for (size_t i = 0; i < kUnitsPerEntry; ++i) {
        units_[at + i] = static_cast<char16_t>(Le16(entry.Bytes(), kUnitOffsets[i]));
    }
    return true;
}

std::string LongNameGatherer::Name() const {
    const std::u16string_view gathered(units_.data() + units_.size() - entries_ * kUnitsPerEntry,
                                       entries_ * kUnitsPerEntry);
    return Utf16ToUtf8(gathered.substr(0, gathered.find(u'\0')));
}

bool LongNameGatherer::BelongsTo(const FatEntryView& shortEntry) const {
    if (entries_ == 0) return false;
    constexpr uint8_t kLastPart = 0x40;
    for (size_t i = 0; i < entries_; ++i) {
        if (checksum_[i] != checksum_[0]) return false;
        const uint8_t sequence = sequence_[i];
        if (sequence == kFatDeletedMark) continue;
        const size_t expected = entries_ - i;  // 1 next to the short entry
        const bool lastPart = (sequence & kLastPart) != 0;
        if ((sequence & ~kLastPart) != expected || lastPart != (i == 0)) return false;
    }
    std::array<std::byte, 11> name{};
    std::copy_n(shortEntry.ShortName().begin(), 11, name.begin());
    if (!shortEntry.IsDeleted()) return LfnChecksum(name) == checksum_[0];
    // The checksum takes each first byte to a different value: find the one that was there.
    // Most bytes would give some checksum a short name could have, so a stale run left by
    // another deleted file would often pass: the byte must also be the one a short name made
    // from this long name begins with.
    for (int first = 0x20; first <= 0xFF; ++first) {
        name[0] = static_cast<std::byte>(first);
        if (LfnChecksum(name) != checksum_[0]) continue;
        return first != kFatDeletedMark && !HasBadShortNameChar(std::span(name).first(1)) &&
               CanBeginShortName(static_cast<uint8_t>(first));
    }
    return false;
}

bool LongNameGatherer::CanBeginShortName(uint8_t first) const {
    // The first character that is neither a blank nor a dot: short names leave those out.
    const size_t from = units_.size() - entries_ * kUnitsPerEntry;
    char16_t c = 0;
    for (size_t i = from; i < units_.size() && units_[i] != 0; ++i) {
        if (units_[i] != u' ' && units_[i] != u'.') {
            c = units_[i];
            break;
        }
    }
    if (c == 0) return false;
    // Beyond ASCII the code page, or the system's own scheme for characters it lacks, decides.
    if (c >= 0x80) return true;
    if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 'a' + 'A');
    // Characters a long name may hold and a short name may not become "_".
    if (std::u16string_view(u"+,;=[]").find(c) != std::u16string_view::npos) c = u'_';
    return first == c;
}

std::string ShortEntryName(const FatEntryView& entry, bool folder) {
    std::u16string name;
    const uint8_t caseFlags = Byte(entry.Bytes(), 12);
    AppendShortPart(name, entry, 0, 8, (caseFlags & kLowerCaseBase) != 0);
    if (!folder && Byte(entry.Bytes(), 8) != ' ') {
        name += u'.';
        AppendShortPart(name, entry, 8, 11, (caseFlags & kLowerCaseExtension) != 0);
    }
    return Utf16ToUtf8(name);
}

std::string EntryName(const LongNameGatherer& longName, const FatEntryView& entry, bool folder) {
    if (longName.BelongsTo(entry)) {
        std::string name = longName.Name();
        if (!name.empty()) return name;
    }
    return ShortEntryName(entry, folder);
}

}  // namespace keltra
