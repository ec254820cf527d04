// Archives: gzip, 7z, zip, rar and cabinet files.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

using namespace std::string_view_literals;

// Deflate, no flags but a stored name, a valid extra-flags byte and a known system. Extra
// flags 0 (the default level of gzip itself) is taken besides 2 and 4.
FileTypeCode RecogniseGzip(ByteView b) {
    if (b.size() < 16 || !At(b, 0, "\x1F\x8B\x08"sv)) return kTypeNone;
    const uint8_t flags = Byte(b, 3);
    const uint8_t extra = Byte(b, 8);
    const uint8_t system = Byte(b, 9);
    if (flags != 0x00 && flags != 0x08) return kTypeNone;
    if (extra != 0 && extra != 2 && extra != 4) return kTypeNone;
    if (system > 0x0D && system != 0xFF) return kTypeNone;
    return kTypeGzip;
}

FileTypeCode Recognise7z(ByteView b) {
    return At(b, 0, "7z\xBC\xAF\x27"sv) ? kType7z : kTypeNone;
}

FileTypeCode RecogniseZip(ByteView b) {
    return b.size() >= 48 && At(b, 0, "PK\x03\x04"sv) ? kTypeZip : kTypeNone;
}

FileTypeCode RecogniseRar(ByteView b) {
    return At(b, 0, "Rar!\x1A\x07\x00"sv) ? kTypeRar : kTypeNone;
}

FileTypeCode RecogniseCabinet(ByteView b) {
    return b.size() >= 36 && At(b, 0, "MSCF") ? kTypeCabinet : kTypeNone;
}

}  // namespace keltra
