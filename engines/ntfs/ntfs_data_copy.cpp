#include "engines/ntfs/ntfs_data_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace keltra::ntfs {

Status FileSink::Write(std::span<const std::byte> bytes) {
    const Status s = file_.WriteAllAt(offset_, bytes);
    if (s == kOk) offset_ += bytes.size();
    return s;
}

Status FileSink::Zeros(uint64_t count) {
    offset_ += count;
    return kOk;
}

Status BufferSink::Write(std::span<const std::byte> bytes) {
    const size_t n = std::min(bytes.size(), buffer_.size() - filled_);
    std::memcpy(buffer_.data() + filled_, bytes.data(), n);
    filled_ += n;
    return kOk;
}

Status BufferSink::Zeros(uint64_t count) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer_.size() - filled_));
    std::memset(buffer_.data() + filled_, 0, n);
    filled_ += n;
    return kOk;
}

Status CopyStream(const SectorSource& source, const Geometry& geometry, const StreamLayout& stream,
                  uint64_t size, DataSink& sink, const PieceProgress& progress,
                  const std::function<bool()>& stopWhen) {
    if (stream.resident) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, stream.residentData.size()));
        return sink.Write(std::span(stream.residentData).first(n));
    }
    // A stream whose first extent was not found has no sizes: take its data as written.
    const uint64_t initialized =
        stream.realSize == 0 && stream.initializedSize == 0 ? size : stream.initializedSize;
    const uint64_t clusterBytes = geometry.ClusterBytes();
    const uint32_t bps = geometry.bytesPerSector;
    std::vector<std::byte> buffer(kCopyPieceBytes);
    uint64_t done = 0;
    for (const DataRun& run : stream.runs) {
        if (done >= size || (stopWhen && stopWhen())) break;
        const uint64_t runBytes =
            run.clusters > UINT64_MAX / clusterBytes ? UINT64_MAX : run.clusters * clusterBytes;
        const uint64_t take = std::min(runBytes, size - done);
        const uint64_t first = geometry.SectorOfCluster(run.lcn);
        uint64_t offset = 0;
        while (offset < take) {
            uint64_t piece = std::min<uint64_t>(kCopyPieceBytes, take - offset);
            Status s = kOk;
            if (run.sparse || done >= initialized) {
                // Zeros go out in one call up to the end of the run.
                piece = take - offset;
                s = sink.Zeros(piece);
            } else {
                const uint32_t sectors = static_cast<uint32_t>((piece + bps - 1) / bps);
                const uint64_t lba =
                    first > UINT64_MAX - offset / bps ? UINT64_MAX : first + offset / bps;
                uint32_t read = 0;
                s = ReadSectors(source, sectors, buffer, lba, static_cast<int>(bps), read);
                if (s != kOk) return s;
                if (done + piece > initialized) {
                    const size_t valid = static_cast<size_t>(initialized - done);
                    std::memset(buffer.data() + valid, 0, static_cast<size_t>(piece) - valid);
                }
                s = sink.Write(std::span(buffer).first(static_cast<size_t>(piece)));
            }
            if (s != kOk) return s;
            offset += piece;
            done += piece;
            if (progress) {
                const int answer = progress(done);
                if (answer != 0) return answer;
            }
            if (stopWhen && stopWhen()) return kOk;
        }
    }
    return kOk;
}

}  // namespace keltra::ntfs
