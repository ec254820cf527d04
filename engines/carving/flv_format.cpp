// Flash video: "FLV", version 1 and a 9-byte header, then tags, each followed by its own size.
// The file ends after the last tag whose size is repeated after it.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kFlvLimit = 6 * kGiB;
constexpr uint64_t kTagHeader = 11;

bool IsTagType(uint64_t type) {
    return type == 8 || type == 9 || type == 18;  // audio, video, script data
}

// Stops at the first place that holds no tag: that is the end when at least one tag came
// before it. A file whose header is not sound, or with a tag cut short, is broken.
StructureEnd WalkTags(CarveSession& session) {
    CarvedFileBytes file(session, kFlvLimit);
    const auto dataOffset = file.Be(5, 4);
    if (!dataOffset || *dataOffset < 9 || file.Be(*dataOffset, 4) != 0) {
        return StructureEnd::Broken();
    }
    uint64_t pos = *dataOffset + 4;
    uint64_t tags = 0;
    while (pos < file.Available()) {
        const auto type = file.Be(pos, 1);
        const auto size = file.Be(pos + 1, 3);
        const auto stream = file.Be(pos + 8, 3);
        if (!type || !size || !stream || !IsTagType(*type & 0x1F) || *stream != 0) break;
        // What begins like a tag but does not end like one is a tag cut short.
        const uint64_t tagEnd = pos + kTagHeader + *size;
        if (file.Be(tagEnd, 4) != kTagHeader + *size) {
            return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
        }
        pos = tagEnd + 4;
        ++tags;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return tags > 0 ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

uint64_t FlvRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kFlvLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseFlv(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    if (b.size() >= 16 && At(b, 0, "FLV\x01"sv) && At(b, 5, "\x00\x00\x00\x09"sv)) return kTypeFlv;
    return kTypeNone;
}

uint64_t FindFlvEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkTags(session)), FlvRule, header);
}

}  // namespace keltra
