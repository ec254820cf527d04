#include "engines/fat/fat_volume_reads.h"

#include "platform/little_endian.h"

namespace keltra {
namespace {

constexpr uint32_t kMaxGuessedHighWord = 256;

}  // namespace

Status ReadVolumeSectors(const FatVolume& volume, uint64_t sector, uint32_t count,
                         std::span<std::byte> out) {
    if (sector < volume.start || sector + count > volume.End()) return kErrInvalidParameter;
    uint32_t read = 0;
    const Status s = ReadSectors(*volume.source, count, out, sector,
                                 static_cast<int>(volume.geometry.bytesPerSector), read);
    if (s != kOk) return s;
    return read == count ? kOk : kErrReadFault;
}

uint32_t GuessFolderCluster(const FatVolume& volume, uint16_t low,
                            std::vector<std::byte>& scratch) {
    const FatGeometry& g = volume.geometry;
    scratch.resize(g.bytesPerSector);
    for (uint32_t h = 0; h <= kMaxGuessedHighWord; ++h) {
        const uint32_t cluster = (h << 16) | low;
        if (cluster < 2) continue;
        if (!g.IsDataCluster(cluster)) break;
        if (ReadVolumeSectors(volume, volume.ClusterSector(cluster), 1, scratch) != kOk) break;
        const bool dotPair = BytesEqual(scratch, 0, ". ") && BytesEqual(scratch, 32, "..");
        if (dotPair && FatEntryView(scratch).Cluster() == cluster) return cluster;
    }
    return low;
}

uint32_t GuessFileCluster(const FatVolume& volume, uint16_t low, std::string_view extension,
                          const FatContentCheck& check, std::vector<std::byte>& scratch) {
    if (extension.empty() || !check) return low;
    const FatGeometry& g = volume.geometry;
    scratch.resize(g.bytesPerSector);
    for (uint32_t h = 0; h <= kMaxGuessedHighWord; ++h) {
        const uint32_t cluster = (h << 16) | low;
        if (cluster < 2) continue;
        if (!g.IsDataCluster(cluster)) break;
        const uint64_t sector = volume.ClusterSector(cluster);
        if (ReadVolumeSectors(volume, sector, 1, scratch) != kOk) break;
        if (check(scratch, extension, sector)) return cluster;
    }
    return low;
}

}  // namespace keltra
