// The deep exFAT search over arbitrary bytes taken as a disk of 512-byte sectors: the pass hands
// every 64 KiB span to the search, the search ends (heaps, tree, log), its folders are listed
// and a few of its files read back.
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/memory_source.h"
#include "fuzz/scratch_folder.h"
#include "tests/support/deep_exfat_feed.h"

namespace {

using namespace keltra;

const std::string& LogFolder() {
    static const std::string folder = fuzz::MakeScratchFolder("keltra-exfat-deep-fuzz");
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    {
        std::vector<std::byte> copy;
        SectorSource source = fuzz::MemorySource(data, size, 512, copy);
        const uint64_t sectors = source.totalSectors;
        DeepExFatSearch search;
        search.SetLogFolder(LogFolder());
        IgnoreStatus(search.OpenSource(std::move(source), 512, 0, sectors, 1),
                     "any answer will do on arbitrary bytes");
        IgnoreStatus(search.OpenLog(std::nullopt), "any answer will do on arbitrary bytes");
        IgnoreStatus(search.ReadBootRegion(), "any answer will do on arbitrary bytes");
        std::vector<std::byte> passCopy;
        const SectorSource pass = fuzz::MemorySource(data, size, 512, passCopy);
        IgnoreStatus(test::FeedDeepExFat(search, pass),
                     "a log that cannot be written is no fault of the input");

        std::deque<std::pair<FoundRecord, int>> work;
        std::vector<FoundRecord> children;
        IgnoreStatus(search.ListFolder(nullptr, 0, children),
                     "any answer will do on arbitrary bytes");
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
                IgnoreStatus(search.ReadRecordData(plain, temp, buffer, got, nullptr, nullptr),
                             "any answer will do on arbitrary bytes");
                continue;
            }
            children.clear();
            IgnoreStatus(search.ListFolder(&record, depth, children),
                         "any answer will do on arbitrary bytes");
            for (const FoundRecord& c : children) work.emplace_back(c, depth + 1);
        }
        std::string path;
        if (!children.empty())
            IgnoreStatus(search.GetRecordPath(children.front(), path),
                         "any answer will do on arbitrary bytes");
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(LogFolder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
    return 0;
}
