#include "engines/store_backed_engine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engines/quick_scan.h"
#include "engines/safe_name.h"
#include "scanlog/scan_log_folder.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::ScratchDir;

constexpr uint64_t kFailingLocation = 666;

// An engine whose files hold the bytes (location + i) mod 256, read in 7-byte pieces; a file at
// kFailingLocation fails with a read fault after its first piece.
class FakeEngine final : public StoreBackedEngine, public QuickScan {
  public:
    Status OpenSource(SectorSource, uint32_t, uint64_t, uint64_t, uint16_t) override { return kOk; }
    Status Scan(const std::optional<std::string>&) override { return kOk; }
    int NextFreeRange(uint64_t&, uint64_t&) override { return 0; }
    Status LoadVolumeBitmap() override { return kOk; }

    using StoreBackedEngine::StartNewLog;
    using StoreBackedEngine::Store;

    uint32_t Add(uint64_t parent, std::string_view name, bool folder, uint32_t key,
                 uint64_t size = 0, uint64_t location = 0) {
        FoundRecord& r = Store()->NewRecord();
        r.isFolder = folder ? 1 : 0;
        r.contentIntact = 1;
        r.key = key;
        r.size = size;
        r.location = location;
        r.SetName(name);
        const uint32_t index = r.recordIndex;
        Store()->Link(parent, index, key, folder ? std::optional(name) : std::nullopt);
        return index;
    }

  protected:
    uint32_t RootKey() const override { return 5; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override {
        const uint64_t size = record.size;
        const uint64_t total = std::min(size, maxBytes);
        std::vector<std::byte> piece;
        for (uint64_t done = 0; done < total;) {
            if (record.location == kFailingLocation && done > 0) return kErrReadFault;
            piece.clear();
            for (uint64_t i = 0; i < 7 && done + i < total; ++i) {
                piece.push_back(static_cast<std::byte>((record.location + done + i) & 0xFF));
            }
            if (const Status s = sink(piece); s != kOk) return s;
            done += piece.size();
        }
        return kOk;
    }
};

bool HoldsPattern(const std::string& path, uint64_t location, uint64_t size) {
    const auto bytes = ReadWholeFile(path);
    if (bytes.size() != size) return false;
    for (uint64_t i = 0; i < size; ++i) {
        if (bytes[i] != static_cast<std::byte>((location + i) & 0xFF)) return false;
    }
    return true;
}

struct CopyLog {
    std::vector<std::pair<std::string, Status>> finished;  // files told 100 %
    int cancelAfter = -1;                                  // pieces before answering −9527
    int pieces = 0;
};

int OnCopy(void* user, int percent, int hundred, Status error, const std::string& destination) {
    auto* log = static_cast<CopyLog*>(user);
    EXPECT_EQ(hundred, 100);
    if (percent == 100) log->finished.emplace_back(destination, error);
    if (log->cancelAfter >= 0 && ++log->pieces > log->cancelAfter) return kCancelled.value();
    return 0;
}

TEST(SafePathComponent, NamesFromADiskStayOneComponent) {
    EXPECT_EQ(SafePathComponent("IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(SafePathComponent("../../evil"), ".._.._evil");
    EXPECT_EQ(SafePathComponent("a/b"), "a_b");
    EXPECT_EQ(SafePathComponent("a\\b"), "a_b");
    EXPECT_EQ(SafePathComponent(std::string_view("t\0a\x1f\x7f", 5)), "t_a__");
    EXPECT_EQ(SafePathComponent(""), "_");
    EXPECT_EQ(SafePathComponent("."), "_");
    EXPECT_EQ(SafePathComponent(".."), "__");
    EXPECT_EQ(SafePathComponent("...x"), "...x");
    EXPECT_EQ(SafePathComponent("caf\xC3\xA9.jpg"), "caf\xC3\xA9.jpg") << "UTF-8 is kept";
    const std::string longName = std::string(300, 'n') + ".jpeg";
    const std::string cut = SafePathComponent(longName);
    EXPECT_EQ(cut.size(), kMaxComponentBytes);
    EXPECT_TRUE(cut.ends_with("n.jpeg"));
}

TEST(LogNames, FormatOfTheEngines) {
    EXPECT_EQ(MakeLogName(kQuickLogPrefix, 2048, {2018, 3, 4, 9, 5, 0}), "Fast_2048_2018349 5");
    EXPECT_EQ(MakeLogName(kCarvingLogPrefix, 2048, {2018, 3, 14, 14, 5, 0}),
              "File_Type_2048_201831414 5");
    EXPECT_EQ(MakeLogName(kDeepNtfsLogPrefix, -1, {2026, 12, 7, 23, 59, 0}),
              "Pro_Ntfs_-1_202612723"
              "59");
}

TEST(StoreBackedEngine, ANewLogNeverTakesOverAnOlderOneOfTheSameName) {
    ScratchDir dir;
    FakeEngine first, second;
    ASSERT_EQ(first.StartNewLog(dir / "scan", "Fast_0_20261271 0"), kOk);
    first.Add(ParentKey(5, 0), "first.txt", false, 100, 10, 1);
    ASSERT_EQ(first.Store()->Flush(), kOk);
    // A second scan within the same minute gets a log of its own and starts empty; the first
    // engine keeps its records.
    ASSERT_EQ(second.StartNewLog(dir / "scan", "Fast_0_20261271 0"), kOk);
    EXPECT_EQ(second.Store()->LogName(), "Fast_0_20261271 0_2");
    EXPECT_EQ(second.GetRecordCount(), 0u);
    std::vector<FoundRecord> listed;
    ASSERT_EQ(first.ListFolder(nullptr, 0, listed), kOk);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Name(), "first.txt");
}

class StoreBackedEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(engine.StartNewLog(dir / "scan", "Fast_0_20261271 0"), kOk);
        // root(5) ─ Photos(40) ─ a.jpg, "../../evil", "a/b", ".."(41) ─ x.txt
        //                      └ empty(42), broken.bin
        root = ParentKey(5, 0);
        engine.Add(root, "top.txt", false, 100, 10, 1);
        photos = engine.Add(root, "Photos", true, 40);
        engine.Add(ParentKey(40, 1), "a.jpg", false, 101, 1000, 7);
        engine.Add(ParentKey(40, 1), "../../evil", false, 102, 20, 3);
        engine.Add(ParentKey(40, 1), "a/b", false, 103, 20, 4);
        engine.Add(ParentKey(40, 1), "broken.bin", false, 104, 50, kFailingLocation);
        engine.Add(ParentKey(40, 1), "..", true, 41);
        engine.Add(ParentKey(40, 1), "empty", true, 42);
        xtxt = engine.Add(ParentKey(41, 2), "x.txt", false, 105, 30, 9);
    }
    FoundRecord Record(uint32_t index) {
        std::vector<FoundRecord> all;
        EXPECT_EQ(engine.Store()->Flush(), kOk);
        EXPECT_EQ(engine.Store()->SearchByExtension("*.txt|", all), kOk);
        for (const auto& r : all) {
            if (r.recordIndex == index) return r;
        }
        FoundRecord folder;
        EXPECT_EQ(engine.Store()->FindFolderRecord(40, folder), kOk);
        return folder;
    }

    ScratchDir dir;
    FakeEngine engine;
    uint64_t root = 0;
    uint32_t photos = 0;
    uint32_t xtxt = 0;
};

TEST_F(StoreBackedEngineTest, ListCountAndPath) {
    std::vector<FoundRecord> out;
    ASSERT_EQ(engine.ListFolder(nullptr, 0, out), kOk);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].Name(), "top.txt");
    EXPECT_EQ(engine.ListFolder(nullptr, 1, out), kErrInvalidParameter);
    uint32_t count = 0;
    EXPECT_EQ(engine.CountFolderFiles(nullptr, 1, count), kErrInvalidParameter);
    ASSERT_EQ(engine.CountFolderFiles(nullptr, 0, count), kOk);
    EXPECT_EQ(count, 6u);
    const FoundRecord folder = out[1];
    ASSERT_EQ(engine.CountFolderFiles(&folder, 1, count), kOk);
    EXPECT_EQ(count, 5u);
    FoundRecord keyless = folder;
    keyless.key = 0;  // a folder record with key 0 stands for the root
    ASSERT_EQ(engine.CountFolderFiles(&keyless, 0, count), kOk);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(engine.GetRecordCount(), 9u);

    std::string path;
    ASSERT_EQ(engine.GetRecordPath(Record(xtxt), path), kOk);
    EXPECT_EQ(path, "Photos/../");
    ASSERT_EQ(engine.GetRecordPath(out[0], path), kOk);
    EXPECT_EQ(path, "") << "directly under the root";
}

TEST_F(StoreBackedEngineTest, FolderRecoveryStaysInsideItsDestination) {
    CopyLog log;
    engine.SetCallbacks(nullptr, OnCopy, &log, 100);
    const fs::path outer = dir.Path() / "out";
    const std::string destination = (outer / "photo" / "Photos").string();
    // The folder lies at depth 1: its target's separators minus the root's give 1.
    const int rootSeparators =
        static_cast<int>(std::count(destination.begin(), destination.end(), '/')) - 1;
    // A second file that ends up with the same safe name is not copied over the first.
    engine.Add(ParentKey(40, 1), "a_b", false, 106, 20, 5);
    const FoundRecord folder = Record(photos);
    ASSERT_EQ(folder.Name(), "Photos");
    ASSERT_EQ(engine.RecoverRecord(folder, destination, rootSeparators), kOk);

    const fs::path d = destination;
    EXPECT_TRUE(HoldsPattern((d / "a.jpg").string(), 7, 1000));
    EXPECT_TRUE(HoldsPattern((d / ".._.._evil").string(), 3, 20));
    EXPECT_TRUE(HoldsPattern((d / "a_b").string(), 4, 20));
    EXPECT_TRUE(HoldsPattern((d / "a_b(1)").string(), 5, 20));
    EXPECT_TRUE(HoldsPattern((d / "__" / "x.txt").string(), 9, 30)) << "sub-folder '..' walked";
    EXPECT_TRUE(fs::is_directory(d / "empty")) << "an empty sub-folder is created";
    // Nothing escaped: every file below the scratch folder lies inside the destination.
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        if (!entry.is_regular_file() || entry.path().string().find("/scan/") != std::string::npos) {
            continue;
        }
        EXPECT_EQ(entry.path().string().rfind(destination + "/", 0), 0u) << entry.path();
    }
    // The read fault of one file is told and the folder goes on.
    const auto broken = std::find_if(log.finished.begin(), log.finished.end(),
                                     [](const auto& f) { return f.first.ends_with("broken.bin"); });
    ASSERT_NE(broken, log.finished.end());
    EXPECT_EQ(broken->second, kErrReadFault);
    EXPECT_EQ(fs::file_size(d / "broken.bin"), 7u) << "a partly written file stays";
    EXPECT_EQ(log.finished.size(), 6u) << "every file told 100 % exactly once";
}

TEST_F(StoreBackedEngineTest, CancelEndsTheWholeWalkAndSingleFilesMakeTheirFolders) {
    CopyLog log;
    log.cancelAfter = 6;
    engine.SetCallbacks(nullptr, OnCopy, &log, 100);
    const std::string destination = dir / "out/Photos";
    const int rootSeparators =
        static_cast<int>(std::count(destination.begin(), destination.end(), '/')) - 1;
    EXPECT_EQ(engine.RecoverRecord(Record(photos), destination, rootSeparators), kCancelled);
    EXPECT_EQ(fs::file_size(fs::path(destination) / "a.jpg"), 28u) << "copied so far is kept";
    EXPECT_FALSE(fs::exists(fs::path(destination) / "__" / "x.txt"));

    CopyLog quiet;
    engine.SetCallbacks(nullptr, OnCopy, &quiet, 100);
    const std::string single = dir / "elsewhere/deep/down/x.txt";
    ASSERT_EQ(engine.RecoverRecord(Record(xtxt), single, 0), kOk);
    EXPECT_TRUE(HoldsPattern(single, 9, 30));
    ASSERT_EQ(quiet.finished.size(), 1u);
    EXPECT_EQ(quiet.finished[0].second, kOk);
}

TEST_F(StoreBackedEngineTest, PreviewGoesToATemporaryFileOrTheBuffer) {
    test::ScopedAppDataFolder appData;
    std::vector<FoundRecord> photosList;
    const FoundRecord folder = Record(photos);
    ASSERT_EQ(engine.ListFolder(&folder, 1, photosList), kOk);
    const auto byName = [&](std::string_view name) {
        return *std::find_if(photosList.begin(), photosList.end(),
                             [&](const FoundRecord& r) { return r.Name() == name; });
    };
    std::string tempPath;
    std::array<std::byte, 16> buffer{};
    uint32_t size = buffer.size();
    int calls = 0;
    const PreviewCallback count = [](void* user, int, int) {
        ++*static_cast<int*>(user);
        return 0;
    };
    ASSERT_EQ(engine.ReadRecordData(byName("a.jpg"), tempPath, buffer, size, count, &calls), kOk);
    EXPECT_EQ(tempPath, ScanLogFolder() + "/tmp.jpg");
    EXPECT_EQ(tempPath.rfind(appData.Path().string(), 0), 0u);
    EXPECT_TRUE(HoldsPattern(tempPath, 7, 1000));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(calls, 143);

    // Other types fill the buffer, up to the size asked for.
    EXPECT_EQ(engine.ReadRecordData(folder, tempPath, buffer, size, nullptr, nullptr),
              kErrInvalidParameter);
    size = 10;
    ASSERT_EQ(engine.ReadRecordData(byName("a/b"), tempPath, buffer, size, nullptr, nullptr), kOk);
    EXPECT_TRUE(tempPath.empty());
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(buffer[9], std::byte{13});

    // A failed read into a temporary file leaves no file and no path.
    FoundRecord clip = byName("a.jpg");
    clip.SetName("clip.avi");
    clip.location = kFailingLocation;
    EXPECT_EQ(engine.ReadRecordData(clip, tempPath, buffer, size, nullptr, nullptr), kErrReadFault);
    EXPECT_TRUE(tempPath.empty());
    EXPECT_FALSE(fs::exists(ScanLogFolder() + "/tmp.avi"));
}

}  // namespace
}  // namespace keltra
