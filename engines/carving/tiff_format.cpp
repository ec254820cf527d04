// TIFF, either byte order; ends at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseTiff(ByteView b) {
    using namespace std::string_view_literals;
    return At(b, 0, "MM\x00\x2A"sv) || At(b, 0, "II\x2A\x00"sv) ? kTypeTiff : kTypeNone;
}

uint64_t FindTiffEnd(ByteView) {
    return RunEndSearch(128 * kMiB, kTypeNone, nullptr);
}

}  // namespace keltra
