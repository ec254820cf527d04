// The deep FAT directory search over arbitrary bytes taken as a disk of 512-byte sectors: the
// pass hands every folder start and directory sector to the handlers, then the search ends, its
// folders are listed and a few of its files read back.
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/memory_source.h"
#include "fuzz/scratch_folder.h"
#include "tests/support/deep_fat_feed.h"

namespace {

using namespace keltra;

const std::string& LogFolder() {
    static const std::string folder = fuzz::MakeScratchFolder("keltra-fat-deep-fuzz");
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    {
        std::vector<std::byte> copy;
        SectorSource source = fuzz::MemorySource(data, size, 512, copy);
        const uint64_t sectors = source.totalSectors;
        DeepFatSearch engine;
        engine.SetLogFolder(LogFolder());
        engine.OpenSource(std::move(source), 512, 0, sectors, 1);
        engine.OpenLog(std::nullopt);
        engine.ReadBootSector();
        std::vector<std::byte> passCopy;
        const SectorSource pass = fuzz::MemorySource(data, size, 512, passCopy);
        test::FeedDeepFat(engine, pass);

        std::deque<std::pair<FoundRecord, int>> work;
        std::vector<FoundRecord> children;
        engine.ListFolder(nullptr, 0, children);
        for (const FoundRecord& c : children) work.emplace_back(c, 1);
        int files = 0;
        for (int steps = 0; !work.empty() && steps < 200; ++steps) {
            const auto [record, depth] = work.front();
            work.pop_front();
            if (record.isFolder == 0) {
                if (++files > 4 || record.size > (1u << 20)) continue;
                std::string temp;
                std::vector<std::byte> buffer(4096);
                uint32_t got = static_cast<uint32_t>(buffer.size());
                FoundRecord plain = record;
                plain.SetName("data.bin");
                engine.ReadRecordData(plain, temp, buffer, got, nullptr, nullptr);
                continue;
            }
            children.clear();
            engine.ListFolder(&record, depth, children);
            for (const FoundRecord& c : children) work.emplace_back(c, depth + 1);
        }
        std::string path;
        if (!children.empty()) engine.GetRecordPath(children.front(), path);
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(LogFolder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
    return 0;
}
