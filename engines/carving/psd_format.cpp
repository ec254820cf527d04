// Photoshop documents ("8BPS", and the large-document form version 2). The file is its header,
// three sections that each begin with their length, and the merged image: raw, or run-length
// coded with a table of each row's coded length. Zip-compressed image data has no length.
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kPsdLimit = 128 * kMiB;
constexpr uint64_t kHeaderBytes = 26;

StructureEnd WalkSections(CarveSession& session, ByteView header) {
    const uint16_t version = Be16(header, 4);
    const uint64_t channels = Be16(header, 12);
    const uint64_t height = Be32(header, 14);
    const uint64_t width = Be32(header, 18);
    const uint64_t depth = Be16(header, 22);
    const bool large = version == 2;
    if ((version != 1 && !large) || channels == 0 || channels > 56 || height == 0 || width == 0 ||
        height > 300000 || width > 300000 ||
        (depth != 1 && depth != 8 && depth != 16 && depth != 32)) {
        return StructureEnd::Broken();
    }
    CarvedFileBytes file(session, kPsdLimit);
    uint64_t pos = kHeaderBytes;
    // Colour mode data and image resources have 32-bit lengths; layer and mask information
    // has a 64-bit one in the large form.
    for (const size_t lengthBytes : {size_t{4}, size_t{4}, size_t{large ? 8u : 4u}}) {
        const auto length = file.Be(pos, lengthBytes);
        if (!length || *length > file.Available() - pos) return StructureEnd::Broken();
        pos += lengthBytes + *length;
    }
    const auto compression = file.Be(pos, 2);
    if (!compression) return StructureEnd::Broken();
    pos += 2;
    const uint64_t rows = channels * height;
    if (*compression == 0) {
        pos += rows * ((width * depth + 7) / 8);
    } else if (*compression == 1) {
        const size_t countBytes = large ? 4 : 2;
        uint64_t coded = 0;
        for (uint64_t r = 0; r < rows; ++r) {
            const auto n = file.Be(pos + r * countBytes, countBytes);
            if (!n) return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            coded += *n;
        }
        pos += rows * countBytes + coded;
    } else {
        return StructureEnd::Unknown();
    }
    if (pos > file.Available()) return StructureEnd::Broken();
    return StructureEnd::Found(pos);
}

uint64_t PsdRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kPsdLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecognisePsd(CarveSession&, ByteView b) {
    return b.size() >= 40 && At(b, 0, "8BPS") ? kTypePhotoshop : kTypeNone;
}

uint64_t FindPsdEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkSections(session, header)), PsdRule,
                     header);
}

}  // namespace keltra
