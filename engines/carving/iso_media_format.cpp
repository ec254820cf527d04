// ISO base media files: MP4, 3GP and QuickTime, told apart by the brand of their "ftyp" box.
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

// Some muxers close the file with a "free" box carrying their name; the file ends at the
// first zero byte after the text.
class Mp4Signature : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        constexpr std::string_view kText = "freeIsoMedia File Produced";
        const auto pos = FindBytes(c.read.first(c.stopAt), kText);
        if (!pos) return std::nullopt;
        size_t end = *pos + kText.size();
        while (end < c.read.size() && c.read[end] != std::byte{0}) ++end;
        return c.offset + end;
    }
};

bool HasFtyp(ByteView b) {
    return b.size() >= 32 && At(b, 4, "ftyp");
}

}  // namespace

FileTypeCode RecogniseMp4(ByteView b) {
    if (HasFtyp(b) && (At(b, 8, "iso") || At(b, 8, "mp42"))) return kTypeMp4;
    return kTypeNone;
}

FileTypeCode Recognise3gp(ByteView b) {
    if (HasFtyp(b) && At(b, 8, "3gp")) return kType3gp;
    return kTypeNone;
}

FileTypeCode RecogniseQuickTime(ByteView b) {
    if (b.size() < 16) return kTypeNone;
    if (At(b, 0, "moov") || (At(b, 4, "ftyp") && At(b, 8, "qt  "))) return kTypeQuickTime;
    return kTypeNone;
}

uint64_t FindMp4End(ByteView) {
    Mp4Signature test;
    return RunEndSearch(6 * kGiB, kTypeNone, &test);
}

uint64_t FindIsoMediaEnd(ByteView) {
    return RunEndSearch(6 * kGiB, kTypeNone, nullptr);
}

}  // namespace keltra
