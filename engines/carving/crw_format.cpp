// Canon CRW (CIFF): a little-endian header with "HEAPCCDR", then the root heap to the end of the
// file. A heap ends with the table of its records (a count, then tag, size and offset of each)
// and the table's offset in its last four bytes; the records point at data before the table,
// some of it heaps of their own. The root heap's end is where its table's offset follows the
// table: sought from the header on, and confirmed by the records.
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kCrwLimit = 256 * kMiB;
constexpr uint64_t kMaxRecords = 512;

uint64_t CrwRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kCrwLimit, kTypeNone, nullptr);
}

// A heap's table at `table` (from the heap's start `heap`): its records lie inside the heap
// before the table, and none of the heap's records are sub-heaps whose own table fails.
bool TableHolds(CarvedFileBytes& file, uint64_t heap, uint64_t table, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = heap + table + 2 + 10 * i;
        const auto tag = file.Le(at, 2), size = file.Le(at + 2, 4), offset = file.Le(at + 6, 4);
        if (!tag || !size || !offset) return false;
        // Records stored in the table itself (bits 14 and 15 of the tag) have no data outside.
        if ((*tag & 0xC000) != 0) continue;
        if (*offset > table || *size > table - *offset) return false;
    }
    return true;
}

StructureEnd FindRootTable(CarveSession& session, uint64_t heap) {
    CarvedFileBytes file(session, kCrwLimit);
    std::vector<std::byte> window;
    // Tables start at even offsets of the heap: a count, its records, then its own offset.
    for (uint64_t p = heap; p + 6 <= file.Available();) {
        const auto piece = file.Window(p);
        if (piece.size() < 2) break;
        window.assign(piece.begin(), piece.end());  // the checks below move the file's window
        for (size_t k = 0; k + 2 <= window.size(); k += 2) {
            const uint64_t count = Le16(window, k);
            if (count == 0 || count > kMaxRecords) continue;
            const uint64_t table = p + k;
            const auto back = file.Le(table + 2 + 10 * count, 4);
            if (!back || *back != table - heap) continue;
            if (TableHolds(file, heap, table - heap, count)) {
                return StructureEnd::Found(table + 2 + 10 * count + 4);
            }
        }
        p += window.size() & ~size_t{1};
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseCrw(CarveSession&, ByteView b) {
    if (b.size() < 26 || !At(b, 0, "II") || !At(b, 6, "HEAPCCDR")) return kTypeNone;
    const uint32_t headerLength = Le32(b, 2);
    return headerLength >= 14 && headerLength <= 512 ? kTypeCrw : kTypeNone;
}

uint64_t FindCrwEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, FindRootTable(session, Le32(header, 2))),
                     CrwRule, header);
}

}  // namespace keltra
