#include "engines/carving/carve_context.h"

namespace keltra {

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
    CarveContext& ctx = TheCarveContext();
    const auto ss = static_cast<int>(ctx.sectorSize);
    if (ctx.source == nullptr || count == 0 || !IsCarvableSectorSize(ss) ||
        uint64_t{count} * ctx.sectorSize > ctx.probe.size()) {
        return {};
    }
    const auto buffer = std::span(ctx.probe).first(size_t{count} * ctx.sectorSize);
    uint32_t read = 0;
    if (ReadSectors(*ctx.source, count, buffer, lba, ss, read) != kOk || read != count) return {};
    return buffer;
}

}  // namespace keltra
