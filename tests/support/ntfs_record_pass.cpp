#include "support/ntfs_record_pass.h"

#include <algorithm>
#include <vector>

#include "platform/little_endian.h"

namespace keltra::test {

namespace {

constexpr size_t kChunkBytes = 65536;
constexpr size_t kRecordReadBytes = 8192;

// The deep scan's test of a sector: "FILE", bytes in use within the record, the allocated
// size the record size, and the update sequence number at the first sector's end.
bool LooksLikeFileRecord(std::span<const std::byte> s, uint32_t recordSize) {
    return s.size() >= 512 && Le32(s, 0) == 0x454C4946 && Le32(s, 24) <= recordSize &&
           Le32(s, 28) == recordSize && Le16(s, 48) == Le16(s, 510);
}

}  // namespace

RecordPassResult RunNtfsRecordPass(DeepNtfsSearch& engine, const SectorSource& source,
                                   uint64_t first, uint64_t count, uint32_t sectorSize) {
    RecordPassResult result;
    const uint32_t recordSize = sectorSize > 512 ? sectorSize : 2 * sectorSize;
    const uint32_t chunkSectors = static_cast<uint32_t>(kChunkBytes / sectorSize);
    std::vector<std::byte> chunk(kChunkBytes);
    std::vector<std::byte> again(kRecordReadBytes);
    for (uint64_t at = 0; at < count; at += chunkSectors) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, count - at));
        uint32_t read = 0;
        ReadSectors(source, want, chunk, first + at, static_cast<int>(sectorSize), read);
        for (uint32_t i = 0; i < read; ++i) {
            const auto sector = std::span<const std::byte>(chunk).subspan(
                size_t{i} * sectorSize, size_t{read - i} * sectorSize);
            if (!LooksLikeFileRecord(sector, recordSize)) continue;
            if ((Le16(sector, 22) & 0x0002) != 0) continue;  // directories are not handed over
            std::span<const std::byte> record = sector;
            if (record.size() < recordSize) {
                // The record runs past the chunk: read it again where it lies.
                uint32_t got = 0;
                const uint32_t n = static_cast<uint32_t>(
                    std::min<uint64_t>(kRecordReadBytes / sectorSize, count - at - i));
                if (ReadSectors(source, n, again, first + at + i, static_cast<int>(sectorSize),
                                got) != kOk &&
                    got * sectorSize < recordSize) {
                    continue;
                }
                record = std::span<const std::byte>(again).first(size_t{got} * sectorSize);
            }
            engine.HandleFileRecord(record, first + at + i);
            ++result.handed;
        }
    }
    result.finish = engine.Finish();
    return result;
}

}  // namespace keltra::test
