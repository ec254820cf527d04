// RIFF files: AVI and WAVE carry their size in the RIFF header. WebP's chunks are checked to fill
// the RIFF chunk, as its size alone would take a cut picture for a whole one.
#include <array>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kWebpLimit = uint64_t{1} << 32;
constexpr int kMaxChunks = 1 << 16;

bool IsChunkId(ByteView b, size_t at) {
    for (size_t i = at; i < at + 4; ++i) {
        const uint8_t c = Byte(b, i);
        if (c < 0x20 || c > 0x7E) return false;
    }
    return b.size() >= at + 4;
}

uint64_t WebpRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

// The chunks after "WEBP" fill the RIFF chunk, each padded to an even length; the first is the
// picture ("VP8 ", "VP8L") or the extended header ("VP8X").
StructureEnd WalkWebp(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kWebpLimit);
    const uint64_t end = uint64_t{Le32(header, 4)} + 8;
    if (end > file.Available()) return StructureEnd::Broken();
    uint64_t pos = 12;
    for (int i = 0; i < kMaxChunks && pos + 8 <= end; ++i) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head) || !IsChunkId(head, 0)) return StructureEnd::Broken();
        const uint64_t size = Le32(head, 4);
        pos += 8 + size + (size & 1);
    }
    // The last chunk's pad byte may be left out.
    if (pos != end && pos != end + 1) return StructureEnd::Broken();
    return StructureEnd::Found(end);
}

}  // namespace

FileTypeCode RecogniseAvi(CarveSession&, ByteView b) {
    if (b.size() >= 16 && At(b, 0, "RIFF") && At(b, 8, "AVI ") && At(b, 12, "LIST")) {
        return kTypeAvi;
    }
    return kTypeNone;
}

FileTypeCode RecogniseWave(CarveSession&, ByteView b) {
    // Recorders may put their own chunks ("bext", "JUNK", "LIST") before the format chunk.
    if (b.size() >= 16 && At(b, 0, "RIFF") && At(b, 8, "WAVE") && IsChunkId(b, 12)) {
        return kTypeWave;
    }
    return kTypeNone;
}

FileTypeCode RecogniseWebp(CarveSession&, ByteView b) {
    if (b.size() >= 20 && At(b, 0, "RIFF") && At(b, 8, "WEBP") &&
        (At(b, 12, "VP8 ") || At(b, 12, "VP8L") || At(b, 12, "VP8X")) && Le32(b, 4) >= 12) {
        return kTypeWebp;
    }
    return kTypeNone;
}

uint64_t FindWebpEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkWebp(session, header)), WebpRule,
                     header);
}

// The RIFF size plus its 8-byte chunk header, in 64 bits so that a size field near 4 GiB does
// not wrap to a few bytes.
uint64_t FindRiffEnd(CarveSession&, ByteView header) {
    return header.size() >= 8 ? uint64_t{Le32(header, 4)} + 8 : header.size();
}

}  // namespace keltra
