// TrueType fonts: version 1.0, a sane table directory, and the first table right after it.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseTrueType(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    constexpr std::string_view kVersion1 = "\x00\x01\x00\x00"sv;
    if (b.size() < 16 || !At(b, 0, kVersion1)) return kTypeNone;
    const size_t tables = Be16(b, 4);
    if (tables == 0 || Be16(b, 6) == 0 || Be16(b, 8) == 0 || Be16(b, 10) == 0) return kTypeNone;
    const size_t directoryEnd = 12 + 16 * tables;
    if (directoryEnd + 4 > b.size()) return kTypeNone;
    // A version-1.0 table (head, hhea, maxp, post) right after the directory.
    if (At(b, directoryEnd, kVersion1)) return kTypeTrueType;
    // Font tools that put another table first (FontForge starts with "FFTM") still lay the
    // tables out right after the directory: some table starts exactly there.
    for (size_t i = 0; i < tables; ++i) {
        if (Be32(b, 12 + 16 * i + 8) == directoryEnd) return kTypeTrueType;
    }
    return kTypeNone;
}

}  // namespace keltra
