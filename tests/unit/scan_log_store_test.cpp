#include "engines/scan_log_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::ScratchDir;
// Record fields are packed: the tests compare copies of them (unary +), never references.

std::string FileText(const std::string& path) {
    const auto bytes = ReadWholeFile(path);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Adds a record and files it under `parent`; folders also get their folder entry.
uint32_t Add(ScanLogStore& store, uint64_t parent, std::string_view name, bool folder,
             uint32_t key = 0, uint32_t intact = 1) {
    FoundRecord& r = store.NewRecord();
    r.isFolder = folder ? 1 : 0;
    r.contentIntact = intact;
    r.key = key;
    r.size = 1000 + r.recordIndex;
    r.SetName(name);
    const uint32_t index = r.recordIndex;
    store.Link(parent, index, key, folder ? std::optional(name) : std::nullopt);
    return index;
}

std::vector<std::string> Names(const std::vector<FoundRecord>& records) {
    std::vector<std::string> names;
    for (const auto& r : records) names.emplace_back(r.Name());
    return names;
}

TEST(ScanLogStore, RelationTextIsExactAndReopenRestoresEverything) {
    ScratchDir dir;
    const std::string folder = dir / "scan/1";  // created by OpenLog, all levels
    {
        ScanLogStore store;
        ASSERT_EQ(store.OpenLog(folder, "Fast_2048_2018349 5"), kOk);
        for (int i = 0; i < 9; ++i) store.NewRecord().SetName("r" + std::to_string(i + 1));
        store.Link(5, 7, 0);
        store.Link(ParentKey(12, 1), 8, 0);
        store.Link(5, 9, 0);
        ASSERT_EQ(store.Flush(), kOk);
        EXPECT_EQ(FileText(store.RelationPath()), " | 5 - [7,9] | 4294967308 - [8]");
        EXPECT_EQ(fs::file_size(store.MainPath()), 9 * kFoundRecordSize);
    }
    ScanLogStore again;
    ASSERT_EQ(again.OpenLog(folder, "Fast_2048_2018349 5"), kOk);
    EXPECT_EQ(again.RecordCount(), 9u);
    std::vector<FoundRecord> out;
    ASSERT_EQ(again.ListChildren(5, out), kOk);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"r7", "r9"}));
    // New records continue the indices and land at their positions.
    FoundRecord& next = again.NewRecord();
    EXPECT_EQ(+next.recordIndex, 10u);
    next.SetName("r10");
    again.Link(ParentKey(12, 1), 10, 0);
    ASSERT_EQ(again.Flush(), kOk);
    EXPECT_EQ(FileText(again.RelationPath()), " | 5 - [7,9] | 4294967308 - [8,10]");
    const auto bytes = ReadWholeFile(again.MainPath());
    ASSERT_EQ(bytes.size(), 10 * kFoundRecordSize);
    FoundRecord tenth;
    std::memcpy(&tenth, bytes.data() + 9 * kFoundRecordSize, sizeof(tenth));
    EXPECT_EQ(+tenth.recordIndex, 10u);
    EXPECT_EQ(tenth.Name(), "r10");
}

TEST(ScanLogStore, LargeRelationsInRunsAndOutOfOrderKeepTheirTextAndParents) {
    ScratchDir dir;
    std::string expected;
    {
        ScanLogStore store;
        ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
        for (int i = 0; i < 30000; ++i) store.NewRecord();
        // Folder 5 gets runs of consecutive children broken by others, a repeat and a step back;
        // folder 12 every third record. The text is well over one 64 KiB write.
        std::vector<uint32_t> five, twelve;
        for (uint32_t i = 1; i <= 30000; ++i) {
            if (i % 3 == 0) {
                twelve.push_back(i);
            } else {
                five.push_back(i);
            }
        }
        five.push_back(5);
        five.push_back(4);
        for (const uint32_t i : five) store.Link(ParentKey(5, 0), i, 0);
        for (const uint32_t i : twelve) store.Link(ParentKey(12, 1), i, 0);
        FoundRecord folder = EmptyRecord();
        folder.recordIndex = 1;
        std::vector<FoundRecord> none;
        ASSERT_EQ(store.Ancestors(folder, none), kOk);
        EXPECT_TRUE(none.empty()) << "filed under the smallest key: directly under the root";
        store.Link(ParentKey(12, 1), 2, 12, "Twelve");  // record 2 becomes folder 12's record
        for (const auto& [key, list] :
             {std::pair{uint64_t{5}, &five}, std::pair{ParentKey(12, 1), &twelve}}) {
            expected += " | " + std::to_string(key) + " - [";
            for (size_t i = 0; i < list->size(); ++i) {
                expected += (i ? "," : "") + std::to_string((*list)[i]);
            }
            if (key != 5) expected += ",2";
            expected += "]";
        }
        ASSERT_EQ(store.Flush(), kOk);
        EXPECT_GT(expected.size(), 65536u);
        EXPECT_EQ(FileText(store.RelationPath()), expected);
        folder.recordIndex = 9;
        std::vector<FoundRecord> path;
        ASSERT_EQ(store.Ancestors(folder, path), kOk) << "parents made again after the link";
        EXPECT_EQ(Names(path), std::vector<std::string>{"Twelve"});
    }
    ScanLogStore again;
    ASSERT_EQ(again.OpenLog(dir.Path().string(), "log"), kOk);
    std::vector<FoundRecord> children;
    ASSERT_EQ(again.ListChildren(ParentKey(12, 1), children), kOk);
    EXPECT_EQ(children.size(), 10001u);
    uint32_t files = 0;
    ASSERT_EQ(again.CountFiles(ParentKey(5, 0), files), kOk);
    EXPECT_EQ(files, 20002u) << "the repeated children count again, as they are listed";
}

TEST(ScanLogStore, RoundTripOfATreeWithFolderNames) {
    ScratchDir dir;
    std::vector<FoundRecord> before;
    {
        ScanLogStore store;
        ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
        const uint64_t root = ParentKey(5, 0);
        // More than one buffer of records, so the reopen reads several pieces.
        for (int i = 0; i < 450; ++i) Add(store, root, "f" + std::to_string(i) + ".txt", false);
        Add(store, root, "Photos", true, 40);
        Add(store, ParentKey(40, 1), "2017", true, 41);
        const uint32_t deep = Add(store, ParentKey(41, 2), "IMG_1.JPG", false, 77);
        std::vector<FoundRecord> folders;
        FoundRecord r = EmptyRecord();
        r.recordIndex = deep;
        ASSERT_EQ(store.Ancestors(r, before), kOk);
    }  // the destructor flushes
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    EXPECT_EQ(store.RecordCount(), 453u);
    std::vector<FoundRecord> rootList;
    ASSERT_EQ(store.ListChildren(0, rootList), kOk) << "0 = the smallest key";
    ASSERT_EQ(rootList.size(), 451u);
    EXPECT_EQ(rootList.back().Name(), "Photos") << "files before folders";
    EXPECT_EQ(rootList.front().Name(), "f0.txt");
    uint32_t files = 0;
    ASSERT_EQ(store.CountFiles(ParentKey(5, 0), files), kOk);
    EXPECT_EQ(files, 451u);
    FoundRecord deep = EmptyRecord();
    deep.recordIndex = 453;
    std::vector<FoundRecord> after;
    ASSERT_EQ(store.Ancestors(deep, after), kOk);
    EXPECT_EQ(Names(after), (std::vector<std::string>{"2017", "Photos"}));
    EXPECT_EQ(Names(after), Names(before));
    FoundRecord photos;
    ASSERT_EQ(store.FindFolderRecord(40, photos), kOk);
    EXPECT_EQ(+photos.recordIndex, 451u);
    EXPECT_EQ(store.FindFolderRecord(999, photos), kErrInvalidParameter);
}

TEST(ScanLogStore, ListingRulesAndSortOrder) {
    ScratchDir dir;
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    const uint64_t root = ParentKey(5, 0);
    Add(store, root, "zeta", true, 50);
    Add(store, root, "b.doc", false, 0, 0);       // a document failing the check is listed
    Add(store, root, "broken.jpg", false, 0, 0);  // a photo failing it is not
    Add(store, root, "Alpha", true, 51);
    Add(store, root, "a.TXT", false);
    Add(store, root, "B.avi", false);
    std::vector<FoundRecord> out;
    ASSERT_EQ(store.ListChildren(root, out), kOk);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"a.TXT", "B.avi", "b.doc", "Alpha", "zeta"}))
        << "stable: B.avi stays before b.doc";

    // One child is listed as it is; a key without children lists nothing and adds nothing.
    Add(store, ParentKey(50, 1), "only.jpg", false);
    out.clear();
    ASSERT_EQ(store.ListChildren(ParentKey(50, 1), out), kOk);
    EXPECT_EQ(Names(out), std::vector<std::string>{"only.jpg"});
    ASSERT_EQ(store.Flush(), kOk);
    const std::string relations = FileText(store.RelationPath());
    out.clear();
    ASSERT_EQ(store.ListChildren(ParentKey(51, 1), out), kOk);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(store.Flush(), kOk);
    EXPECT_EQ(FileText(store.RelationPath()), relations);
}

TEST(ScanLogStore, SearchByExtensionSubstringRuleAndCallback) {
    ScratchDir dir;
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    const uint64_t root = ParentKey(5, 0);
    Add(store, root, "song.mp3", false);
    Add(store, root, "x.MP", false);
    Add(store, root, "y.p3", false);
    Add(store, root, "bad.jpg", false, 0, 0);
    Add(store, root, "noext", false);
    Add(store, root, "folder.mp3", true, 9);
    for (int i = 0; i < 600; ++i) Add(store, root, "filler.bin", false);
    std::vector<FoundRecord> out;
    ASSERT_EQ(store.SearchByExtension("*.mp3|*.jpg|", out), kOk);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"song.mp3", "x.MP", "y.p3"}));

    struct Progress {
        std::vector<int> percents;
        int stopAfter = 0;
    } progress;
    store.SetSearchCallback(
        [](void* user, int percent, int zero) {
            auto* p = static_cast<Progress*>(user);
            EXPECT_EQ(zero, 0);
            p->percents.push_back(percent);
            return static_cast<int>(p->percents.size()) == p->stopAfter ? 1 : 0;
        },
        &progress);
    out.clear();
    ASSERT_EQ(store.SearchByExtension("*.bin|", out), kOk);
    EXPECT_EQ(out.size(), 600u);
    EXPECT_EQ(progress.percents, (std::vector<int>{33, 66, 99, 100})) << "one call per piece";
    progress = {{}, 1};
    out.clear();
    ASSERT_EQ(store.SearchByExtension("*.bin|", out), kOk);
    EXPECT_EQ(out.size(), 194u) << "stopped after the first 200 records";
}

TEST(ScanLogStore, ScatteredChildrenListedWholeAndInOrder) {
    // 12,000 records: three folders' children interleaved over the whole log (as a scan that
    // meets files in another order than folder by folder writes them), the last ones still in
    // the write buffer, one child filed twice, one photo hidden, and a folder whose children
    // lie in runs and far apart.
    ScratchDir dir;
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    std::vector<std::vector<std::string>> expected(4);
    for (uint32_t i = 0; i < 12000; ++i) {
        const uint32_t folder = i % 3 == 0 ? 0 : i % 3 == 1 ? 1 : (i / 97) % 2 == 0 ? 2 : 3;
        const bool hidden = i == 6000;
        char name[32];
        std::snprintf(name, sizeof name, "f%05u.jpg", (i * 7919) % 12000);
        const uint32_t index =
            Add(store, ParentKey(100 + folder, 1), name, false, 0, hidden ? 0 : 1);
        if (!hidden) expected[folder].push_back(name);
        if (i == 4) {
            store.Link(ParentKey(100, 1), index, 0);  // also filed under the first folder
            expected[0].push_back(name);
        }
    }
    for (auto& names : expected) std::sort(names.begin(), names.end());
    for (uint32_t folder = 0; folder < 4; ++folder) {
        std::vector<FoundRecord> out;
        ASSERT_EQ(store.ListChildren(ParentKey(100 + folder, 1), out), kOk);
        EXPECT_EQ(Names(out), expected[folder]) << folder;
        for (const FoundRecord& r : out) EXPECT_EQ(+r.size, 1000 + r.recordIndex);
    }
}

TEST(ScanLogStore, CorruptLogsNeitherLoopNorCrash) {
    ScratchDir dir;
    {
        ScanLogStore store;
        ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
        // Folder 40 is its own parent one level down, and also lists itself twice.
        const uint32_t a = Add(store, ParentKey(5, 0), "A", true, 40);
        store.Link(ParentKey(40, 1), a, 40);
        store.Link(ParentKey(40, 1), a, 40);
        Add(store, ParentKey(40, 1), "f.txt", false);
        // Two folders whose entries name each other as parents.
        const uint32_t x = Add(store, ParentKey(61, 3), "X", true, 60);
        store.Link(ParentKey(60, 3), store.NewRecord().recordIndex, 61, "Y");
        FoundRecord r = EmptyRecord();
        r.recordIndex = x;
        std::vector<FoundRecord> ancestors;
        ASSERT_EQ(store.Ancestors(r, ancestors), kOk);
        EXPECT_LE(ancestors.size(), 2u);
        uint32_t files = 0;
        ASSERT_EQ(store.CountFiles(ParentKey(5, 0), files), kOk);
        EXPECT_EQ(files, 1u);
        store.Link(ParentKey(7, 0), 9999, 0);  // an index past the last record
        std::vector<FoundRecord> out;
        EXPECT_EQ(store.ListChildren(ParentKey(7, 0), out), kErrInvalidParameter);
    }
    // A torn last record and a damaged relation text.
    const std::string main = dir / "log";
    fs::resize_file(main, fs::file_size(main) + 100);
    const std::string text = " | 5 - [1] | 40x - [2]";
    test::WriteWholeFile(dir / "log_Relation", std::as_bytes(std::span(text)));
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    EXPECT_EQ(store.RecordCount(), 4u);
    EXPECT_EQ(fs::file_size(main), 4 * kFoundRecordSize) << "the torn record is cut off";
    std::vector<FoundRecord> out;
    ASSERT_EQ(store.ListChildren(5, out), kOk);
    EXPECT_EQ(Names(out), std::vector<std::string>{"A"}) << "entries before the damage stay";
}

// A full buffer that cannot be written stays buffered; the next Flush writes it.
// What a scan's progress counts as files found: never its folders; the same whether records
// are still buffered, written, or in a log reopened to continue a scan; and it follows what is
// written after a reopen.
TEST(ScanLogStore, FileCountLeavesFoldersOutAcrossBuffersAndReopens) {
    ScratchDir dir;
    uint32_t count = 99;
    {
        ScanLogStore store;
        ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
        ASSERT_EQ(store.FileCount(count), kOk);
        EXPECT_EQ(count, 0u);
        // 520 records over several buffer writes: every fifth one a folder.
        for (int i = 0; i < 520; ++i) {
            const bool folder = i % 5 == 0;
            Add(store, ParentKey(5, 0), std::to_string(i), folder, folder ? 100 + i : 0);
            if (i == 150) {
                ASSERT_EQ(store.FileCount(count), kOk);
                EXPECT_EQ(count, 120u) << "buffered records";
            }
        }
        ASSERT_EQ(store.FileCount(count), kOk);
        EXPECT_EQ(count, 416u);
        EXPECT_EQ(store.RecordCount(), 520u);
    }
    ScanLogStore again;
    ASSERT_EQ(again.OpenLog(dir.Path().string(), "log"), kOk);
    ASSERT_EQ(again.FileCount(count), kOk);
    EXPECT_EQ(count, 416u) << "a reopened log counts what it holds";
    for (int i = 0; i < 300; ++i) Add(again, ParentKey(5, 0), "more", i == 0, i == 0 ? 9000 : 0);
    ASSERT_EQ(again.FileCount(count), kOk);
    EXPECT_EQ(count, 715u);
    ASSERT_EQ(again.Flush(), kOk);
    ASSERT_EQ(again.FileCount(count), kOk);
    EXPECT_EQ(count, 715u);
}

TEST(ScanLogStore, WriteErrorOfAFullBufferLosesNothing) {
    ScratchDir dir;
    ScanLogStore store;
    ASSERT_EQ(store.OpenLog(dir.Path().string(), "log"), kOk);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100 * kFoundRecordSize;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 450; ++i) Add(store, ParentKey(5, 0), std::to_string(i + 1), false);
    const Status failed = store.Flush();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(failed, kOk) << "the write error is reported";
    std::vector<FoundRecord> out;
    ASSERT_EQ(store.ListChildren(5, out), kOk);
    EXPECT_EQ(out.size(), 450u) << "buffered records are still listed";
    ASSERT_EQ(store.Flush(), kOk);
    const auto bytes = ReadWholeFile(store.MainPath());
    ASSERT_EQ(bytes.size(), 450 * kFoundRecordSize);
    for (uint32_t i = 0; i < 450; ++i) {
        FoundRecord r;
        std::memcpy(&r, bytes.data() + i * kFoundRecordSize, sizeof(r));
        ASSERT_EQ(+r.recordIndex, i + 1);
        ASSERT_EQ(r.Name(), std::to_string(i + 1));
    }
}

}  // namespace
}  // namespace keltra
