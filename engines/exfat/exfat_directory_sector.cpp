#include "engines/exfat/exfat_directory_sector.h"

#include <array>

#include "platform/little_endian.h"

namespace keltra {

namespace {

constexpr uint8_t kLabelEntry = 0x83;
constexpr uint8_t kNoLabelEntry = 0x03;
// The smallest cluster a folder can span.
constexpr uint64_t kSmallestCluster = 512;

enum TypeKind : uint8_t { kForeign = 0, kPrimary, kSecondary, kSystem };

// What each entry type byte is in a folder: primary entries (file, volume GUID, padding, and
// their deleted forms), secondary entries (stream extension, file name, vendor entries, in use
// or deleted), system entries of a root folder (allocation bitmap, up-case table, volume label).
constexpr std::array<TypeKind, 256> MakeKinds() {
    std::array<TypeKind, 256> kinds{};
    for (const uint8_t t : {0x85, 0x05, 0xA0, 0xA1, 0xA2, 0x20, 0x21, 0x22}) kinds[t] = kPrimary;
    for (const uint8_t t : {0xC0, 0x40, 0xC1, 0x41, 0xE0, 0x60, 0xE1, 0x61}) kinds[t] = kSecondary;
    for (const uint8_t t : {uint8_t{0x81}, uint8_t{0x82}, kLabelEntry, kNoLabelEntry}) kinds[t] = kSystem;
    return kinds;
}
constexpr std::array<TypeKind, 256> kKinds = MakeKinds();

bool ForbiddenNameChar(char16_t c) {
    return c < 0x20 || c == u'"' || c == u'*' || c == u'/' || c == u':' || c == u'<' ||
           c == u'>' || c == u'?' || c == u'\\' || c == u'|';
}

// A system entry whose fields make sense: a bitmap or up-case table with a first cluster and a
// length, a label of at most 11 characters.
bool SoundSystemEntry(std::span<const std::byte> e) {
    const uint8_t type = Byte(e, 0);
    if (type == kLabelEntry || type == kNoLabelEntry) return Byte(e, 1) <= 11;
    return Le32(e, 20) >= 2 && Le64(e, 24) != 0;
}

}  // namespace

bool MayStartExFatDirectorySector(std::span<const std::byte> sector) {
    return !sector.empty() && kKinds[Byte(sector, 0)] != kForeign;
}

bool IsSoundExFatSet(const ExFatEntrySet& set) {
    for (const char16_t c : set.name) {
        if (ForbiddenNameChar(c)) return false;
    }
    if (set.name == u"." || set.name == u"..") return false;
    const ExFatStream& s = set.stream;
    if (s.validLength > s.length) return false;
    if (set.IsFolder()) {
        return s.firstCluster >= 2 && s.length != 0 && s.length % kSmallestCluster == 0 &&
               s.validLength == s.length;
    }
    // An empty file has no cluster; a file with data has one.
    return s.length == 0 ? true : s.firstCluster >= 2;
}

bool HasOnlyExFatEntryTypes(std::span<const std::byte> sector) {
    if (!MayStartExFatDirectorySector(sector)) return false;
    const size_t entries = sector.size() / kExFatEntryBytes;
    bool ended = false;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t type = Byte(sector, i * kExFatEntryBytes);
        if (ended || type == kExFatEndOfDirectory) {
            if (type != kExFatEndOfDirectory) return false;
            ended = true;
            continue;
        }
        const TypeKind kind = kKinds[type];
        if (kind == kForeign) return false;
        if (kind == kSystem &&
            !SoundSystemEntry(sector.subspan(i * kExFatEntryBytes, kExFatEntryBytes))) {
            return false;
        }
    }
    return true;
}

ExFatDirectorySector ReadExFatDirectorySector(std::span<const std::byte> bytes,
                                              size_t sectorBytes) {
    ExFatDirectorySector out;
    if (sectorBytes < kExFatEntryBytes || bytes.size() < sectorBytes) return out;
    const auto sector = bytes.first(sectorBytes);
    const size_t entries = sectorBytes / kExFatEntryBytes;
    if (!HasOnlyExFatEntryTypes(sector)) return out;
    bool anyPrimary = false;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t type = Byte(sector, i * kExFatEntryBytes);
        if (type == kExFatEndOfDirectory) {
            out.endOfDirectory = true;
            break;
        }
        anyPrimary = anyPrimary || kKinds[type] != kSecondary;
    }
    const TypeKind first = kKinds[Byte(sector, 0)];
    out.startsWithPrimary = first == kPrimary || first == kSystem;
    out.continuesSet = first == kSecondary;

    const auto tail = bytes.first(std::min(bytes.size(), sectorBytes + kExFatSetTailBytes));
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = i * kExFatEntryBytes;
        const uint8_t type = Byte(sector, at);
        if (type == kExFatEndOfDirectory) break;
        if (type == kExFatBitmapEntry || type == kExFatUpcaseEntry) {
            out.rootEntries = true;
            if (type == kExFatUpcaseEntry && !out.upcase) {
                ExFatStream table;
                table.firstCluster = Le32(sector, at + 20);
                table.length = Le64(sector, at + 24);
                table.validLength = table.length;
                out.upcase = table;
                out.upcaseChecksum = Le32(sector, at + 4);
            }
            continue;
        }
        if ((type | kExFatInUse) != kExFatFileEntry) continue;
        std::optional<ExFatEntrySet> set = ParseExFatEntrySet(tail.subspan(at));
        if (!set || !set->checksumMatches || !IsSoundExFatSet(*set)) continue;
        out.sets.push_back({static_cast<uint32_t>(at), std::move(*set)});
    }
    // Entries of the right types alone are not enough: something in the sector must be proven.
    out.directory = !out.sets.empty() || out.rootEntries ||
                    (anyPrimary && first == kSystem) || out.continuesSet;
    if (!out.directory) out = ExFatDirectorySector{};
    return out;
}

}  // namespace keltra
