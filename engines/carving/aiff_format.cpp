// AIFF and AIFF-C: an IFF "FORM" chunk of form type "AIFF" or "AIFC", big-endian sizes, whose
// chunks ("COMM", "SSND", ...) fill it, each padded to an even length.
#include <array>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kAiffLimit = uint64_t{1} << 32;
constexpr int kMaxChunks = 1 << 16;

uint64_t AiffRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 2 * kGiB, kTypeNone, nullptr);
}

StructureEnd WalkChunks(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kAiffLimit);
    const uint64_t formSize = Be32(header, 4);
    const uint64_t end = 8 + formSize + (formSize & 1);
    if (8 + formSize > file.Available()) return StructureEnd::Broken();
    uint64_t pos = 12;
    bool common = false;
    for (int i = 0; i < kMaxChunks && pos + 8 <= 8 + formSize; ++i) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return StructureEnd::Broken();
        for (size_t k = 0; k < 4; ++k) {
            if (Byte(head, k) < 0x20 || Byte(head, k) > 0x7E) return StructureEnd::Broken();
        }
        common = common || At(head, 0, "COMM");
        const uint64_t size = Be32(head, 4);
        pos += 8 + size + (size & 1);
    }
    if (!common || (pos != end && pos != 8 + formSize)) return StructureEnd::Broken();
    // A pad byte after an odd form is the file's if it is on the source.
    return StructureEnd::Found(end <= file.Available() ? end : 8 + formSize);
}

}  // namespace

FileTypeCode RecogniseAiff(CarveSession&, ByteView b) {
    if (b.size() < 20 || !At(b, 0, "FORM") || Be32(b, 4) < 12) return kTypeNone;
    if (At(b, 8, "AIFF")) return kTypeAiff;
    if (At(b, 8, "AIFC")) return kTypeAifc;
    return kTypeNone;
}

uint64_t FindAiffEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkChunks(session, header)), AiffRule,
                     header);
}

}  // namespace keltra
