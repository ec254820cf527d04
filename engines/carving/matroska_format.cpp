// Matroska and WebM: the EBML magic; ends at the next header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseMatroska(ByteView b) {
    using namespace std::string_view_literals;
    return b.size() >= 16 && At(b, 0, "\x1A\x45\xDF\xA3"sv) ? kTypeMatroska : kTypeNone;
}

uint64_t FindMatroskaEnd(ByteView) {
    return RunEndSearch(64 * kGiB, kTypeNone, nullptr);
}

}  // namespace keltra
