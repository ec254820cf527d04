// Norton Ghost disk-image backups.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseGhost(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    return At(b, 0, "\xFE\xEF\x00\x00"sv) ? kTypeGhost : kTypeNone;
}

}  // namespace keltra
