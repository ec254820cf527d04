// JPEG XL in its box container: the signature box "JXL ", "ftyp" with brand "jxl ", then the
// codestream in one "jxlc" box or in "jxlp" parts (the last one's index has its top bit set),
// and metadata boxes (Exif, XMP, JUMBF, levels) before or after it.
#include <algorithm>
#include <array>
#include <string_view>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kJpegXlLimit = 4 * kGiB;
constexpr std::string_view kSignatureBox = "\x00\x00\x00\x0CJXL \x0D\x0A\x87\x0A"sv;
constexpr int kMaxBoxes = 1 << 16;

constexpr std::array<std::string_view, 12> kBoxes = {
    "JXL ", "ftyp", "jxlc", "jxlp", "jxll", "jxli", "jbrd", "Exif", "xml ", "jumb", "brob", "free",
};

uint64_t JpegXlRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

StructureEnd WalkBoxes(CarveSession& session) {
    CarvedFileBytes file(session, kJpegXlLimit);
    uint64_t pos = 0;
    bool complete = false;
    for (int i = 0; i < kMaxBoxes && pos < file.Available(); ++i) {
        std::array<std::byte, 16> head{};
        if (!file.Read(pos, std::span(head).first(8))) break;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        if (std::find(kBoxes.begin(), kBoxes.end(), type) == kBoxes.end() ||
            (pos != 0 && type == "JXL ")) {
            break;
        }
        uint64_t size = Be32(head, 0), headSize = 8;
        if (size == 1) {
            const auto large = file.Be(pos + 8, 8);
            if (!large) return StructureEnd::Broken();
            size = *large;
            headSize = 16;
        }
        // The last box may run to the end of the file, which nothing here tells.
        if (size == 0) return StructureEnd::Unknown();
        if (size < headSize || size > file.Available() - pos) return StructureEnd::Broken();
        if (type == "jxlc") {
            if (!file.Holds(pos + headSize, "\xFF\x0A"sv)) return StructureEnd::Broken();
            complete = true;
        } else if (type == "jxlp") {
            const auto index = file.Be(pos + headSize, 4);
            if (!index) return StructureEnd::Broken();
            complete = (*index & 0x80000000U) != 0;
        }
        pos += size;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return complete ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseJpegXl(CarveSession&, ByteView b) {
    if (b.size() >= 24 && At(b, 0, kSignatureBox) && At(b, 16, "ftyp") && At(b, 20, "jxl ")) {
        return kTypeJpegXl;
    }
    return kTypeNone;
}

uint64_t FindJpegXlEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkBoxes(session)), JpegXlRule, header);
}

}  // namespace keltra
