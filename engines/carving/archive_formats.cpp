// Archives that are recognised but not carved: rar and cabinet files.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

using namespace std::string_view_literals;

FileTypeCode RecogniseRar(CarveSession&, ByteView b) {
    return At(b, 0, "Rar!\x1A\x07\x00"sv) ? kTypeRar : kTypeNone;
}

FileTypeCode RecogniseCabinet(CarveSession&, ByteView b) {
    return b.size() >= 36 && At(b, 0, "MSCF") ? kTypeCabinet : kTypeNone;
}

}  // namespace keltra
