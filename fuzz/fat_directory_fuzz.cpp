// The FAT folder walk, the data reader and the cluster bitmap over volumes whose FAT and
// folders are arbitrary bytes. The first input byte picks FAT12, FAT16 or FAT32; the next
// 1,024 bytes become the start of the FAT, the rest the root folder and the clusters after it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/fat/fat_cluster_bitmap.h"
#include "engines/fat/fat_directory_walker.h"
#include "engines/fat/fat_file_reader.h"
#include "fuzz/memory_source.h"
#include "platform/little_endian.h"

namespace {

using namespace keltra;

struct Layout {
    uint16_t reserved, rootEntries, fatSectors16;
    uint32_t totalSectors, fatSectors32;
    bool fat32;
};
constexpr Layout kLayouts[3] = {
    {1, 64, 6, 2048, 0, false},   // FAT12: 2,031 clusters
    {1, 64, 17, 4200, 0, false},  // FAT16: 4,178 clusters
    {32, 0, 0, 2048, 16, true},   // FAT32
};

void MakeVolume(const Layout& l, const uint8_t* data, size_t size, std::vector<std::byte>& image) {
    image.assign(size_t{l.totalSectors} * 512, std::byte{0});
    std::span<std::byte> b(image);
    StoreLE<uint16_t>(b, 11, 512);
    b[13] = std::byte{1};
    StoreLE<uint16_t>(b, 14, l.reserved);
    b[16] = std::byte{1};
    StoreLE<uint16_t>(b, 17, l.rootEntries);
    StoreLE<uint16_t>(b, 19, static_cast<uint16_t>(l.totalSectors));
    StoreLE<uint16_t>(b, 22, l.fatSectors16);
    if (l.fat32) {
        StoreLE<uint32_t>(b, 32, l.totalSectors);
        StoreLE<uint16_t>(b, 19, 0);
        StoreLE<uint32_t>(b, 36, l.fatSectors32);
        StoreLE<uint32_t>(b, 44, 2);
        std::memcpy(image.data() + 82, "FAT32   ", 8);
    }
    image[510] = std::byte{0x55};
    image[511] = std::byte{0xAA};
    const size_t fatAt = size_t{l.reserved} * 512;
    const size_t fatPart = std::min<size_t>(size, 1024);
    std::memcpy(image.data() + fatAt, data, fatPart);
    const size_t dirAt = fatAt + size_t{l.fat32 ? l.fatSectors32 : l.fatSectors16} * 512;
    const size_t rest = std::min(size - fatPart, image.size() - dirAt);
    std::memcpy(image.data() + dirAt, data + fatPart, rest);
}

class ReadingSink final : public FatScanSink {
  public:
    ReadingSink(const SectorSource& source, const FatFileLayout& layout)
        : source_(source), layout_(layout) {}
    void FileFound(const FoundRecord& record, uint64_t) override {
        IgnoreStatus(ReadFatFileData(source_, layout_, record, 1 << 20,
                                     [](std::span<const std::byte>) { return kOk; }),
                     "any answer will do on arbitrary bytes");
    }
    void FolderFound(const FoundRecord&, uint64_t) override {}

  private:
    const SectorSource& source_;
    const FatFileLayout& layout_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t kind = data[0] % 3;
    static std::vector<std::byte> images[3];
    std::vector<std::byte>& image = images[kind];
    MakeVolume(kLayouts[kind], data + 1, size - 1, image);
    const auto geometry = ReadFatGeometry(std::span(image).first(512));
    if (!geometry) __builtin_trap();
    const SectorSource source = fuzz::ViewSource(image, 512);
    const uint64_t sectors = source.totalSectors;
    const FatVolume volume{&source, 0, sectors, *geometry};
    FatTable table;
    IgnoreStatus(table.Load(source, 0, *geometry), "any answer will do on arbitrary bytes");
    FatFileLayout layout{geometry->bytesPerSector, geometry->rootDirSectors, geometry->MaxCluster(),
                         &table};
    ReadingSink sink(source, layout);
    FatDirectoryWalker walker(volume, table, 1, nullptr, sink);
    walker.Start();
    while (walker.Step()) {
    }
    walker.ReportFolders();

    FatClusterBitmap bitmap;
    bitmap.Load(table, *geometry);
    uint64_t position = 0;
    for (int i = 0; i < 10000 && position < sectors; ++i) {
        uint64_t length = 0;
        bitmap.NextFreeRange(position, length, sectors);
        if (length == 0 && position < sectors) __builtin_trap();  // no progress
        position += length;
    }
    return 0;
}
