// Minolta MRW: the "\0MRM" block, whose length covers the blocks of camera data inside it (the
// picture's raw dimensions "\0PRD", the TIFF directories "\0TTW", white balance, image format,
// padding), then the raw data: sensor height times width at 16 bits a pixel, or 12 packed.
#include <array>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kMrwLimit = 1 * kGiB;
constexpr int kMaxBlocks = 64;

uint64_t MrwRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kMrwLimit, kTypeNone, nullptr);
}

StructureEnd WalkBlocks(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kMrwLimit);
    const uint64_t dataAt = 8 + uint64_t{Be32(header, 4)};
    // The blocks inside fill the MRM block exactly; each is "\0" and three capitals.
    uint64_t pos = 8;
    for (int i = 0; i < kMaxBlocks && pos < dataAt; ++i) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
        if (Byte(head, 0) != 0) return StructureEnd::Broken();
        for (size_t k = 1; k < 4; ++k) {
            if (Byte(head, k) < 'A' || Byte(head, k) > 'Z') return StructureEnd::Broken();
        }
        pos += 8 + uint64_t{Be32(head, 4)};
    }
    if (pos != dataAt) return StructureEnd::Broken();
    // The raw dimensions come first: sensor height, width, then the bits a pixel is stored in.
    const uint64_t height = Be16(header, 24), width = Be16(header, 26);
    const uint8_t depth = Byte(header, 32);
    if (depth != 12 && depth != 16) return StructureEnd::Broken();
    const uint64_t raw = height * width * depth / 8;
    if (raw == 0 || raw > file.Available() || dataAt > file.Available() - raw) {
        return StructureEnd::Broken();
    }
    return StructureEnd::Found(dataAt + raw);
}

}  // namespace

FileTypeCode RecogniseMrw(CarveSession&, ByteView b) {
    if (b.size() < 36 || !At(b, 0, "\x00MRM"sv) || !At(b, 8, "\x00PRD"sv)) return kTypeNone;
    return kTypeMrw;
}

uint64_t FindMrwEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkBlocks(session, header)), MrwRule,
                     header);
}

}  // namespace keltra
