#include "engines/carving/carve_session.h"

namespace keltra {

bool IsCarvableSectorSize(int sectorSize) {
    return sectorSize >= 512 && sectorSize <= 4096 && (sectorSize & (sectorSize - 1)) == 0;
}

std::span<const std::byte> CarveSession::ReadProbe(uint64_t lba, uint32_t count) {
    const auto ss = static_cast<int>(sectorSize);
    if (source == nullptr || count == 0 || !IsCarvableSectorSize(ss) ||
        uint64_t{count} * sectorSize > probe_.size()) {
        return {};
    }
    const auto buffer = std::span(probe_).first(size_t{count} * sectorSize);
    uint32_t read = 0;
    if (ReadSectors(*source, count, buffer, lba, ss, read) != kOk || read != count) return {};
    return buffer;
}

std::span<std::byte> CarveSession::Chunk() {
    if (chunk_.empty()) chunk_.resize(kCarveChunkBytes);
    return chunk_;
}

}  // namespace keltra
