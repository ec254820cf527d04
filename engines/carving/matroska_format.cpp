// Matroska and WebM: the EBML magic. The file is its EBML header element and the segment after
// it, whose size is written when the file is closed; the segment's children must fill it.
#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kMatroskaLimit = 64 * kGiB;
constexpr uint32_t kSegmentId = 0x18538067;
constexpr int kMaxChildren = 1 << 20;

// Elements that may stand directly in a segment.
constexpr std::array<uint32_t, 10> kSegmentChildren = {
    0x114D9B74,  // SeekHead
    0x1549A966,  // Info
    0x1654AE6B,  // Tracks
    0x1F43B675,  // Cluster
    0x1C53BB6B,  // Cues
    0x1941A469,  // Attachments
    0x1043A770,  // Chapters
    0x1254C367,  // Tags
    0xEC,        // Void
    0xBF,        // CRC-32
};

// An EBML variable-length integer: its length is told by the first set bit of its first byte.
struct VarInt {
    uint64_t value = 0;  // with the length marker kept for ids, cleared for sizes
    size_t length = 0;
    bool unknown = false;  // a size of all ones: not written
};

std::optional<VarInt> ReadVarInt(CarvedFileBytes& file, uint64_t at, bool isId) {
    const auto first = file.Be(at, 1);
    if (!first || *first == 0) return std::nullopt;
    VarInt v;
    v.length = static_cast<size_t>(std::countl_zero(static_cast<uint8_t>(*first))) + 1;
    if (isId && v.length > 4) return std::nullopt;
    const auto all = file.Be(at, v.length);
    if (!all) return std::nullopt;
    const uint64_t valueBits = uint64_t{7} * v.length;
    const uint64_t mask = (uint64_t{1} << valueBits) - 1;
    v.value = isId ? *all : (*all & mask);
    v.unknown = !isId && (*all & mask) == mask;
    return v;
}

StructureEnd WalkSegment(CarveSession& session) {
    CarvedFileBytes file(session, kMatroskaLimit);
    const auto headerId = ReadVarInt(file, 0, true);
    const auto headerSize = headerId ? ReadVarInt(file, headerId->length, false) : std::nullopt;
    if (!headerSize || headerSize->unknown) return StructureEnd::Broken();
    const uint64_t segmentAt = headerId->length + headerSize->length + headerSize->value;
    const auto segmentId = ReadVarInt(file, segmentAt, true);
    if (!segmentId || segmentId->value != kSegmentId) return StructureEnd::Broken();
    const auto segmentSize = ReadVarInt(file, segmentAt + segmentId->length, false);
    if (!segmentSize) return StructureEnd::Broken();
    if (segmentSize->unknown) return StructureEnd::Unknown();
    const uint64_t begin = segmentAt + segmentId->length + segmentSize->length;
    if (segmentSize->value > file.Available() - std::min(begin, file.Available())) {
        return StructureEnd::Broken();
    }
    const uint64_t end = begin + segmentSize->value;
    uint64_t pos = begin;
    for (int i = 0; i < kMaxChildren && pos < end; ++i) {
        const auto id = ReadVarInt(file, pos, true);
        if (!id || std::find(kSegmentChildren.begin(), kSegmentChildren.end(), id->value) ==
                       kSegmentChildren.end()) {
            return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
        }
        const auto size = ReadVarInt(file, pos + id->length, false);
        if (!size) return StructureEnd::Broken();
        if (size->unknown) return StructureEnd::Unknown();  // a cluster written live
        pos += id->length + size->length + size->value;
    }
    return pos == end ? StructureEnd::Found(end) : StructureEnd::Broken();
}

uint64_t MatroskaRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kMatroskaLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseMatroska(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    return b.size() >= 16 && At(b, 0, "\x1A\x45\xDF\xA3"sv) ? kTypeMatroska : kTypeNone;
}

uint64_t FindMatroskaEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkSegment(session)), MatroskaRule,
                     header);
}

}  // namespace keltra
