#include "engines/ntfs/ntfs_geometry.h"

#include <algorithm>

#include "engines/layouts/boot_area.h"

namespace keltra::ntfs {

namespace {

bool IsPowerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// a × b + c, or UINT64_MAX when that does not fit.
uint64_t MulAdd(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t product = 0;
    uint64_t sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum)) {
        return UINT64_MAX;
    }
    return sum;
}

}  // namespace

uint64_t Geometry::SectorOfCluster(uint64_t lcn) const {
    return MulAdd(lcn, sectorsPerCluster, partitionStart);
}

Status GeometryFromBootSector(std::span<const std::byte> bootSector, uint64_t partitionStart,
                              uint64_t sectorCount, Geometry& out) {
    if (bootSector.size() < 512) return kErrInvalidParameter;
    const NtfsBootFields f = ReadNtfsBootFields(bootSector);
    Geometry g;
    g.partitionStart = partitionStart;
    g.sectorCount = sectorCount;
    g.bytesPerSector = f.bytesPerSector == 0 ? 512 : f.bytesPerSector;
    if (!IsPowerOfTwo(g.bytesPerSector) || g.bytesPerSector < 512 || g.bytesPerSector > 4096) {
        return kErrInvalidParameter;
    }
    if (f.sectorsPerClusterRaw <= 0 ||
        !IsPowerOfTwo(static_cast<uint32_t>(f.sectorsPerClusterRaw))) {
        return kErrInvalidParameter;
    }
    g.sectorsPerCluster = static_cast<uint32_t>(f.sectorsPerClusterRaw);
    g.sectorsPerRecord = g.bytesPerSector == 512 ? 2 : 1;
    g.recordSize = g.bytesPerSector * g.sectorsPerRecord;
    g.mftStart = g.SectorOfCluster(f.mftCluster);
    out = g;
    return kOk;
}

MftMap::MftMap(const Geometry& geometry, std::vector<DataRun> runs)
    : geometry_(geometry), runs_(std::move(runs)) {
    firstSector_.reserve(runs_.size());
    uint64_t offset = 0;
    for (const DataRun& run : runs_) {
        firstSector_.push_back(offset);
        offset = MulAdd(run.clusters, geometry_.sectorsPerCluster, offset);
        if (offset == UINT64_MAX) break;
    }
    runs_.resize(firstSector_.size());
    total_ = offset;
}

std::optional<uint64_t> MftMap::SectorOfRecord(uint64_t number) const {
    const uint64_t offset = MulAdd(number, geometry_.sectorsPerRecord, 0);
    if (firstSector_.empty() || offset >= total_) return std::nullopt;
    // The last run that begins at or before the offset holds it.
    const auto it = std::upper_bound(firstSector_.begin(), firstSector_.end(), offset);
    const size_t i = static_cast<size_t>(it - firstSector_.begin()) - 1;
    const DataRun& run = runs_[i];
    if (run.sparse) return std::nullopt;
    const uint64_t start = geometry_.SectorOfCluster(run.lcn);
    if (start == UINT64_MAX) return std::nullopt;
    return MulAdd(1, start, offset - firstSector_[i]);
}

}  // namespace keltra::ntfs
