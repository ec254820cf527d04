// ASF (wmv, wma): the size comes from the file properties object of the header.
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kHeaderObject =
    "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr std::string_view kFileProperties =
    "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
constexpr size_t kFileSizeAt = 40;
constexpr size_t kFlagsAt = 88;
constexpr uint64_t kLimit = 256 * kMiB;

}  // namespace

FileTypeCode RecogniseAsf(CarveSession&, ByteView b) {
    return b.size() >= 24 && At(b, 0, kHeaderObject) ? kTypeAsf : kTypeNone;
}

uint64_t FindAsfEnd(CarveSession& session, ByteView header) {
    const uint64_t oneSector = session.sectorSize;
    const auto pos = FindBytes(header, kFileProperties, 30);
    if (!pos || *pos + kFlagsAt + 4 > header.size()) return oneSector;
    if ((Le32(header, *pos + kFlagsAt) & 1) != 0) return oneSector;  // broadcast: no size
    return std::min(Le64(header, *pos + kFileSizeAt), kLimit);
}

}  // namespace keltra
