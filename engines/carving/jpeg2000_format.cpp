// JPEG 2000: JP2 files, a chain of boxes that begins with the signature box and holds the
// codestream in a "jp2c" box, and bare codestreams (.j2c). A codestream is its main header's
// marker segments, then tile-parts, each as long as its SOT marker says, then the end-of-
// codestream marker FF D9.
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

constexpr uint64_t kJpeg2000Limit = 4 * kGiB;
constexpr std::string_view kSignatureBox = "\x00\x00\x00\x0CjP  \x0D\x0A\x87\x0A"sv;
constexpr std::string_view kCodestreamStart = "\xFF\x4F\xFF\x51"sv;
constexpr int kMaxSegments = 1 << 20;

constexpr std::array<std::string_view, 20> kTopLevelBoxes = {
    "jP  ", "ftyp", "jp2h", "jp2i", "xml ", "uuid", "uinf", "jp2c", "rreq", "asoc",
    "ftbl", "dtbl", "cref", "res ", "jpch", "jplh", "free", "nlst", "cgrp", "prfl",
};

uint64_t Jpeg2000Rule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

// The codestream at `at`: its end (after FF D9).
StructureEnd WalkCodestream(CarvedFileBytes& file, uint64_t at) {
    if (!file.Holds(at, kCodestreamStart)) return StructureEnd::Broken();
    uint64_t pos = at + 2;
    for (int i = 0; i < kMaxSegments; ++i) {
        const auto marker = file.Be(pos, 2);
        if (!marker) break;
        if (*marker == 0xFFD9) return StructureEnd::Found(pos + 2);
        if ((*marker & 0xFF00) != 0xFF00) return StructureEnd::Broken();
        const auto length = file.Be(pos + 2, 2);
        if (!length || *length < 2) return StructureEnd::Broken();
        if (*marker != 0xFF90) {
            pos += 2 + *length;
            continue;
        }
        // A tile-part: its length counts from the SOT marker; 0 runs to the codestream's end,
        // whose marker cannot occur inside the coded data.
        const auto tilePart = file.Be(pos + 6, 4);
        if (!tilePart) break;
        if (*tilePart == 0) {
            const auto eoc = file.Find("\xFF\xD9"sv, pos + 12, file.Available());
            if (!eoc) break;
            return StructureEnd::Found(*eoc + 2);
        }
        if (*tilePart < 12) return StructureEnd::Broken();
        pos += *tilePart;
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

StructureEnd WalkBoxes(CarveSession& session) {
    CarvedFileBytes file(session, kJpeg2000Limit);
    uint64_t pos = 0;
    bool codestream = false;
    for (int i = 0; i < kMaxSegments && pos < file.Available(); ++i) {
        std::array<std::byte, 16> head{};
        if (!file.Read(pos, std::span(head).first(8))) break;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        if (std::find(kTopLevelBoxes.begin(), kTopLevelBoxes.end(), type) == kTopLevelBoxes.end() ||
            (pos != 0 && type == "jP  ")) {
            break;
        }
        uint64_t size = Be32(head, 0), headSize = 8;
        if (size == 1) {
            const auto large = file.Be(pos + 8, 8);
            if (!large) return StructureEnd::Broken();
            size = *large;
            headSize = 16;
        }
        if (type == "jp2c") {
            const StructureEnd stream = WalkCodestream(file, pos + headSize);
            if (stream.verdict != StructureEnd::kFound) return stream;
            // A box to the end of the file holds the codestream and nothing after it.
            if (size == 0) return stream;
            if (stream.size != pos + size) return StructureEnd::Broken();
            codestream = true;
        }
        if (size < headSize || size > file.Available() - pos) return StructureEnd::Broken();
        pos += size;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return codestream ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseJpeg2000(CarveSession&, ByteView b) {
    if (b.size() < 24) return kTypeNone;
    if (At(b, 0, kSignatureBox) && At(b, 16, "ftyp")) return kTypeJp2;
    // SOC, then SIZ with its length (38 + 3 per component) and at most 16384 components.
    if (At(b, 0, kCodestreamStart)) {
        const uint32_t length = Be16(b, 4);
        const uint32_t components = Be16(b, 40);
        if (length >= 41 && components >= 1 && components <= 16384 &&
            length == 38 + 3 * components) {
            return kTypeJ2c;
        }
    }
    return kTypeNone;
}

uint64_t FindJpeg2000End(CarveSession& session, ByteView header) {
    if (At(header, 0, kCodestreamStart)) {
        CarvedFileBytes file(session, kJpeg2000Limit);
        return EndOrRule(session, ConfirmedByStopScan(session, WalkCodestream(file, 0)),
                         Jpeg2000Rule, header);
    }
    return EndOrRule(session, ConfirmedByStopScan(session, WalkBoxes(session)), Jpeg2000Rule,
                     header);
}

}  // namespace keltra
