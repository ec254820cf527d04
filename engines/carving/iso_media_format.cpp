// ISO base media files: MP4, 3GP and QuickTime, told apart by the brand of their "ftyp" box.
// The file is its chain of top-level boxes, each with its size; the chain ends where the next
// box is of no top-level type (or a new file's "ftyp").
#include <algorithm>
#include <array>
#include <string_view>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
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

constexpr uint64_t kIsoMediaLimit = 6 * kGiB;
constexpr int kMaxBoxes = 1 << 20;

constexpr std::array<std::string_view, 20> kTopLevelBoxes = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "moof", "mfra",
    "pdin", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "PICT", "junk", "udta",
};

bool IsTopLevelBox(std::string_view type) {
    return std::find(kTopLevelBoxes.begin(), kTopLevelBoxes.end(), type) != kTopLevelBoxes.end();
}

// The boxes inside [begin, end) fill it exactly, each with a printable type: a movie box whose
// end was overwritten does not.
bool ChildrenFill(CarvedFileBytes& file, uint64_t begin, uint64_t end) {
    uint64_t pos = begin;
    for (int i = 0; i < kMaxBoxes && pos + 8 <= end; ++i) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return false;
        for (size_t k = 4; k < 8; ++k) {
            const uint8_t c = Byte(head, k);
            if (c < 0x20 || (c > 0x7E && c != 0xA9)) return false;  // 0xA9: the (c) of iTunes tags
        }
        const uint64_t size = Be32(head, 0);
        if (size < 8 || size > end - pos) return false;
        pos += size;
    }
    return pos == end;
}

// The end of the last top-level box. A chain without a movie box ("moov", or "moof" for a
// fragmented file) or with a box that runs past the source is broken; a last box "to the end
// of the file" (size 0) leaves the end unknown.
StructureEnd WalkBoxes() {
    CarvedFileBytes file(kIsoMediaLimit);
    uint64_t pos = 0;
    bool movie = false;
    for (int i = 0; i < kMaxBoxes && pos < file.Available(); ++i) {
        std::array<std::byte, 16> head{};
        if (!file.Read(pos, std::span(head).first(8))) break;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        // A QuickTime file that begins with its movie box has no size for it in view.
        if (pos == 0 && type != "ftyp") return StructureEnd::Unknown();
        if (pos != 0 && (!IsTopLevelBox(type) || type == "ftyp")) break;
        uint64_t size = Be32(head, 0);
        if (size == 1) {
            const auto large = file.Be(pos + 8, 8);
            if (!large) return StructureEnd::Broken();
            size = *large;
        } else if (size == 0) {
            return StructureEnd::Unknown();
        }
        if (size < 8) {
            if (pos == 0) return StructureEnd::Broken();
            break;
        }
        if (size > file.Available() - pos) return StructureEnd::Broken();
        if (type == "moov" || type == "moof") {
            if (!ChildrenFill(file, pos + 8, pos + size)) return StructureEnd::Broken();
            movie = true;
        }
        pos += size;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return movie ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

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

namespace {

uint64_t Mp4Rule(ByteView) {
    Mp4Signature test;
    return RunEndSearch(kIsoMediaLimit, kTypeNone, &test);
}

uint64_t IsoMediaRule(ByteView) {
    return RunEndSearch(kIsoMediaLimit, kTypeNone, nullptr);
}

}  // namespace

uint64_t FindMp4End(ByteView header) {
    return EndOrRule(ConfirmedByStopScan(WalkBoxes()), Mp4Rule, header);
}

uint64_t FindIsoMediaEnd(ByteView header) {
    return EndOrRule(ConfirmedByStopScan(WalkBoxes()), IsoMediaRule, header);
}

}  // namespace keltra
