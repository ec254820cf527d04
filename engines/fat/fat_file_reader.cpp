#include "engines/fat/fat_file_reader.h"

#include <algorithm>
#include <vector>

namespace keltra {

std::optional<uint32_t> NextFileCluster(const FatFileLayout& layout, uint32_t n) {
    if (layout.table == nullptr) {
        if (n >= layout.maxCluster) return std::nullopt;
        return n + 1;
    }
    uint32_t value = 0;
    if (layout.table->Entry(n, value) != kOk) return std::nullopt;
    const bool free = (value & 0x0FFFFFFF) == 0;
    return free ? layout.table->NextFree(n) : layout.table->Next(n);
}

Status ReadFatFileData(const SectorSource& source, const FatFileLayout& layout,
                       const FoundRecord& record, uint64_t maxBytes,
                       const std::function<Status(std::span<const std::byte>)>& sink) {
    const uint32_t bps = layout.bytesPerSector;
    if (record.clusterBytes > kMaxCopyClusterBytes) return kErrWriteFault;
    if (bps == 0 || record.clusterBytes <= 0 || record.clusterBytes % bps != 0)
        return kErrInvalidParameter;
    const uint64_t sectorsPerCluster = static_cast<uint64_t>(record.clusterBytes) / bps;
    const uint64_t dataStart = record.partitionStart + record.dataAreaStart;
    uint64_t remaining = std::min(maxBytes, uint64_t{record.size});
    if (remaining == 0) return kOk;

    const uint32_t piecesSectors =
        std::max<uint32_t>(1, static_cast<uint32_t>(kReadPieceBytes / bps));
    std::vector<std::byte> piece(size_t{piecesSectors} * bps);
    uint32_t cluster = record.key;
    while (remaining > 0) {
        uint64_t sector = 0;
        uint64_t sectors = sectorsPerCluster;
        const bool rootArea = cluster == 0 && layout.rootDirSectors != 0;
        if (rootArea) {
            if (record.dataAreaStart < layout.rootDirSectors) break;
            sector = dataStart - layout.rootDirSectors;
            sectors = layout.rootDirSectors;
        } else if (cluster >= 2 && cluster <= layout.maxCluster) {
            sector = dataStart + uint64_t{cluster - 2} * sectorsPerCluster;
        } else {
            break;
        }
        for (uint64_t done = 0; done < sectors && remaining > 0;) {
            const uint32_t count =
                static_cast<uint32_t>(std::min<uint64_t>(piecesSectors, sectors - done));
            uint32_t read = 0;
            const Status s =
                ReadSectors(source, count, piece, sector + done, static_cast<int>(bps), read);
            const uint64_t got = std::min<uint64_t>(uint64_t{read} * bps, remaining);
            if (got > 0) {
                if (const Status answer = sink(std::span(piece).first(static_cast<size_t>(got)));
                    answer != kOk) {
                    return answer;
                }
                remaining -= got;
            }
            if (read < count && remaining > 0) return s != kOk ? s : kErrReadFault;
            done += count;
        }
        if (remaining == 0 || rootArea) break;
        const auto next = NextFileCluster(layout, cluster);
        if (!next) break;
        cluster = *next;
    }
    return remaining == 0 ? kOk : kErrHandleEof;
}

}  // namespace keltra
