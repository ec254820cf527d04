#include "engines/ntfs/ntfs_data_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/ntfs/lznt1.h"

namespace keltra::ntfs {

namespace {

// A compression unit larger than this is damage: NTFS makes units of 16 clusters of at most
// 4 KiB.
constexpr uint64_t kMaxUnitBytes = 1024 * 1024;

// Reads `clusters` clusters from `lcn` on into `out` (exactly that long). A read that stops
// early ends with its status; a range past the source gives 87.
Status ReadClusters(const SectorSource& source, const Geometry& geometry, uint64_t lcn,
                    uint64_t clusters, std::span<std::byte> out) {
    const uint32_t bps = geometry.bytesPerSector;
    const uint64_t first = geometry.SectorOfCluster(lcn);
    const uint64_t sectors = clusters * geometry.sectorsPerCluster;
    for (uint64_t done = 0; done < sectors;) {
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(kCopyPieceBytes / bps, sectors - done));
        const uint64_t lba = first > UINT64_MAX - done ? UINT64_MAX : first + done;
        uint32_t read = 0;
        const Status s = ReadSectors(source, count, out.subspan(done * bps, size_t{count} * bps),
                                     lba, static_cast<int>(bps), read);
        if (s != kOk) return s;
        if (read != count) return kErrReadFault;
        done += count;
    }
    return kOk;
}

// The clusters of one compression unit, taken in VCN order from the stream's runs.
struct UnitPieces {
    std::vector<DataRun> pieces;
    uint64_t covered = 0;    // clusters the runs give for the unit
    uint64_t allocated = 0;  // of them, clusters that lie on the disk
};

// Walks the runs forward, one unit at a time.
class RunCursor {
  public:
    explicit RunCursor(const std::vector<DataRun>& runs) : runs_(runs) {}

    UnitPieces Take(uint64_t clusters) {
        UnitPieces unit;
        while (unit.covered < clusters && index_ < runs_.size()) {
            const DataRun& run = runs_[index_];
            const uint64_t take = std::min(run.clusters - inRun_, clusters - unit.covered);
            if (take > 0) {
                unit.pieces.push_back({run.sparse ? 0 : run.lcn + inRun_, take, run.sparse});
                unit.covered += take;
                if (!run.sparse) unit.allocated += take;
            }
            inRun_ += take;
            if (inRun_ >= run.clusters) {
                ++index_;
                inRun_ = 0;
            }
        }
        return unit;
    }

  private:
    const std::vector<DataRun>& runs_;
    size_t index_ = 0;
    uint64_t inRun_ = 0;
};

// A compressed stream, unit by unit: a unit of sparse clusters only is zeros, a unit whose
// clusters all lie on the disk is stored as it is, and a unit with fewer clusters on the disk
// than the runs give it (the rest sparse) holds LZNT1 chunks. The last unit may be given fewer
// clusters than a whole unit. Corrupt chunks leave zeros and the data goes on; the reading then
// ends with 1392.
Status ReadCompressedData(const SectorSource& source, const Geometry& geometry,
                          const StreamLayout& stream, uint64_t size, const PieceSink& sink) {
    const uint64_t clusterBytes = geometry.ClusterBytes();
    const uint64_t unitClusters = uint64_t{1} << stream.compressionUnit;
    const size_t unitBytes = static_cast<size_t>(unitClusters * clusterBytes);
    std::vector<std::byte> packed(unitBytes);
    std::vector<std::byte> unit(unitBytes);
    RunCursor cursor(stream.runs);
    const uint64_t initialized =
        stream.realSize == 0 && stream.initializedSize == 0 ? size : stream.initializedSize;
    Status damage = kOk;
    uint64_t done = 0;
    while (done < size) {
        const UnitPieces pieces = cursor.Take(unitClusters);
        if (pieces.covered == 0) break;
        const bool compressed = pieces.allocated != 0 && pieces.allocated < pieces.covered;
        // Stored units are read in place; compressed ones into `packed`, their sparse tail
        // left out.
        const auto target = compressed ? std::span(packed) : std::span(unit);
        size_t at = 0;
        for (const DataRun& piece : pieces.pieces) {
            const auto bytes = std::span(target).subspan(at, piece.clusters * clusterBytes);
            if (piece.sparse) {
                if (compressed) continue;
                std::fill(bytes.begin(), bytes.end(), std::byte{0});
            } else if (const Status s =
                           ReadClusters(source, geometry, piece.lcn, piece.clusters, bytes);
                       s != kOk) {
                return s;
            }
            at += bytes.size();
        }
        if (compressed && DecompressLznt1(std::span(packed).first(at), unit).corrupt &&
            damage == kOk) {
            damage = kErrFileCorrupt;
        }
        const uint64_t unitSize = pieces.covered * clusterBytes;
        const size_t give = static_cast<size_t>(std::min(unitSize, size - done));
        if (done + give > initialized) {
            const size_t valid = static_cast<size_t>(initialized > done ? initialized - done : 0);
            std::fill(unit.begin() + static_cast<ptrdiff_t>(valid),
                      unit.begin() + static_cast<ptrdiff_t>(give), std::byte{0});
        }
        for (size_t offset = 0; offset < give; offset += kCopyPieceBytes) {
            const Status s =
                sink(std::span(unit).subspan(offset, std::min(kCopyPieceBytes, give - offset)));
            if (s != kOk) return s;
        }
        done += give;
    }
    return damage;
}

}  // namespace

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
    const uint64_t clusterBytes = geometry.ClusterBytes();
    if (stream.Compressed() && stream.compressionUnit < 32 &&
        (uint64_t{1} << stream.compressionUnit) <= kMaxUnitBytes / clusterBytes) {
        return ReadCompressedData(source, geometry, stream, size, sink);
    }
    // A stream whose first extent was not found has no sizes: take its data as written.
    const uint64_t initialized =
        stream.realSize == 0 && stream.initializedSize == 0 ? size : stream.initializedSize;
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
