// SMAF mobile audio ("MMMD"): the file is one chunk whose size follows the tag.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kMmfLimit = 256 * kMiB;

StructureEnd ChunkEnd(ByteView header) {
    if (header.size() < 8) return StructureEnd::Broken();
    const uint64_t size = 8 + uint64_t{Be32(header, 4)};
    const CarvedFileBytes file(kMmfLimit);
    if (size > file.Available()) return StructureEnd::Broken();
    return StructureEnd::Found(size);
}

uint64_t MmfRule(ByteView) {
    return RunEndSearch(kMmfLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseMmf(ByteView b) {
    return At(b, 0, "MMMD") ? kTypeMmf : kTypeNone;
}

uint64_t FindMmfEnd(ByteView header) {
    return EndOrRule(ConfirmedByStopScan(ChunkEnd(header)), MmfRule, header);
}

}  // namespace keltra
