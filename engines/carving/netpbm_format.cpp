// Binary netpbm pictures: "P4" (PBM), "P5" (PGM) or "P6" (PPM), the width, height and (but for
// PBM) the largest sample value in text, then one white-space byte and the samples, whose size
// the header gives.
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kMaxSide = 1 << 20;

bool IsSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct NetpbmHeader {
    FileTypeCode type = kTypeNone;
    uint64_t size = 0;  // header and samples
};

// The header, read from the first sector: tokens separated by white space and comments.
std::optional<NetpbmHeader> ReadHeader(ByteView b) {
    if (b.size() < 8 || Byte(b, 0) != 'P') return std::nullopt;
    NetpbmHeader h;
    switch (Byte(b, 1)) {
        case '4':
            h.type = kTypePbm;
            break;
        case '5':
            h.type = kTypePgm;
            break;
        case '6':
            h.type = kTypePpm;
            break;
        default:
            return std::nullopt;
    }
    if (!IsSpace(Byte(b, 2))) return std::nullopt;
    const int fields = h.type == kTypePbm ? 2 : 3;
    uint64_t value[3] = {0, 0, 0};
    size_t pos = 2;
    for (int f = 0; f < fields; ++f) {
        // White space and whole-line comments before the number.
        while (pos < b.size()) {
            const uint8_t c = Byte(b, pos);
            if (IsSpace(c)) {
                ++pos;
            } else if (c == '#') {
                while (pos < b.size() && Byte(b, pos) != '\n') ++pos;
            } else {
                break;
            }
        }
        size_t digits = 0;
        while (pos < b.size() && Byte(b, pos) >= '0' && Byte(b, pos) <= '9' && digits < 8) {
            value[f] = value[f] * 10 + (Byte(b, pos) - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value[f] == 0) return std::nullopt;
    }
    // Exactly one white-space byte before the samples.
    if (pos >= b.size() || !IsSpace(Byte(b, pos))) return std::nullopt;
    ++pos;
    const uint64_t width = value[0], height = value[1], maxValue = value[2];
    if (width > kMaxSide || height > kMaxSide || (h.type != kTypePbm && maxValue > 65535)) {
        return std::nullopt;
    }
    const uint64_t sampleBytes = maxValue > 255 ? 2 : 1;
    uint64_t samples = 0;
    if (h.type == kTypePbm) samples = (width + 7) / 8 * height;
    if (h.type == kTypePgm) samples = width * height * sampleBytes;
    if (h.type == kTypePpm) samples = width * height * 3 * sampleBytes;
    h.size = pos + samples;
    return h;
}

uint64_t NetpbmRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseNetpbm(CarveSession&, ByteView b) {
    const auto h = ReadHeader(b);
    return h ? h->type : kTypeNone;
}

uint64_t FindNetpbmEnd(CarveSession& session, ByteView header) {
    const auto h = ReadHeader(header);
    if (!h) return NetpbmRule(session, header);
    CarvedFileBytes file(session, h->size);
    const StructureEnd end =
        file.Available() == h->size ? StructureEnd::Found(h->size) : StructureEnd::Broken();
    return EndOrRule(session, ConfirmedByStopScan(session, end), NetpbmRule, header);
}

}  // namespace keltra
