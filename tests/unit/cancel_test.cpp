// Stops at random points, through the engines' callbacks: quick scans, deep scans (stopped and
// continued again and again), searches and copies. Whatever was stopped, the store stays
// readable and keeps what it had; a continued deep scan ends with what an uninterrupted one
// finds; a copy that was stopped is never a success.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "engines/deep/deep_scan.h"
#include "engines/engine_factory.h"
#include "scanlog/scan_history.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Answers kCancelled at call `stopAt` (from 1; 0 = never) and counts the calls.
struct StopAt {
    int calls = 0;
    int stopAt = 0;
    int Next() { return ++calls == stopAt ? kCancelled : 0; }
    static int OnScan(void* user, int, int, int, uint64_t, uint64_t, uint64_t, int) {
        return static_cast<StopAt*>(user)->Next();
    }
    static int OnSearch(void* user, int, int) { return static_cast<StopAt*>(user)->Next(); }
    static int OnCopy(void* user, int, int, Status, const std::string&) {
        return static_cast<StopAt*>(user)->Next();
    }
};

std::set<std::string> Paths(ScanEngine& engine) {
    std::set<std::string> paths;
    for (const auto& [path, listed] : test::ListTree(engine)) {
        paths.insert(path + " " + std::to_string(listed.record.size));
    }
    return paths;
}

constexpr const char* kPatterns = "*.jpg|*.png|*.txt|*.bin|*.dat|*.JPG|";

std::mt19937 Rng() {
    return std::mt19937(testing::UnitTest::GetInstance()->random_seed());
}

class CancelQuick : public testing::TestWithParam<const char*> {
  protected:
    test::ScopedAppDataFolder appData_;
};

TEST_P(CancelQuick, StoppedScanKeepsAReadableStoreAndTheSearchAndCopyStopCleanly) {
    const std::string image = test::FixturePath(GetParam());
    StopAt counting;
    auto whole = CreateEngine(SourceRef::Image(image, 1), false);
    ASSERT_NE(whole, nullptr);
    whole->SetCallbacks(StopAt::OnScan, nullptr, &counting, 100);
    ASSERT_EQ(whole->Scan(std::nullopt), kOk);
    const std::set<std::string> all = Paths(*whole);
    ASSERT_GE(counting.calls, 2);
    auto rng = Rng();
    for (int trial = 0; trial < 6; ++trial) {
        StopAt stop{0, 1 + static_cast<int>(rng() % static_cast<unsigned>(counting.calls - 1))};
        auto engine = CreateEngine(SourceRef::Image(image, 1), false);
        engine->SetCallbacks(StopAt::OnScan, nullptr, &stop, 100);
        EXPECT_EQ(engine->Scan(std::nullopt), kCancelled) << "stop at call " << stop.stopAt;
        const std::set<std::string> part = Paths(*engine);
        EXPECT_TRUE(std::includes(all.begin(), all.end(), part.begin(), part.end()))
            << "stop at call " << stop.stopAt;
    }

    // A search stopped at its first report gives part of the finds; the next one all.
    std::vector<FoundRecord> everything;
    ASSERT_EQ(whole->FindByExtensions(kPatterns, everything), kOk);
    ASSERT_FALSE(everything.empty());
    StopAt search{0, 1};
    whole->SetSearchCallback(StopAt::OnSearch, &search);
    std::vector<FoundRecord> part;
    EXPECT_EQ(whole->FindByExtensions(kPatterns, part), kOk);
    EXPECT_LE(part.size(), everything.size());
    whole->SetSearchCallback(nullptr, nullptr);
    std::vector<FoundRecord> again;
    EXPECT_EQ(whole->FindByExtensions(kPatterns, again), kOk);
    EXPECT_EQ(again.size(), everything.size());

    // The largest file copied, stopped at a random report: the copy answers the stop.
    const FoundRecord* largest = nullptr;
    for (const FoundRecord& r : everything) {
        if (r.isFolder == 0 && (largest == nullptr || r.size > largest->size)) largest = &r;
    }
    ASSERT_NE(largest, nullptr);
    test::ScratchDir out;
    StopAt copyCount;
    whole->SetCallbacks(nullptr, StopAt::OnCopy, &copyCount, 100);
    ASSERT_EQ(whole->RecoverRecord(*largest, out / "whole", 0), kOk);
    for (int trial = 0; trial < 4 && copyCount.calls > 1; ++trial) {
        StopAt stop{0, 1 + static_cast<int>(rng() % static_cast<unsigned>(copyCount.calls - 1))};
        whole->SetCallbacks(nullptr, StopAt::OnCopy, &stop, 100);
        const std::string target = out / ("stopped" + std::to_string(trial));
        EXPECT_EQ(whole->RecoverRecord(*largest, target, 0), kCancelled);
        std::error_code ec;
        EXPECT_LT(fs::file_size(target, ec), largest->size) << "a stopped copy is partial";
    }
}

INSTANTIATE_TEST_SUITE_P(Images, CancelQuick,
                         testing::Values("fat32.img", "ntfs_deleted.img", "photos_ntfs.img"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

class CancelDeep : public testing::TestWithParam<const char*> {
  protected:
    test::ScopedAppDataFolder appData_;
    test::ScratchDir dir_;
};

// Deep scans stopped at random progress reports (in the quick phase, in the pass, inside the
// end searches of carving), continued and stopped again until one ends.
TEST_P(CancelDeep, ContinuedAfterRandomStopsListsWhatOneWholeScanLists) {
    const std::string reference = dir_ / "reference.img";
    fs::copy_file(test::FixturePath(GetParam()), reference);
    StopAt counting;
    std::set<std::string> expected;
    {
        DeepScan whole;
        ASSERT_EQ(whole.Open(SourceRef::Image(reference, 1)), kOk);
        whole.SetCallbacks(StopAt::OnScan, nullptr, &counting, 100);
        ASSERT_EQ(whole.Scan(std::nullopt), kOk);
        expected = Paths(whole);
    }
    ASSERT_GE(counting.calls, 4);
    auto rng = Rng();
    int stops = 0;
    for (int sequence = 0; sequence < 6; ++sequence) {
        const std::string image = dir_ / ("stopped" + std::to_string(sequence) + ".img");
        fs::copy_file(test::FixturePath(GetParam()), image);
        std::set<std::string> before;
        Status status = kCancelled;
        for (int round = 0; status == kCancelled && round < 12; ++round) {
            DeepScan deep;
            ASSERT_EQ(deep.Open(SourceRef::Image(image, 1)), kOk);
            StopAt stop{0, round < 3 ? 1 + static_cast<int>(rng() % counting.calls) : 0};
            deep.SetCallbacks(StopAt::OnScan, nullptr, &stop, 100);
            status = deep.Scan(std::nullopt);
            const std::set<std::string> now = Paths(deep);
            // What was found before a stop is still there after the next one.
            EXPECT_TRUE(std::includes(now.begin(), now.end(), before.begin(), before.end()))
                << "round " << round;
            before = now;
            if (status == kCancelled) ++stops;
        }
        ASSERT_EQ(status, kOk);
        EXPECT_EQ(before, expected) << "sequence " << sequence;
    }
    std::cout << "deep scan: " << stops << " random stops continued\n";
}

INSTANTIATE_TEST_SUITE_P(Images, CancelDeep, testing::Values("photos_fat.img", "photos_ntfs.img"),
                         [](const auto& info) {
                             return std::string(info.param).find("fat") != std::string::npos
                                        ? "Fat32"
                                        : "Ntfs";
                         });

}  // namespace
}  // namespace keltra
