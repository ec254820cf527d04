#include "engines/carving/carve_context.h"

namespace keltra {

namespace {

// The recognisers read at most 4096 bytes (the transport-stream look-ahead) or one sector.
constexpr size_t kProbeBytes = 4096;

std::span<std::byte, kProbeBytes> ProbeBuffer() {
    static std::vector<std::byte> probe(kProbeBytes);
    return std::span<std::byte, kProbeBytes>(probe.data(), kProbeBytes);
}

}  // namespace

CarveContext& TheCarveContext() {
    static CarveContext context;
    return context;
}

std::vector<TsStreamRange>& TsStreamRanges() {
    static std::vector<TsStreamRange> ranges;
    return ranges;
}

bool IsCarvableSectorSize(int sectorSize) {
    return sectorSize >= 512 && sectorSize <= 4096 && (sectorSize & (sectorSize - 1)) == 0;
}

std::span<const std::byte> ReadProbeSectors(uint64_t lba, uint32_t count) {
    const CarveContext& ctx = TheCarveContext();
    const auto ss = static_cast<int>(ctx.sectorSize);
    if (ctx.source == nullptr || count == 0 || !IsCarvableSectorSize(ss) ||
        uint64_t{count} * ctx.sectorSize > kProbeBytes) {
        return {};
    }
    const auto buffer = ProbeBuffer().first(size_t{count} * ctx.sectorSize);
    uint32_t read = 0;
    if (ReadSectors(*ctx.source, count, buffer, lba, ss, read) != kOk || read != count) return {};
    return buffer;
}

}  // namespace keltra
