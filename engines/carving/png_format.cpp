// PNG: the 8-byte signature; ends after the IEND chunk that footer acceptance takes.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"
#include "engines/carving/trailer_search.h"

namespace keltra {

using namespace std::string_view_literals;

FileTypeCode RecognisePng(ByteView b) {
    return At(b, 0, "\x89PNG\x0D\x0A\x1A\x0A"sv) ? kTypePng : kTypeNone;
}

uint64_t FindPngEnd(ByteView header) {
    return FindTrailerEnd(header, "IEND\xAE\x42\x60\x82"sv, 128 * kMiB);
}

}  // namespace keltra
