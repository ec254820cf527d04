#include "engines/ntfs/ntfs_data_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace keltra::ntfs {

Status ReadStreamData(const SectorSource& source, const Geometry& geometry,
                      const StreamLayout& stream, uint64_t size, const PieceSink& sink) {
    if (stream.resident) {
        const auto data = std::span(stream.residentData);
        const size_t total = static_cast<size_t>(std::min<uint64_t>(size, data.size()));
        for (size_t at = 0; at < total; at += kCopyPieceBytes) {
            const Status s = sink(data.subspan(at, std::min(kCopyPieceBytes, total - at)));
            if (s != kOk) return s;
        }
        return kOk;
    }
    // A stream whose first extent was not found has no sizes: take its data as written.
    const uint64_t initialized =
        stream.realSize == 0 && stream.initializedSize == 0 ? size : stream.initializedSize;
    const uint64_t clusterBytes = geometry.ClusterBytes();
    const uint32_t bps = geometry.bytesPerSector;
    std::vector<std::byte> buffer(kCopyPieceBytes);
    uint64_t done = 0;
    for (const DataRun& run : stream.runs) {
        if (done >= size) break;
        const uint64_t runBytes =
            run.clusters > UINT64_MAX / clusterBytes ? UINT64_MAX : run.clusters * clusterBytes;
        const uint64_t take = std::min(runBytes, size - done);
        const uint64_t first = geometry.SectorOfCluster(run.lcn);
        for (uint64_t offset = 0; offset < take;) {
            const size_t piece =
                static_cast<size_t>(std::min<uint64_t>(kCopyPieceBytes, take - offset));
            if (run.sparse || done >= initialized) {
                std::memset(buffer.data(), 0, piece);
            } else {
                const uint32_t sectors = static_cast<uint32_t>((piece + bps - 1) / bps);
                const uint64_t lba =
                    first > UINT64_MAX - offset / bps ? UINT64_MAX : first + offset / bps;
                uint32_t read = 0;
                const Status s =
                    ReadSectors(source, sectors, buffer, lba, static_cast<int>(bps), read);
                if (s != kOk) return s;
                if (done + piece > initialized) {
                    const size_t valid = static_cast<size_t>(initialized - done);
                    std::memset(buffer.data() + valid, 0, piece - valid);
                }
            }
            const Status s = sink(std::span(buffer).first(piece));
            if (s != kOk) return s;
            offset += piece;
            done += piece;
        }
    }
    return kOk;
}

}  // namespace keltra::ntfs
