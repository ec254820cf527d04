// Carving attempts at every sector of an arbitrary small disk: recognisers, end finders and the
// stop scan must stay inside their buffers and finish.
#include <string>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keltra;
    if (size < 2) return 0;
    // First byte: sector size (sometimes one the carving code refuses) and the flags.
    constexpr int kSizes[] = {512, 1024, 2048, 4096, 512, 512, 700, 0};
    const int sectorSize = kSizes[data[0] & 7];
    CarveSession session;
    session.transportStreamFlag = (data[0] >> 3) & 1;
    session.m2tsFlag = (data[0] >> 4) & 1;
    if ((data[0] >> 5) & 1) session.transportStreams.push_back({data[1], uint64_t{data[1]} + 3});

    std::vector<std::byte> image;
    const uint32_t unit = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 512;
    const SectorSource source = fuzz::MemorySource(data + 2, size - 2, unit, image);
    for (uint64_t s = 0; s < source.totalSectors; ++s) {
        std::string name;
        FileTypeCode type = kTypeNone;
        uint64_t carved = 0;
        const auto header = std::span<const std::byte>(image).subspan(s * unit, unit);
        (void)CarveAtSector(session, sectorSize, source, header, s, s, source.totalSectors, -1, 0,
                            name, type, carved);
    }
    return 0;
}
