// Fujifilm RAF: a big-endian header naming the camera, then a directory of three pieces (the
// preview JPEG, the meta container, the raw data), each as an offset and a length. The file ends
// with the furthest piece.
#include <algorithm>
#include <array>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kRafLimit = 2 * kGiB;
constexpr size_t kDirectory = 84;  // the first piece's offset

bool IsDigits(ByteView b, size_t at, size_t count) {
    for (size_t i = at; i < at + count; ++i) {
        if (i >= b.size() || Byte(b, i) < '0' || Byte(b, i) > '9') return false;
    }
    return true;
}

uint64_t RafRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kRafLimit, kTypeNone, nullptr);
}

// The pieces must follow the directory, lie on the source and not overlap one another.
StructureEnd WalkPieces(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kRafLimit);
    std::array<std::pair<uint64_t, uint64_t>, 3> pieces{};
    for (size_t i = 0; i < pieces.size(); ++i) {
        pieces[i] = {Be32(header, kDirectory + 8 * i), Be32(header, kDirectory + 8 * i + 4)};
    }
    std::sort(pieces.begin(), pieces.end());
    uint64_t end = kDirectory + 8 * pieces.size();
    for (const auto& [at, length] : pieces) {
        if (length == 0) continue;
        if (at < end || at > file.Available() || length > file.Available() - at) {
            return StructureEnd::Broken();
        }
        end = at + length;
    }
    // The preview is a JPEG.
    if (!file.Holds(Be32(header, kDirectory), "\xFF\xD8")) return StructureEnd::Broken();
    return StructureEnd::Found(end);
}

}  // namespace

FileTypeCode RecogniseRaf(CarveSession&, ByteView b) {
    // "FUJIFILMCCD-RAW ", a four-digit format version, an eight-character camera number.
    if (b.size() < kDirectory + 24 || !At(b, 0, "FUJIFILMCCD-RAW")) return kTypeNone;
    if (!IsDigits(b, 16, 4) || Be32(b, kDirectory) == 0 || Be32(b, kDirectory + 4) == 0) {
        return kTypeNone;
    }
    return kTypeRaf;
}

uint64_t FindRafEnd(CarveSession& session, ByteView header) {
    std::vector<uint64_t> pieces;
    for (size_t i = 0; i < 3; ++i) pieces.push_back(Be32(header, kDirectory + 8 * i));
    return EndOrRule(session, ConfirmedByStopScan(session, WalkPieces(session, header), pieces),
                     RafRule, header);
}

}  // namespace keltra
