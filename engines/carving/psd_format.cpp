// Photoshop documents ("8BPS"); end at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecognisePsd(ByteView b) {
    return b.size() >= 40 && At(b, 0, "8BPS") ? kTypePhotoshop : kTypeNone;
}

uint64_t FindPsdEnd(ByteView) {
    return RunEndSearch(128 * kMiB, kTypeNone, nullptr);
}

}  // namespace keltra
