// MXF: the header partition pack key; ends at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseMxf(ByteView b) {
    using namespace std::string_view_literals;
    constexpr std::string_view kKey =
        "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv;
    return At(b, 0, kKey) ? kTypeMxf : kTypeNone;
}

uint64_t FindMxfEnd(ByteView) {
    return RunEndSearch(6 * kGiB, kTypeNone, nullptr);
}

}  // namespace keltra
