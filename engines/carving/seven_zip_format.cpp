// 7z archives. The 32-byte signature header gives where the archive's own header lies and how
// long it is, which is the end of the file; both carry a CRC-32. Where either CRC fails, the
// archive was cut or overwritten: it is broken.
#include <zlib.h>

#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kSevenZipLimit = 4 * kGiB;
constexpr uint64_t kSignatureHeader = 32;

uint32_t Crc(std::span<const std::byte> bytes, uLong crc = crc32(0L, Z_NULL, 0)) {
    return static_cast<uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

StructureEnd WalkHeaders(CarveSession& session, ByteView header) {
    if (header.size() < kSignatureHeader) return StructureEnd::Broken();
    if (Crc(header.subspan(12, 20)) != Le32(header, 8)) return StructureEnd::Broken();
    const uint64_t offset = Le64(header, 12);
    const uint64_t size = Le64(header, 20);
    if (size == 0) return StructureEnd::Broken();  // an archive still being written
    CarvedFileBytes file(session, kSevenZipLimit);
    const uint64_t available = file.Available();
    if (offset > available || size > available - offset ||
        kSignatureHeader > available - offset - size) {
        return StructureEnd::Broken();
    }
    const uint64_t at = kSignatureHeader + offset;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (uint64_t done = 0; done < size;) {
        const auto piece = file.Window(at + done);
        if (piece.empty()) return StructureEnd::Broken();
        const auto take = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - done));
        crc = Crc(piece.first(take), crc);
        done += take;
    }
    if (crc != Le32(header, 28)) return StructureEnd::Broken();
    return StructureEnd::Found(at + size);
}

uint64_t SevenZipRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kSevenZipLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode Recognise7z(CarveSession&, ByteView b) {
    return At(b, 0, "7z\xBC\xAF\x27"sv) ? kType7z : kTypeNone;
}

uint64_t Find7zEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkHeaders(session, header)),
                     SevenZipRule, header);
}

}  // namespace keltra
