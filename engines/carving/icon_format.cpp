// Windows icons: a directory of images stored back to back right after it. The end is the
// last image's end.
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr size_t kDirectory = 6;
constexpr size_t kEntry = 16;

// The end of the last image when the directory lies within the bytes and describes images
// stored back to back.
std::optional<uint64_t> IconEnd(ByteView b) {
    using namespace std::string_view_literals;
    if (b.size() < 16 || !At(b, 0, "\x00\x00\x01\x00"sv)) return std::nullopt;
    const size_t count = Le16(b, 4);
    if (count == 0 || kDirectory + kEntry * count > b.size()) return std::nullopt;
    uint64_t expected = kDirectory + kEntry * count;
    for (size_t i = 0; i < count; ++i) {
        const size_t e = kDirectory + kEntry * i;
        if (Byte(b, e + 3) != 0 || Le32(b, e + 12) != expected) return std::nullopt;
        expected += Le32(b, e + 8);
    }
    return expected;
}

}  // namespace

FileTypeCode RecogniseIcon(CarveSession&, ByteView b) {
    return IconEnd(b) ? kTypeIcon : kTypeNone;
}

uint64_t FindIconEnd(CarveSession& session, ByteView header) {
    return IconEnd(header).value_or(session.sectorSize);
}

}  // namespace keltra
