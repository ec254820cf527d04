// SMAF mobile audio ("MMMD"); ends at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseMmf(ByteView b) {
    return At(b, 0, "MMMD") ? kTypeMmf : kTypeNone;
}

uint64_t FindMmfEnd(ByteView) {
    return RunEndSearch(256 * kMiB, kTypeNone, nullptr);
}

}  // namespace keltra
