#include "engines/fat/quick_fat_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "engines/engine_factory.h"
#include "platform/little_endian.h"
#include "tests/unit/fat_test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Opens the engine on a disk held in memory whose FAT volume starts at `start`.
std::unique_ptr<QuickFatScan> MemoryEngine(std::vector<std::byte> bytes,
                                               const std::string& logFolder, uint64_t start = 0,
                                               Status* opened = nullptr) {
    auto engine = std::make_unique<QuickFatScan>();
    engine->SetLogFolder(logFolder);
    SectorSource source;
    const uint64_t sectors = bytes.size() / 512;
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(std::move(bytes)), sectors);
    const Status s = engine->OpenSource(std::move(source), 512, start, sectors - start, 3);
    if (opened != nullptr) *opened = s;
    return engine;
}

struct Listed {
    FoundRecord record;
    int depth;  // of the folder it was listed in
};

// Every record reachable from the root through ListFolder, by comparable path.
std::map<std::string, Listed> ListTree(ScanEngine& engine, size_t limit = SIZE_MAX) {
    std::map<std::string, Listed> out;
    struct Item {
        std::optional<FoundRecord> folder;
        std::string path;
        int depth;
    };
    std::deque<Item> work{{std::nullopt, "", 0}};
    while (!work.empty() && out.size() < limit) {
        Item item = work.front();
        work.pop_front();
        std::vector<FoundRecord> children;
        engine.ListFolder(item.folder ? &*item.folder : nullptr, item.depth, children);
        for (const FoundRecord& c : children) {
            const std::string path = item.path + std::string(c.Name());
            if (!out.emplace(test::ComparablePath(path), Listed{c, item.depth}).second) continue;
            if (c.isFolder != 0) work.push_back({c, path + "/", item.depth + 1});
        }
    }
    return out;
}

struct ProgressLog {
    std::vector<std::pair<int, int>> reports;            // percent, seconds left
    std::vector<std::pair<std::string, Status>> copies;  // files told 100 %
};

int OnScan(void* user, int percent, int weight, int secondsLeft, uint64_t, uint64_t, uint64_t,
           int) {
    EXPECT_EQ(weight, 100);
    static_cast<ProgressLog*>(user)->reports.emplace_back(percent, secondsLeft);
    return 0;
}

int OnCopy(void* user, int percent, int, Status error, const std::string& destination) {
    if (percent == 100) static_cast<ProgressLog*>(user)->copies.emplace_back(destination, error);
    return 0;
}

std::string Original(const std::string& name) {
    const auto bytes = test::ReadWholeFile(test::FixturePath("fat_originals/" + name));
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string FileText(const std::string& path) {
    const auto bytes = test::ReadWholeFile(path);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(QuickFatScan, FactoryScanListingAndProgress) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    for (const std::string image : {"fat12.img", "fat16.img", "fat32.img"}) {
        SCOPED_TRACE(image);
        auto engine = CreateEngine(SourceRef::Image(test::FixturePath(image), 9), false);
        ASSERT_NE(dynamic_cast<QuickFatScan*>(engine.get()), nullptr);
        dynamic_cast<QuickFatScan&>(*engine).SetLogFolder(logs.Path().string());
        ProgressLog progress;
        engine->SetCallbacks(OnScan, OnCopy, &progress, 100);
        ASSERT_EQ(engine->Scan(std::nullopt), kOk);
        ASSERT_GE(progress.reports.size(), 3u);
        EXPECT_EQ(progress.reports.front(), std::make_pair(1, -1));
        EXPECT_EQ(progress.reports[progress.reports.size() - 2], std::make_pair(80, 10));
        EXPECT_EQ(progress.reports.back(), std::make_pair(100, 0));

        const auto listed = ListTree(*engine);
        std::set<std::string> files;
        for (const auto& [path, l] : listed) {
            if (l.record.isFolder == 0) files.insert(path);
        }
        std::set<std::string> oracle;
        for (const auto& [path, e] : test::FlsDeletedFiles(test::FixturePath(image)))
            oracle.insert(path);
        EXPECT_EQ(files, oracle);
        EXPECT_EQ(engine->GetRecordCount(), listed.size());
        std::string path;
        ASSERT_EQ(engine->GetRecordPath(listed.at("trip/day 1/harbour view.jpg").record, path),
                  kOk);
        EXPECT_EQ(path, "Trip/Day 1/");
        uint32_t count = 0;
        ASSERT_EQ(engine->CountFolderFiles(nullptr, 0, count), kOk);
        EXPECT_EQ(count, oracle.size());
        std::vector<FoundRecord> none;
        EXPECT_EQ(engine->ListFolder(nullptr, 1, none), kErrInvalidParameter);

        // The log is named after the volume's first sector and kept for a later reopen.
        bool named = false;
        for (const auto& entry : fs::directory_iterator(logs.Path())) {
            named = named || entry.path().filename().string().rfind("Fast_0_", 0) == 0;
        }
        EXPECT_TRUE(named);
    }
}

TEST(QuickFatScan, RecoversFilesAndFolderTreesByteForByte) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    const std::map<std::string, std::string> originals = {
        {"photos/deleted long name.bin", "gone.bin"},
        {"photos/2017/summer/beach day.jpg", "beach.jpg"},
        {"docs/old report.txt", "report.txt"},
        {"_ootgone.txt", "rootgone.txt"},
        {"photos/high cluster.jpg", "high.jpg"},
    };
    for (const std::string image : {"fat12.img", "fat16.img", "fat32.img"}) {
        SCOPED_TRACE(image);
        test::ScratchDir out;
        auto engine = CreateEngine(SourceRef::Image(test::FixturePath(image), 9), false);
        dynamic_cast<QuickFatScan&>(*engine).SetLogFolder(logs.Path().string());
        ProgressLog progress;
        engine->SetCallbacks(nullptr, OnCopy, &progress, 100);
        ASSERT_EQ(engine->Scan(std::nullopt), kOk);
        const auto listed = ListTree(*engine);
        for (const auto& [path, original] : originals) {
            if (original == "high.jpg" && image != "fat32.img") continue;
            ASSERT_TRUE(listed.count(path)) << path;
            const std::string target = out / ("files/" + original);
            EXPECT_EQ(engine->RecoverRecord(listed.at(path).record, target, 0), kOk) << path;
            EXPECT_TRUE(FileText(target) == Original(original)) << path;
        }
        // The deleted folder tree with its long names.
        // The deleted folder tree with its long names; the destination root is the folder above
        // it, so Trip itself lies at depth 1, as under the volume's root.
        const std::string root = out.Path().string();
        const std::string trip = out / "Trip";
        ASSERT_EQ(
            engine->RecoverRecord(listed.at("trip").record, trip,
                                  static_cast<int>(std::count(root.begin(), root.end(), '/'))),
            kOk);
        EXPECT_TRUE(FileText(trip + "/Day 1/Harbour view.jpg") == Original("harbour.jpg"));
        EXPECT_TRUE(FileText(trip + "/Day 1/!otes.txt") == Original("notes.txt"));
        EXPECT_TRUE(
            FileText(trip +
                     "/Day 2/A rather long file name that needs several long name entries.jpg") ==
            Original("longname.jpg"));
        for (const auto& [destination, error] : progress.copies)
            EXPECT_EQ(error, kOk) << destination;

        // A picture previews through the temporary file, a text into the buffer.
        std::string temp;
        std::vector<std::byte> buffer(100);
        uint32_t size = 100;
        ASSERT_EQ(engine->ReadRecordData(listed.at("photos/2017/summer/beach day.jpg").record, temp,
                                         buffer, size, nullptr, nullptr),
                  kOk);
        EXPECT_TRUE(FileText(temp) == Original("beach.jpg"));
        size = 100;
        ASSERT_EQ(engine->ReadRecordData(listed.at("docs/old report.txt").record, temp, buffer,
                                         size, nullptr, nullptr),
                  kOk);
        EXPECT_EQ(size, 100u);
        EXPECT_TRUE(std::string(reinterpret_cast<const char*>(buffer.data()), 100) ==
                    Original("report.txt").substr(0, 100));
    }
}

TEST(QuickFatScan, ACopyCutShortByTheChainReportsTheShortfall) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    auto bytes = test::ReadWholeFile(test::FixturePath("fat16.img"));
    auto probe = MemoryEngine(bytes, logs.Path().string());
    ASSERT_EQ(probe->Scan(std::nullopt), kOk);
    const FoundRecord r = ListTree(*probe).at("photos/deleted long name.bin").record;
    const FatGeometry& g = probe->Volume().geometry;
    // Other files took every cluster after the deleted file's first one: no free cluster is
    // left where the file could go on.
    for (uint32_t n = r.key + 1; n <= g.MaxCluster(); ++n)
        StoreLE<uint16_t>(bytes, g.reservedSectors * 512 + size_t{n} * 2, 0xFFFF);
    auto engine = MemoryEngine(bytes, logs.Path().string());
    ProgressLog progress;
    engine->SetCallbacks(nullptr, OnCopy, &progress, 100);
    const std::string target = out / "gone.bin";
    EXPECT_EQ(engine->RecoverRecord(r, target, 0), kErrHandleEof);
    ASSERT_EQ(progress.copies.size(), 1u);
    EXPECT_EQ(progress.copies[0].second, kErrHandleEof);
    EXPECT_EQ(FileText(target), Original("gone.bin").substr(0, g.ClusterBytes()));
}

TEST(QuickFatScan, TwoImagesScannedIntoOneFolderKeepTheirOwnLogs) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    auto first = CreateEngine(SourceRef::Image(test::FixturePath("fat12.img"), 1), false);
    auto second = CreateEngine(SourceRef::Image(test::FixturePath("fat32.img"), 2), false);
    dynamic_cast<QuickFatScan&>(*first).SetLogFolder(logs.Path().string());
    dynamic_cast<QuickFatScan&>(*second).SetLogFolder(logs.Path().string());
    ASSERT_EQ(first->Scan(std::nullopt), kOk);
    const auto before = ListTree(*first);
    ASSERT_EQ(second->Scan(std::nullopt), kOk);
    EXPECT_EQ(ListTree(*first).size(), before.size());
    EXPECT_TRUE(ListTree(*second).count("photos/high cluster.jpg"));
}

TEST(QuickFatScan, AVolumeInsideADiskIsReadAtItsStart) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    std::vector<std::byte> disk(2048 * 512);
    const auto volume = test::ReadWholeFile(test::FixturePath("fat16.img"));
    disk.insert(disk.end(), volume.begin(), volume.end());
    auto engine = MemoryEngine(std::move(disk), logs.Path().string(), 2048);
    ASSERT_EQ(engine->Scan(std::nullopt), kOk);
    const auto listed = ListTree(*engine);
    const FoundRecord& harbour = listed.at("trip/day 1/harbour view.jpg").record;
    EXPECT_EQ(harbour.partitionStart, 2048u);
    EXPECT_GT(harbour.location, 2048u);
    ASSERT_EQ(engine->RecoverRecord(harbour, out / "h.jpg", 0), kOk);
    EXPECT_TRUE(FileText(out / "h.jpg") == Original("harbour.jpg"));
    bool named = false;
    for (const auto& entry : fs::directory_iterator(logs.Path())) {
        named = named || entry.path().filename().string().rfind("Fast_2048_", 0) == 0;
    }
    EXPECT_TRUE(named);
}

TEST(QuickFatScan, APictureWhoseFirstBytesAreGoneIsMarkedDamaged) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    auto bytes = test::ReadWholeFile(test::FixturePath("fat16.img"));
    auto probe = MemoryEngine(bytes, logs.Path().string());
    ASSERT_EQ(probe->Scan(std::nullopt), kOk);
    const FoundRecord beach = ListTree(*probe).at("photos/2017/summer/beach day.jpg").record;
    EXPECT_EQ(beach.contentIntact, 1u);
    const FatGeometry& g = probe->Volume().geometry;
    // Another file's bytes now fill the picture's first cluster.
    std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(g.ClusterSector(beach.key) * 512), 16,
                std::byte{0x41});
    auto engine = MemoryEngine(bytes, logs.Path().string());
    ASSERT_EQ(engine->Scan(std::nullopt), kOk);
    // A damaged picture is neither listed nor found; a text is never checked.
    const auto listed = ListTree(*engine);
    EXPECT_FALSE(listed.count("photos/2017/summer/beach day.jpg"));
    EXPECT_TRUE(listed.count("docs/old report.txt"));
    std::vector<FoundRecord> jpgs;
    ASSERT_EQ(engine->FindByExtensions("*.jpg|", jpgs), kOk);
    for (const FoundRecord& r : jpgs) EXPECT_NE(r.Name(), "Beach day.jpg");
    EXPECT_EQ(jpgs.size(), 2u);  // Harbour view, and the long-named one
}

TEST(QuickFatScan, FreeRangesAreTheClustersTheFatLeavesFree) {
    auto engine = CreateQuickScan(SourceRef::Image(test::FixturePath("fat16.img"), 9));
    auto& fat = dynamic_cast<QuickFatScan&>(*engine);
    const FatVolume& v = fat.Volume();
    ASSERT_EQ(engine->LoadVolumeBitmap(), kOk);
    FatTable table;
    ASSERT_EQ(table.Load(*v.source, 0, v.geometry), kOk);
    uint64_t position = 0;
    uint64_t freeSectors = 0;
    uint64_t previousEnd = 0;
    for (;;) {
        uint64_t length = 0;
        EXPECT_EQ(engine->NextFreeRange(position, length), 1);
        if (length == 0) break;
        EXPECT_GE(position, std::max(previousEnd, v.geometry.dataAreaStart));
        for (uint64_t s = position; s < position + length; s += v.geometry.sectorsPerCluster) {
            const uint32_t cluster = static_cast<uint32_t>(
                (s - v.geometry.dataAreaStart) / v.geometry.sectorsPerCluster + 2);
            uint32_t value = 1;
            if (cluster <= v.geometry.MaxCluster()) {
                ASSERT_EQ(table.Entry(cluster, value), kOk);
                EXPECT_EQ(value, 0u) << cluster;
            }
        }
        freeSectors += length;
        position += length;
        previousEnd = position;
    }
    EXPECT_EQ(position, v.sectors);
    uint64_t freeClusters = 0;
    for (uint32_t n = 2; n <= v.geometry.MaxCluster(); ++n) {
        uint32_t value = 1;
        table.Entry(n, value);
        freeClusters += value == 0 ? 1 : 0;
    }
    const uint64_t tail = v.sectors - v.geometry.dataAreaStart -
                          uint64_t{v.geometry.clusterCount} * v.geometry.sectorsPerCluster;
    EXPECT_EQ(freeSectors, freeClusters * v.geometry.sectorsPerCluster + tail);
}

TEST(QuickFatScan, BadInputGivesClearErrors) {
    test::ScratchDir dir;
    QuickFatScan engine;
    EXPECT_EQ(engine.Open(SourceRef::Image(dir / "missing.img", 1)), kErrFileNotFound);
    std::vector<std::byte> zeros(1 << 20);
    Status opened = kOk;
    auto blank = MemoryEngine(zeros, dir.Path().string(), 0, &opened);
    EXPECT_EQ(opened, kErrInvalidParameter);
    EXPECT_EQ(blank->Scan(std::nullopt), kErrInvalidParameter);
    EXPECT_EQ(blank->GetRecordCount(), 0u);
}

// Random damage to the FAT and the folders of copies of the fixtures: every scan, listing and
// copy ends, whatever the bytes say.
TEST(QuickFatScan, DamagedVolumesNeverCrashOrHang) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    std::mt19937 rng(20171);
    for (const auto& [image, rounds] :
         {std::pair{"fat12.img", 40}, {"fat16.img", 25}, {"fat32.img", 6}}) {
        const auto pristine = test::ReadWholeFile(test::FixturePath(image));
        const auto g = *ReadFatGeometry(std::span(pristine).first(512));
        const size_t fatStart = g.reservedSectors * 512;
        const size_t fatBytes = size_t{g.fatSectors} * 512;
        // The first folder clusters: the root area or cluster and the folders made first.
        const size_t dirStart = g.RootAreaStart() * 512;
        const size_t dirBytes = size_t{g.rootDirSectors} * 512 + 64 * g.ClusterBytes();
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(std::string(image) + " round " + std::to_string(round));
            auto bytes = pristine;
            const int hits = 1 + static_cast<int>(rng() % 40);
            for (int i = 0; i < hits; ++i) {
                const bool fat = rng() % 2 == 0;
                const size_t at = fat ? fatStart + rng() % std::min<size_t>(fatBytes, 4096)
                                      : dirStart + rng() % dirBytes;
                const size_t run = 1 + rng() % 64;
                for (size_t k = 0; k < run && at + k < bytes.size(); ++k)
                    bytes[at + k] = static_cast<std::byte>(rng());
            }
            auto engine = MemoryEngine(std::move(bytes), logs.Path().string());
            ASSERT_EQ(engine->Scan(std::nullopt), kOk);
            const auto listed = ListTree(*engine, 2000);
            int copies = 0;
            for (const auto& [path, l] : listed) {
                if (l.record.isFolder != 0 || l.record.size > (1 << 20) || ++copies > 8) continue;
                engine->RecoverRecord(l.record, out / "copy.bin", 0);
            }
            engine->LoadVolumeBitmap();
            uint64_t position = 0;
            for (int i = 0; i < 100000; ++i) {
                uint64_t length = 0;
                engine->NextFreeRange(position, length);
                if (length == 0) break;
                position += length;
            }
            EXPECT_EQ(position, engine->Volume().sectors);
        }
    }
}

}  // namespace
}  // namespace keltra
