// PNG: the 8-byte signature, then chunks (length, type, data, CRC) up to IEND. Walking the
// chunks gives the end after IEND and tells, by the CRCs, whether the file is whole; where the
// chain breaks, the IEND trailer that footer acceptance takes ends the file.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"
#include "engines/carving/trailer_search.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kPngLimit = 128 * kMiB;
constexpr uint64_t kMaxChunk = uint64_t{1} << 31;

bool IsChunkType(std::span<const std::byte> type) {
    return std::all_of(type.begin(), type.end(), [](std::byte b) {
        const auto c = std::to_integer<uint8_t>(b);
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

// CRC-32 of the bytes [at, at + length).
std::optional<uint32_t> Crc(CarvedFileBytes& file, uint64_t at, uint64_t length) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const auto piece = file.Window(at);
        if (piece.empty()) return std::nullopt;
        const auto take = static_cast<uInt>(std::min<uint64_t>(piece.size(), length));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), take);
        at += take;
        length -= take;
    }
    return static_cast<uint32_t>(crc);
}

StructureEnd WalkChunks(CarveSession& session) {
    CarvedFileBytes file(session, kPngLimit);
    uint64_t pos = 8;
    bool crcFailed = false;
    for (;;) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) break;
        const uint64_t length = Be32(head, 0);
        if (length >= kMaxChunk || !IsChunkType(std::span(head).subspan(4))) break;
        const auto crc = Crc(file, pos + 4, 4 + length);
        const auto stored = file.Be(pos + 8 + length, 4);
        if (!crc || !stored) break;
        crcFailed = crcFailed || *crc != *stored;
        pos += 12 + length;
        if (BytesEqual(head, 4, "IEND")) return StructureEnd::Found(pos, crcFailed);
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

uint64_t PngRule(CarveSession& session, ByteView header) {
    return FindTrailerEnd(session, header, "IEND\xAE\x42\x60\x82"sv, kPngLimit);
}

}  // namespace

FileTypeCode RecognisePng(CarveSession&, ByteView b) {
    return At(b, 0, "\x89PNG\x0D\x0A\x1A\x0A"sv) ? kTypePng : kTypeNone;
}

uint64_t FindPngEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkChunks(session)), PngRule, header);
}

}  // namespace keltra
