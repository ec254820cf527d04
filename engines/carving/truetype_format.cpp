// TrueType fonts: version 1.0, a sane table directory, and a version-1.0 table right after it.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseTrueType(ByteView b) {
    using namespace std::string_view_literals;
    constexpr std::string_view kVersion1 = "\x00\x01\x00\x00"sv;
    if (b.size() < 16 || !At(b, 0, kVersion1)) return kTypeNone;
    const size_t tables = Be16(b, 4);
    if (tables == 0 || Be16(b, 6) == 0 || Be16(b, 8) == 0 || Be16(b, 10) == 0) return kTypeNone;
    if (16 + 16 * tables > b.size()) return kTypeNone;
    return At(b, 12 + 16 * tables, kVersion1) ? kTypeTrueType : kTypeNone;
}

}  // namespace keltra
