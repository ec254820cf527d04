// PDF documents.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecognisePdf(ByteView b) {
    return At(b, 0, "%PDF-") ? kTypePdf : kTypeNone;
}

}  // namespace keltra
