// Flash video: "FLV", version 1 and a 9-byte header; ends at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseFlv(ByteView b) {
    using namespace std::string_view_literals;
    if (b.size() >= 16 && At(b, 0, "FLV\x01"sv) && At(b, 5, "\x00\x00\x00\x09"sv)) return kTypeFlv;
    return kTypeNone;
}

uint64_t FindFlvEnd(ByteView) {
    return RunEndSearch(6 * kGiB, kTypeNone, nullptr);
}

}  // namespace keltra
