// The content check of every extension in the table over arbitrary first bytes and disk.
#include "engines/carving/carve_at_sector.h"
#include "engines/carving/signature_table.h"
#include "memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace keltra;
    if (size < 3) return 0;
    const auto table = FileSignatureTable();
    const std::string_view extension =
        data[0] < table.size() ? table[data[0]].extension : std::string_view("txt");
    constexpr int kSizes[] = {512, 1024, 2048, 4096};
    const int sectorSize = kSizes[data[1] & 3];
    const uint64_t start = data[2] & 7;
    std::vector<std::byte> image;
    const SectorSource source =
        fuzz::MemorySource(data + 3, size - 3, static_cast<uint32_t>(sectorSize), image);
    // The first bytes as an engine hands them: any length up to one sector, from `start`.
    const size_t from = std::min<size_t>(image.size(), start * sectorSize);
    const size_t length = std::min<size_t>(image.size() - from, (data[1] >> 2) * 9);
    (void)CheckFileContent(std::span<const std::byte>(image).subspan(from, length), extension,
                           source, sectorSize, start);
    return 0;
}
