// GIF: "GIF87a"/"GIF89a"; ends after the trailer 00 3B that footer acceptance takes.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"
#include "engines/carving/trailer_search.h"

namespace keltra {

namespace {

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

}  // namespace

FileTypeCode RecogniseGif(ByteView b) {
    if (b.size() < 8 || !At(b, 0, "GIF")) return kTypeNone;
    const uint8_t letter = Byte(b, 5);
    if (IsDigit(Byte(b, 3)) && IsDigit(Byte(b, 4)) && letter >= 'a' && letter <= 'z') {
        return kTypeGif;
    }
    return kTypeNone;
}

uint64_t FindGifEnd(ByteView header) {
    using namespace std::string_view_literals;
    return FindTrailerEnd(header, "\x00\x3B"sv, 128 * kMiB);
}

}  // namespace keltra
