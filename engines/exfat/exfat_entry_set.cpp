#include "engines/exfat/exfat_entry_set.h"

#include "engines/layouts/fat_entry.h"
#include "platform/little_endian.h"

namespace keltra {

namespace {

// 10^7 FILETIME units per second.
constexpr int64_t kTicksPerSecond = 10'000'000;

bool SameUse(uint8_t type, bool deleted) {
    return ((type & kExFatInUse) == 0) == deleted;
}

}  // namespace

uint16_t ExFatSetChecksum(std::span<const std::byte> entries, bool asInUse) {
    uint16_t sum = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == 2 || i == 3) continue;
        uint8_t byte = Byte(entries, i);
        if (asInUse && i % kExFatEntryBytes == 0) byte |= kExFatInUse;
        sum = static_cast<uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

std::optional<uint64_t> ExFatTimeToFileTime(uint32_t timestamp, uint8_t tenMs, uint8_t utcOffset) {
    const uint32_t extraMs = tenMs <= 199 ? uint32_t{tenMs} * 10 : 0;
    const auto local = DosDateTimeToFileTime(static_cast<uint16_t>(timestamp >> 16),
                                             static_cast<uint16_t>(timestamp & 0xFFFF), extraMs);
    if (!local || (utcOffset & 0x80) == 0) return local;
    // A signed 7-bit count of quarter hours east of UTC.
    const int quarters = (utcOffset & 0x40) != 0 ? static_cast<int>(utcOffset & 0x7F) - 128
                                                 : static_cast<int>(utcOffset & 0x7F);
    const int64_t shift = int64_t{quarters} * 15 * 60 * kTicksPerSecond;
    const int64_t utc = static_cast<int64_t>(*local) - shift;
    if (utc < 0) return std::nullopt;
    return static_cast<uint64_t>(utc);
}

std::optional<ExFatEntrySet> ParseExFatEntrySet(std::span<const std::byte> entries) {
    if (entries.size() < kExFatEntryBytes) return std::nullopt;
    const uint8_t type = Byte(entries, 0);
    if ((type | kExFatInUse) != kExFatFileEntry) return std::nullopt;
    ExFatEntrySet set;
    set.deleted = (type & kExFatInUse) == 0;
    const uint32_t secondary = Byte(entries, 1);
    if (secondary < 2 || secondary + 1 > kExFatMaxSetEntries) return std::nullopt;
    set.entryCount = secondary + 1;
    const size_t bytes = size_t{set.entryCount} * kExFatEntryBytes;
    if (entries.size() < bytes) return std::nullopt;
    const auto all = entries.first(bytes);
    const auto entry = [&all](uint32_t i) {
        return all.subspan(i * kExFatEntryBytes, kExFatEntryBytes);
    };

    const auto stream = entry(1);
    if ((Byte(stream, 0) | kExFatInUse) != kExFatStreamEntry ||
        !SameUse(Byte(stream, 0), set.deleted)) {
        return std::nullopt;
    }
    const uint8_t nameLength = Byte(stream, 3);
    const uint32_t nameEntries =
        static_cast<uint32_t>((nameLength + kExFatNameEntryChars - 1) / kExFatNameEntryChars);
    if (nameLength == 0 || nameEntries > secondary - 1) return std::nullopt;
    set.stream.noFatChain = (Byte(stream, 1) & 0x02) != 0;
    set.nameHash = Le16(stream, 4);
    set.stream.validLength = Le64(stream, 8);
    set.stream.firstCluster = Le32(stream, 20);
    set.stream.length = Le64(stream, 24);

    set.name.reserve(nameLength);
    for (uint32_t i = 0; i < nameEntries; ++i) {
        const auto name = entry(2 + i);
        if ((Byte(name, 0) | kExFatInUse) != kExFatNameEntry ||
            !SameUse(Byte(name, 0), set.deleted)) {
            return std::nullopt;
        }
        for (size_t c = 0; c < kExFatNameEntryChars && set.name.size() < nameLength; ++c) {
            set.name.push_back(static_cast<char16_t>(Le16(name, 2 + 2 * c)));
        }
    }
    // Further secondary entries (vendor extensions) belong to the set as long as they are
    // secondary entries of the same state.
    for (uint32_t i = 2 + nameEntries; i < set.entryCount; ++i) {
        const uint8_t t = Byte(entry(i), 0);
        if ((t & 0x40) == 0 || !SameUse(t, set.deleted)) return std::nullopt;
    }

    const auto file = entry(0);
    set.attributes = Le16(file, 4);
    set.created = ExFatTimeToFileTime(Le32(file, 8), Byte(file, 20), Byte(file, 22)).value_or(0);
    set.modified = ExFatTimeToFileTime(Le32(file, 12), Byte(file, 21), Byte(file, 23)).value_or(0);
    set.accessed = ExFatTimeToFileTime(Le32(file, 16), 0, Byte(file, 24)).value_or(0);
    set.checksumMatches = ExFatSetChecksum(all, true) == Le16(file, 2) ||
                          ExFatSetChecksum(all, false) == Le16(file, 2);
    return set;
}

}  // namespace keltra
