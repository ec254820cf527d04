#include "storage/gpt_table.h"

#include <fmt/format.h>
#include <zlib.h>

#include <array>

#include "platform/little_endian.h"
#include "storage/sector_source.h"

namespace keltra {

namespace {

constexpr size_t kHeaderCrcAt = 16;
constexpr uint32_t kLeastHeaderSize = 92;
constexpr uint32_t kLeastEntrySize = 128;
constexpr size_t kEntryNameAt = 56;  // type GUID, unique GUID, first, last, attributes before it

uint32_t Crc32(std::span<const std::byte> bytes, uLong crc = crc32(0L, Z_NULL, 0)) {
    return static_cast<uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A GUID as text, lower case: its first three fields are stored little-endian.
std::string GuidText(std::span<const std::byte> guid) {
    std::string text =
        fmt::format("{:08x}-{:04x}-{:04x}-", Le32(guid, 0), Le16(guid, 4), Le16(guid, 6));
    for (size_t i = 8; i < 16; ++i) {
        if (i == 10) text += '-';
        text += fmt::format("{:02x}", Byte(guid, i));
    }
    return text;
}

bool IsZero(std::span<const std::byte> bytes) {
    for (const std::byte b : bytes) {
        if (b != std::byte{0}) return false;
    }
    return true;
}

}  // namespace

std::optional<GptHeader> ParseGptHeader(std::span<const std::byte> sector) {
    if (sector.size() < kImageSectorSize || !BytesEqual(sector, 0, "EFI PART")) return std::nullopt;
    const uint32_t headerSize = Le32(sector, 12);
    if (headerSize < kLeastHeaderSize || headerSize > kImageSectorSize) return std::nullopt;
    if (Le64(sector, 24) != kGptHeaderLba) return std::nullopt;
    GptHeader h;
    const uint64_t backup = Le64(sector, 32);
    h.firstUsable = Le64(sector, 40);
    h.lastUsable = Le64(sector, 48);
    h.entriesLba = Le64(sector, 72);
    h.entryCount = Le32(sector, 80);
    h.entrySize = Le32(sector, 84);
    h.entriesCrc = Le32(sector, 88);
    // A disk no file can hold (its byte length would not fit a signed 64-bit offset) is none.
    constexpr uint64_t kMostSectors = static_cast<uint64_t>(INT64_MAX) / kImageSectorSize;
    if (backup <= h.lastUsable || backup >= kMostSectors) return std::nullopt;
    if (h.firstUsable > h.lastUsable || h.entriesLba <= kGptHeaderLba) return std::nullopt;
    if (h.entrySize < kLeastEntrySize || h.entrySize % 8 != 0) return std::nullopt;
    if (h.entryCount == 0 || h.entryCount > kGptMostEntryBytes / h.entrySize) return std::nullopt;
    h.diskSectors = backup + 1;
    return h;
}

bool GptHeaderChecksumHolds(std::span<const std::byte> sector) {
    if (sector.size() < kHeaderCrcAt + 4) return false;
    const uint32_t headerSize = Le32(sector, 12);
    if (headerSize < kHeaderCrcAt + 4 || headerSize > sector.size()) return false;
    constexpr std::array<std::byte, 4> kZero{};
    uLong crc = Crc32(sector.first(kHeaderCrcAt));
    crc = Crc32(kZero, crc);
    crc = Crc32(sector.subspan(kHeaderCrcAt + 4, headerSize - kHeaderCrcAt - 4), crc);
    return crc == Le32(sector, kHeaderCrcAt);
}

std::vector<PartitionSlot> ParseGptEntries(std::span<const std::byte> entries,
                                           const GptHeader& header) {
    std::vector<PartitionSlot> slots;
    if (header.entrySize < kLeastEntrySize) return slots;
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        const size_t at = static_cast<size_t>(i) * header.entrySize;
        if (at + header.entrySize > entries.size()) break;
        const auto entry = entries.subspan(at, kEntryNameAt);
        if (IsZero(entry.first(16))) continue;
        const uint64_t first = Le64(entry, 32);
        const uint64_t last = Le64(entry, 40);
        if (last < first || first < header.firstUsable || last > header.lastUsable) continue;
        PartitionSlot slot;
        slot.number = static_cast<int>(i) + 1;
        slot.startBytes = first * kImageSectorSize;
        slot.lengthBytes = (last - first + 1) * kImageSectorSize;
        slot.typeGuid = GuidText(entry.first(16));
        slots.push_back(std::move(slot));
    }
    return slots;
}

std::optional<GptHeaderRead> ReadGptHeader(const FileHandle& image) {
    std::array<std::byte, kImageSectorSize> sector{};
    size_t done = 0;
    if (image.ReadAt(uint64_t{kGptHeaderLba} * kImageSectorSize, sector, done) != kOk ||
        done != sector.size()) {
        return std::nullopt;
    }
    const auto header = ParseGptHeader(sector);
    if (!header) return std::nullopt;
    return GptHeaderRead{*header, GptHeaderChecksumHolds(sector)};
}

std::optional<std::vector<PartitionSlot>> ReadGptEntries(const FileHandle& image,
                                                         const GptHeader& header) {
    if (header.entriesLba > UINT64_MAX / kImageSectorSize) return std::nullopt;
    std::vector<std::byte> entries(header.EntryBytes());
    size_t done = 0;
    if (image.ReadAt(header.entriesLba * kImageSectorSize, entries, done) != kOk ||
        done != entries.size() || Crc32(entries) != header.entriesCrc) {
        return std::nullopt;
    }
    return ParseGptEntries(entries, header);
}

}  // namespace keltra
