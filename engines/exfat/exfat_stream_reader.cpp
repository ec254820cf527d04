#include "engines/exfat/exfat_stream_reader.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace keltra {

Status ReadExFatStream(const ExFatVolume& volume, ExFatClusterMap& map, const ExFatStream& stream,
                       uint64_t maxBytes,
                       const std::function<Status(std::span<const std::byte>)>& sink,
                       std::vector<uint32_t>* clusters, uint64_t* unreadSectors) {
    const ExFatGeometry& g = volume.geometry;
    const uint32_t bps = g.bytesPerSector;
    // No stream holds more than the cluster heap.
    const uint64_t heapBytes = uint64_t{g.clusterCount} * g.ClusterBytes();
    uint64_t remaining = std::min({maxBytes, stream.length, heapBytes});
    if (remaining == 0) return kOk;
    // Bytes still to read from the disk; the rest are zeros.
    uint64_t stored = std::min(stream.validLength, remaining);
    const uint32_t pieceSectors =
        std::max<uint32_t>(1, static_cast<uint32_t>(kReadPieceBytes / bps));
    std::vector<std::byte> piece(size_t{pieceSectors} * bps);

    uint32_t cluster = stream.firstCluster;
    uint64_t clustersRead = 0;
    std::unordered_set<uint32_t> passed{cluster};
    while (stored > 0) {
        if (!g.IsDataCluster(cluster) || ++clustersRead > g.clusterCount) return kErrHandleEof;
        const uint64_t first = volume.ClusterSector(cluster);
        if (clusters != nullptr) clusters->push_back(cluster);
        for (uint64_t done = 0; done < g.sectorsPerCluster && stored > 0;) {
            const uint64_t wanted = std::min<uint64_t>(stored, uint64_t{pieceSectors} * bps);
            const uint32_t count = static_cast<uint32_t>(
                std::min<uint64_t>((wanted + bps - 1) / bps, g.sectorsPerCluster - done));
            if (first + done + count > volume.End()) return kErrHandleEof;
            uint32_t read = 0;
            const Status s = ReadSectors(*volume.source, count, piece, first + done,
                                         static_cast<int>(bps), read);
            const uint64_t got = std::min<uint64_t>(uint64_t{read} * bps, stored);
            if (got > 0) {
                if (const Status answer = sink(std::span(piece).first(static_cast<size_t>(got)));
                    answer != kOk) {
                    return answer;
                }
                stored -= got;
                remaining -= got;
            }
            if (read < count && stored > 0) {
                if (unreadSectors != nullptr) *unreadSectors += count - read;
                return s != kOk ? s : kErrReadFault;
            }
            done += count;
        }
        if (stored == 0) break;
        if (stream.noFatChain) {
            ++cluster;
        } else {
            const auto next = map.NextChainedCluster(cluster);
            // A chain that comes back to a cluster it passed loops: it ends there.
            if (!next || !passed.insert(*next).second) return kErrHandleEof;
            cluster = *next;
        }
    }
    std::fill(piece.begin(), piece.end(), std::byte{0});
    while (remaining > 0) {
        const size_t zeros = static_cast<size_t>(std::min<uint64_t>(remaining, piece.size()));
        if (const Status answer = sink(std::span(piece).first(zeros)); answer != kOk) return answer;
        remaining -= zeros;
    }
    return kOk;
}

}  // namespace keltra
