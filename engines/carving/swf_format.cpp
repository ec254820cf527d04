// Flash movies: "FWS" (uncompressed, versions below 6) carries its length; "CWS" (compressed,
// versions 6 to 15) is carved as one sector.
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseSwf(CarveSession&, ByteView b) {
    if (b.size() < 8) return kTypeNone;
    const uint8_t version = Byte(b, 3);
    if (At(b, 0, "CWS") && version >= 6 && version <= 15) return kTypeFlash;
    if (At(b, 0, "FWS") && version < 6) return kTypeFlash;
    return kTypeNone;
}

uint64_t FindSwfEnd(CarveSession& session, ByteView header) {
    if (At(header, 0, "FWS") && header.size() >= 8) {
        return std::min<uint64_t>(Le32(header, 4), 256 * kMiB);
    }
    return session.sectorSize;
}

}  // namespace keltra
