// The exFAT entry-set parser, the folder walk, the stream reader and the free runs over a
// volume whose FAT, bitmap and folders are arbitrary bytes. The input is parsed as entry sets
// at every entry position; then its first 1,024 bytes become the start of the FAT, the next
// 56 the allocation bitmap, and the rest the root folder and the clusters after it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/exfat/exfat_directory_walker.h"
#include "fuzz/memory_source.h"
#include "platform/little_endian.h"

namespace {

using namespace keltra;

constexpr uint32_t kSectors = 512;
constexpr uint32_t kFatOffset = 24;
constexpr uint32_t kFatSectors = 4;
constexpr uint32_t kHeapOffset = 64;
constexpr size_t kBitmapBytes = 56;  // 448 clusters

void MakeBootSector(std::vector<std::byte>& image) {
    std::span<std::byte> b(image);
    std::memcpy(image.data() + 3, "EXFAT   ", 8);
    StoreLE<uint64_t>(b, 72, kSectors);
    StoreLE<uint32_t>(b, 80, kFatOffset);
    StoreLE<uint32_t>(b, 84, kFatSectors);
    StoreLE<uint32_t>(b, 88, kHeapOffset);
    StoreLE<uint32_t>(b, 92, kSectors - kHeapOffset);
    StoreLE<uint32_t>(b, 96, 2);
    b[108] = std::byte{9};
    b[109] = std::byte{0};
    b[110] = std::byte{1};
    b[510] = std::byte{0x55};
    b[511] = std::byte{0xAA};
}

class ReadingSink final : public FatScanSink {
  public:
    ReadingSink(const ExFatVolume& volume, ExFatClusterMap& map) : volume_(volume), map_(map) {}
    void FileFound(const FoundRecord& record, uint64_t) override {
        ExFatStream stream{record.key, (record.location & 1) != 0, record.size / 2, record.size};
        IgnoreStatus(ReadExFatStream(volume_, map_, stream, 1 << 20,
                                     [](std::span<const std::byte>) { return kOk; }),
                     "any answer will do on arbitrary bytes");
    }
    void FolderFound(const FoundRecord&, uint64_t) override {}

  private:
    const ExFatVolume& volume_;
    ExFatClusterMap& map_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto input = std::as_bytes(std::span(data, size));
    for (size_t at = 0; at < size; at += kExFatEntryBytes) {
        if (const auto set = ParseExFatEntrySet(input.subspan(at))) {
            if (set->entryCount < 3 || set->entryCount > kExFatMaxSetEntries) __builtin_trap();
            if (size - at < size_t{set->entryCount} * kExFatEntryBytes) __builtin_trap();
            if (set->name.empty() || set->name.size() > 255) __builtin_trap();
        }
    }

    // One image for every input: its boot sector stays, the rest is cleared and filled anew.
    static std::vector<std::byte> image = [] {
        std::vector<std::byte> made(size_t{kSectors} * 512);
        MakeBootSector(made);
        return made;
    }();
    std::fill(image.begin() + 512, image.end(), std::byte{0});
    const size_t fatPart = std::min<size_t>(size, 1024);
    std::memcpy(image.data() + size_t{kFatOffset} * 512, data, fatPart);
    const size_t bitmapPart = std::min(size - fatPart, kBitmapBytes);
    std::vector<uint8_t> bitmap(data + fatPart, data + fatPart + bitmapPart);
    const size_t rest =
        std::min(size - fatPart - bitmapPart, image.size() - size_t{kHeapOffset} * 512);
    std::memcpy(image.data() + size_t{kHeapOffset} * 512, data + fatPart + bitmapPart, rest);

    const auto geometry = ReadExFatGeometry(image);
    if (!geometry) __builtin_trap();
    const SectorSource source = fuzz::ViewSource(image, 512);
    const ExFatVolume volume{&source, 0, kSectors, *geometry};
    ExFatClusterMap map;
    map.Bind(source, 0, *geometry);
    if (bitmapPart > 0) map.SetBitmap(std::move(bitmap));
    // The tables are made once; an input that names an upcase table loads the root's bytes as one.
    static const ExFatUpcase plain;
    static ExFatUpcase loaded;
    const ExFatUpcase* upcase = &plain;
    const auto root = ReadExFatFolder(volume, map, ExFatRootStream(*geometry));
    if (const auto system = FindExFatSystemEntries(root, geometry->volumeFlags); system.upcase) {
        loaded.Load(root);
        upcase = &loaded;
    }
    ReadingSink sink(volume, map);
    ExFatDirectoryWalker walker(volume, map, *upcase, 1, nullptr, sink);
    walker.Start();
    while (walker.Step()) {
    }
    walker.ReportFolders();

    uint64_t position = 0;
    for (int i = 0; i < 10000 && position < kSectors; ++i) {
        uint64_t length = 0;
        map.NextFreeRange(position, length, kSectors);
        if (length == 0 && position < kSectors) __builtin_trap();  // no progress
        position += length;
    }
    return 0;
}
