#include "engines/fat/fat_high_word_guess.h"

#include "engines/layouts/fat_entry.h"
#include "platform/little_endian.h"

namespace keltra {
namespace {

constexpr uint32_t kMaxGuessedHighWord = 256;

}  // namespace

std::vector<uint32_t> HighWordCandidates(const FatGeometry& geometry, uint16_t low) {
    std::vector<uint32_t> clusters;
    for (uint32_t h = 0; h <= kMaxGuessedHighWord; ++h) {
        const uint32_t cluster = (h << 16) | low;
        if (cluster < 2) continue;
        if (!geometry.IsDataCluster(cluster)) break;
        clusters.push_back(cluster);
    }
    return clusters;
}

uint32_t GuessFolderCluster(const FatVolume& volume, uint16_t low, const FatSectorRead& read,
                            std::vector<std::byte>& scratch) {
    scratch.resize(volume.geometry.bytesPerSector);
    for (const uint32_t cluster : HighWordCandidates(volume.geometry, low)) {
        if (read(volume.ClusterSector(cluster), scratch) != kOk) break;
        const bool dotPair = BytesEqual(scratch, 0, ". ") && BytesEqual(scratch, 32, "..");
        if (dotPair && FatEntryView(scratch).Cluster() == cluster) return cluster;
    }
    return low;
}

uint32_t GuessFileCluster(const FatVolume& volume, uint16_t low, std::string_view extension,
                          const FatContentCheck& check, const FatSectorRead& read,
                          std::vector<std::byte>& scratch) {
    if (extension.empty() || !check) return low;
    scratch.resize(volume.geometry.bytesPerSector);
    for (const uint32_t cluster : HighWordCandidates(volume.geometry, low)) {
        const uint64_t sector = volume.ClusterSector(cluster);
        if (read(sector, scratch) != kOk) break;
        if (check(scratch, extension, sector)) return cluster;
    }
    return low;
}

}  // namespace keltra
