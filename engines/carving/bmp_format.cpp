// Windows bitmaps with a 40-byte info header; the size is the file header's.
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseBmp(CarveSession&, ByteView b) {
    if (b.size() < 40 || !(At(b, 0, "BM") || At(b, 0, "BA"))) return kTypeNone;
    if (Le16(b, 6) != 0 || Le16(b, 8) != 0 || Le32(b, 14) != 40) return kTypeNone;
    return kTypeBmp;
}

uint64_t FindBmpEnd(CarveSession&, ByteView header) {
    return header.size() >= 6 ? std::min<uint64_t>(Le32(header, 2), 128 * kMiB) : 0;
}

}  // namespace keltra
