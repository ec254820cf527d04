// RIFF files: AVI and WAVE carry their size in the RIFF header.
#include "engines/carving/byte_tests.h"
#include "engines/carving/format_modules.h"

namespace keltra {

FileTypeCode RecogniseAvi(ByteView b) {
    if (b.size() >= 16 && At(b, 0, "RIFF") && At(b, 8, "AVI ") && At(b, 12, "LIST")) {
        return kTypeAvi;
    }
    return kTypeNone;
}

FileTypeCode RecogniseWave(ByteView b) {
    if (b.size() >= 16 && At(b, 0, "RIFF") && At(b, 8, "WAVE") && At(b, 12, "fmt ")) {
        return kTypeWave;
    }
    return kTypeNone;
}

// The RIFF size plus its 8-byte chunk header, in 64 bits so that a size field near 4 GiB does
// not wrap to a few bytes.
uint64_t FindRiffEnd(ByteView header) {
    return header.size() >= 8 ? uint64_t{Le32(header, 4)} + 8 : header.size();
}

}  // namespace keltra
