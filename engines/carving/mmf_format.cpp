// SMAF mobile audio ("MMMD"): the file is one chunk whose size follows the tag, filled by the
// chunks inside it.
#include <array>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kMmfLimit = 256 * kMiB;

// The contents chunk, the optional data chunk and the track chunks must fill the file chunk
// (but for a closing 2-byte CRC); their tags are three letters and a number.
StructureEnd ChunkEnd(CarveSession& session, ByteView header) {
    if (header.size() < 8) return StructureEnd::Broken();
    const uint64_t size = 8 + uint64_t{Be32(header, 4)};
    CarvedFileBytes file(session, kMmfLimit);
    if (size > file.Available()) return StructureEnd::Broken();
    uint64_t pos = 8;
    while (pos + 2 < size) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return StructureEnd::Broken();
        for (size_t i = 0; i < 3; ++i) {
            const uint8_t c = Byte(head, i);
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return StructureEnd::Broken();
        }
        pos += 8 + uint64_t{Be32(head, 4)};
    }
    return pos == size || pos + 2 == size ? StructureEnd::Found(size) : StructureEnd::Broken();
}

uint64_t MmfRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kMmfLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseMmf(CarveSession&, ByteView b) {
    return At(b, 0, "MMMD") ? kTypeMmf : kTypeNone;
}

uint64_t FindMmfEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, ChunkEnd(session, header)), MmfRule,
                     header);
}

}  // namespace keltra
