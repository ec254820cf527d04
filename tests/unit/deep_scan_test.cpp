// The deep scan driver on the photo images (tests/fixtures/make_photos.sh) and ext4.img:
// progress, stopping and continuing a pass, a volume without a bitmap, and the quick phase's
// stop.
#include "engines/deep/deep_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "platform/little_endian.h"
#include "scanlog/scan_history.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

struct Call {
    int percent;
    int weight;
    uint64_t current;
    uint64_t total;
    uint64_t files;
};

// Records every progress call; answers kCancelled at the pass call number `stopAt` (counted
// from 1, 0 = never) or, with `stopQuick`, at the first call of the quick phase.
struct Recorder {
    std::vector<Call> calls;
    int stopAt = 0;
    bool stopQuick = false;
    int passCalls = 0;

    static int OnProgress(void* user, int percent, int weight, int, uint64_t current,
                          uint64_t total, uint64_t files, int) {
        auto* self = static_cast<Recorder*>(user);
        self->calls.push_back({percent, weight, current, total, files});
        if (weight == DeepScan::kQuickWeight && self->stopQuick) return kCancelled;
        if (weight == DeepScan::kPassWeight && ++self->passCalls == self->stopAt) {
            return kCancelled;
        }
        return 0;
    }
    std::vector<Call> PassCalls() const {
        std::vector<Call> pass;
        for (const Call& c : calls) {
            if (c.weight == DeepScan::kPassWeight) pass.push_back(c);
        }
        return pass;
    }
};

using Listing = std::multiset<std::tuple<std::string, uint64_t, uint32_t, uint64_t>>;

// Every record reachable from the root: (path, size, origin, location).
Listing ListAll(ScanEngine& engine) {
    Listing out;
    test::WalkTree(engine, [&out](const std::string& path, const FoundRecord& c) {
        out.insert({path + (c.isFolder ? "/" : ""), c.size, c.origin, c.location});
    });
    return out;
}

std::unique_ptr<DeepScan> OpenDeep(const std::string& image) {
    auto engine = std::make_unique<DeepScan>();
    EXPECT_EQ(engine->Open(SourceRef::Image(image, 1)), kOk);
    return engine;
}

Status ScanDeep(DeepScan& engine, Recorder& recorder) {
    engine.SetCallbacks(Recorder::OnProgress, nullptr, &recorder, 100);
    return engine.Scan(std::nullopt);
}

// A copy of a fixture image, so that each scan has a history record of its own.
std::string CopyOf(const test::ScratchDir& dir, const std::string& fixture,
                   const std::string& name) {
    const std::string path = dir / name;
    fs::copy_file(test::FixturePath(fixture), path);
    return path;
}

class DeepOnPhotos : public testing::TestWithParam<const char*> {
  protected:
    test::ScopedAppDataFolder appData_;
    test::ScratchDir dir_;
};

// The scan's folder cannot be made (a file stands where the application's data folder should
// be): the searches' logs cannot be written, so whatever the pass found would be lost. The scan
// says so instead of reporting success, and the history keeps no scan to continue.
TEST_P(DeepOnPhotos, LogsThatCannotBeWrittenFailTheScanAndLeaveNoHistory) {
    const std::string image = CopyOf(dir_, GetParam(), "nolog.img");
    const std::string blocked = dir_ / "not_a_folder";
    test::WriteWholeFile(blocked, std::vector<std::byte>(16));
    ScanHistory::Instance().UseFolder(blocked + "/ScanLog");
    auto deep = OpenDeep(image);
    Recorder recorder;
    const Status status = ScanDeep(*deep, recorder);
    EXPECT_NE(status, kOk);
    EXPECT_NE(status, kCancelled);
    for (const Call& c : recorder.calls) {
        EXPECT_NE(c.weight, DeepScan::kPassWeight) << "no sector was passed";
    }
    ScanHistoryRecord saved{};
    EXPECT_FALSE(ScanHistory::Instance().FindImageScan(image, saved));
}

TEST_P(DeepOnPhotos, ProgressRunsFromTenToOneHundredTenAndEndsAtOneHundred) {
    const std::string image = CopyOf(dir_, GetParam(), "progress.img");
    auto deep = OpenDeep(image);
    Recorder recorder;
    ASSERT_EQ(ScanDeep(*deep, recorder), kOk);
    ASSERT_GE(recorder.calls.size(), 3u);
    bool quickSeen = false;
    for (size_t i = 0; i + 1 < recorder.calls.size(); ++i) {
        const Call& c = recorder.calls[i];
        if (c.weight == DeepScan::kQuickWeight) {
            quickSeen = true;
            continue;
        }
        EXPECT_EQ(c.weight, DeepScan::kPassWeight);
        EXPECT_GE(c.percent, 10);
        EXPECT_LE(c.percent, 110);
        EXPECT_LE(c.current, c.total);
    }
    EXPECT_TRUE(quickSeen);
    const Call& last = recorder.calls.back();
    EXPECT_EQ(std::tie(last.percent, last.weight, last.current, last.total, last.files),
              std::make_tuple(100, 100, uint64_t{0}, uint64_t{0}, uint64_t{0}));
    // A finished scan is remembered with nothing left to read.
    ScanHistoryRecord saved{};
    ASSERT_TRUE(ScanHistory::Instance().FindImageScan(image, saved));
    EXPECT_EQ(saved.state.runLength, 0u);
}

TEST_P(DeepOnPhotos, StoppedPassContinuesWhereItStoodAndListsTheSame) {
    // The whole pass in one go, for comparison.
    const std::string whole = CopyOf(dir_, GetParam(), "whole.img");
    auto reference = OpenDeep(whole);
    Recorder uninterrupted;
    ASSERT_EQ(ScanDeep(*reference, uninterrupted), kOk);
    const Listing expected = ListAll(*reference);
    const size_t passCalls = uninterrupted.PassCalls().size();
    ASSERT_GE(passCalls, 4u);

    const std::string image = CopyOf(dir_, GetParam(), "stopped.img");
    ScanHistoryRecord saved{};
    uint64_t readBefore = 0;
    {
        auto first = OpenDeep(image);
        EXPECT_FALSE(first->Resuming());
        Recorder stopping;
        stopping.stopAt = static_cast<int>(passCalls / 2);
        ASSERT_EQ(ScanDeep(*first, stopping), kCancelled);
        readBefore = first->SectorsRead();
        ASSERT_TRUE(ScanHistory::Instance().FindImageScan(image, saved));
        EXPECT_NE(saved.state.runLength, 0u);
        // The stop may come from an end search inside a chunk: the pass is then taken up
        // again at the sector being carved, not after the chunk.
        EXPECT_LE(saved.state.sectorsDone, stopping.PassCalls().back().current);
    }
    auto second = OpenDeep(image);
    ASSERT_TRUE(second->Resuming());
    EXPECT_EQ(second->ResumeRecord().state.offsetInRun, saved.state.offsetInRun);
    Recorder resumed;
    ASSERT_EQ(ScanDeep(*second, resumed), kOk);
    const std::vector<Call> pass = resumed.PassCalls();
    ASSERT_FALSE(pass.empty());
    const Call& firstCall = pass.front();
    EXPECT_GT(firstCall.current, saved.state.sectorsDone);
    EXPECT_LE(firstCall.current - saved.state.sectorsDone, 128u) << "one chunk after the saved";
    EXPECT_GE(firstCall.percent,
              static_cast<int>(saved.state.sectorsDone * 100 / firstCall.total) + 10);
    // Nothing left out; at most the chunk that carving was stopped in is read twice.
    EXPECT_GE(readBefore + second->SectorsRead(), reference->SectorsRead());
    EXPECT_LE(readBefore + second->SectorsRead(), reference->SectorsRead() + 128);
    EXPECT_EQ(ListAll(*second), expected);
}

INSTANTIATE_TEST_SUITE_P(Images, DeepOnPhotos, testing::Values("photos_fat.img", "photos_ntfs.img"),
                         [](const auto& info) {
                             return std::string(info.param).find("fat") != std::string::npos
                                        ? "Fat32"
                                        : "Ntfs";
                         });

TEST(DeepScan, SearchLeavesOutCarvedCopiesOfFilesTheFileSystemFound) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string image = CopyOf(dir, "photos_ntfs.img", "search.img");
    auto deep = OpenDeep(image);
    Recorder recorder;
    ASSERT_EQ(ScanDeep(*deep, recorder), kOk);
    std::vector<FoundRecord> found;
    ASSERT_EQ(deep->FindByExtensions("*.jpg|*.png|", found), kOk);
    std::multiset<std::string> names;
    for (const FoundRecord& r : found) {
        EXPECT_NE(r.origin, static_cast<uint32_t>(RecordOrigin::Carving)) << r.Name();
        names.insert(std::string(r.Name()));
    }
    // The quick scan lists the deleted files only.
    EXPECT_EQ(names, (std::multiset<std::string>{"Beach day.jpg", "Beach day.jpg",
                                                 "Company logo.png", "Holiday_001.JPG"}));
    // Their data lies in the free space, where carving found them again.
    deep.reset();
    const std::string folder = ScanHistory::Instance().Records().at(0).ScanFolder();
    std::string carvingLog;
    ASSERT_EQ(ScanHistory::FindLogFile("File_Type_", folder, carvingLog), kOk);
    EXPECT_GE(fs::file_size(folder + carvingLog) / kFoundRecordSize, 3u);
}

// The block bitmaps of an ext volume keep the pass to its free blocks (the exact count is
// compared with e2fsprogs' on the command line).
TEST(DeepScan, ExtVolumePassesOnlyItsFreeBlocks) {
    test::ScopedAppDataFolder appData;
    auto deep = OpenDeep(test::FixturePath("ext4.img"));
    Recorder recorder;
    ASSERT_EQ(ScanDeep(*deep, recorder), kOk);
    EXPECT_TRUE(deep->FreeSpaceOnly());
    EXPECT_GT(deep->SectorsRead(), 0u);
    EXPECT_LT(deep->SectorsRead(), fs::file_size(test::FixturePath("ext4.img")) / 512);
}

TEST(DeepScan, StopInTheQuickPhaseGivesTheFolderBackOrKeepsTheEarlierState) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string image = CopyOf(dir, "photos_fat.img", "card.img");
    ScanHistory& history = ScanHistory::Instance();
    {
        auto deep = OpenDeep(image);
        Recorder recorder;
        recorder.stopQuick = true;
        EXPECT_EQ(ScanDeep(*deep, recorder), kCancelled);
        EXPECT_EQ(history.FolderCounter(), 0u);
        EXPECT_TRUE(history.Records().empty());
    }
    // A pass stopped half-way, then a continuation stopped in its quick phase: the state of
    // the first stays.
    ScanHistoryRecord saved{};
    {
        auto deep = OpenDeep(image);
        Recorder recorder;
        recorder.stopAt = 3;
        EXPECT_EQ(ScanDeep(*deep, recorder), kCancelled);
        ASSERT_TRUE(history.FindImageScan(image, saved));
    }
    {
        // Without its earlier log the quick engine scans again, and is stopped.
        for (std::string quickLog;
             ScanHistory::FindLogFile("Fast_", saved.ScanFolder(), quickLog) == kOk;) {
            fs::remove(saved.ScanFolder() + quickLog);
        }
        auto deep = OpenDeep(image);
        ASSERT_TRUE(deep->Resuming());
        Recorder recorder;
        recorder.stopQuick = true;
        EXPECT_EQ(ScanDeep(*deep, recorder), kCancelled);
    }
    ScanHistoryRecord after{};
    ASSERT_TRUE(history.FindImageScan(image, after));
    EXPECT_EQ(after.state.sectorsDone, saved.state.sectorsDone);
    EXPECT_EQ(after.state.offsetInRun, saved.state.offsetInRun);
    EXPECT_EQ(history.FolderCounter(), 1u);
}

// A deep scan of `image` stopped at pass call `stopAt`, then continued to its end by a new
// engine; null (with the failure reported) when either part does not end as it should.
std::unique_ptr<DeepScan> StoppedAndContinued(const std::string& image, int stopAt) {
    {
        auto first = OpenDeep(image);
        Recorder stopping;
        stopping.stopAt = stopAt;
        if (ScanDeep(*first, stopping) != kCancelled) {
            ADD_FAILURE() << "the stop at pass call " << stopAt << " did not stop the scan";
            return nullptr;
        }
    }
    auto second = OpenDeep(image);
    Recorder resumed;
    if (!second->Resuming() || ScanDeep(*second, resumed) != kOk) {
        ADD_FAILURE() << "the stopped scan was not continued to its end";
        return nullptr;
    }
    return second;
}

// The sha256 of every file of the origin under its path, as the engine copies it out.
std::map<std::string, std::string> FileContents(ScanEngine& engine, RecordOrigin origin,
                                                const std::string& scratch) {
    std::map<std::string, std::string> out;
    test::WalkTree(engine, [&](const std::string& path, const FoundRecord& r) {
        if (r.isFolder != 0 || r.origin != static_cast<uint32_t>(origin)) return;
        const std::string target = scratch + std::to_string(out.size());
        if (engine.RecoverRecord(r, target, 0) == kOk) out[path] = test::Sha256OfFile(target);
    });
    return out;
}

// Two NTFS volumes behind 1 MiB of zeros, without partition table or boot sectors, the pass
// stopped just after it met the second volume's $MFT and then continued: the second session
// must still place that volume's records where the first learned it lies, so the listing and
// every file's bytes are those of one uninterrupted scan.
TEST(DeepScan, TwoNtfsVolumesStoppedInTheSecondContinueToTheSameFiles) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    constexpr uint64_t kGap = 2048;
    std::vector<std::byte> disk(kGap * 512);
    uint64_t secondMft = 0;
    for (const char* fixture : {"photos_ntfs.img", "ntfs_deleted.img"}) {
        std::vector<std::byte> volume = test::ReadWholeFile(test::FixturePath(fixture));
        secondMft = disk.size() / 512 + Le64(volume, 48) * Byte(volume, 13);
        std::fill_n(volume.begin(), 512, std::byte{0});
        std::fill_n(volume.end() - 512, 512, std::byte{0});
        disk.insert(disk.end(), volume.begin(), volume.end());
    }
    const std::string whole = dir / "whole.img";
    const std::string image = dir / "stopped.img";
    test::WriteWholeFile(whole, disk);
    test::WriteWholeFile(image, disk);

    auto reference = OpenDeep(whole);
    Recorder uninterrupted;
    ASSERT_EQ(ScanDeep(*reference, uninterrupted), kOk);
    const Listing expected = ListAll(*reference);
    // The first progress call after the chunk that holds the second $MFT.
    const std::vector<Call> calls = uninterrupted.PassCalls();
    int stopAt = 0;
    for (size_t i = 0; i < calls.size() && stopAt == 0; ++i) {
        if (calls[i].current > secondMft) stopAt = static_cast<int>(i + 1);
    }
    ASSERT_NE(stopAt, 0);
    auto second = StoppedAndContinued(image, stopAt);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ListAll(*second), expected);

    const auto want = FileContents(*reference, RecordOrigin::DeepNtfs, dir / "a");
    EXPECT_GT(want.size(), 40u);
    EXPECT_EQ(FileContents(*second, RecordOrigin::DeepNtfs, dir / "b"), want);
}

// A FAT32 volume behind 1 MiB of zeros, its boot sector and backup gone, the pass stopped at
// one of several points and continued: the deep FAT search lists and copies what one whole
// pass does.
TEST(DeepScan, FatVolumeWithoutBootSectorStoppedAndContinuedGivesTheSameFiles) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> disk(2048 * 512);
    std::vector<std::byte> volume = test::ReadWholeFile(test::FixturePath("photos_fat.img"));
    std::fill_n(volume.begin(), 512, std::byte{0});
    std::fill_n(volume.begin() + 6 * 512, 512, std::byte{0});
    disk.insert(disk.end(), volume.begin(), volume.end());
    const std::string whole = dir / "whole.img";
    test::WriteWholeFile(whole, disk);

    auto reference = OpenDeep(whole);
    Recorder uninterrupted;
    ASSERT_EQ(ScanDeep(*reference, uninterrupted), kOk);
    const Listing expected = ListAll(*reference);
    const auto want = FileContents(*reference, RecordOrigin::DeepFat, dir / "a");
    EXPECT_GT(want.size(), 5u);
    const size_t passCalls = uninterrupted.PassCalls().size();
    ASSERT_GE(passCalls, 6u);
    for (size_t part = 1; part < 6; ++part) {
        SCOPED_TRACE(part);
        const std::string image = dir / ("stopped" + std::to_string(part) + ".img");
        test::WriteWholeFile(image, disk);
        auto second = StoppedAndContinued(image, static_cast<int>(passCalls * part / 6));
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(ListAll(*second), expected);
        EXPECT_EQ(FileContents(*second, RecordOrigin::DeepFat, dir / ("b" + std::to_string(part))),
                  want);
    }
}

// The camera card without boot regions inside a disk whose table is gone, the pass stopped in
// the card's first folders (root, DCIM, 100CANON, ...) and past them, then continued: the deep
// exFAT search lists and copies what one whole pass does.
TEST(DeepScan, ExFatCardWithoutBootRegionStoppedAndContinuedGivesTheSameFiles) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string whole = CopyOf(dir, "exfat_card_mbr.img", "whole.img");
    auto reference = OpenDeep(whole);
    Recorder uninterrupted;
    ASSERT_EQ(ScanDeep(*reference, uninterrupted), kOk);
    const Listing expected = ListAll(*reference);
    const auto want = FileContents(*reference, RecordOrigin::DeepExFat, dir / "a");
    EXPECT_EQ(want.size(), 13u);
    // The card's heap starts at sector 2048 + 4096, in clusters of 64 sectors; the root is
    // cluster 4 and its folders follow.
    const std::vector<Call> calls = uninterrupted.PassCalls();
    std::vector<int> stops;
    for (const uint64_t sector : {6144u + 2 * 64, 6144u + 3 * 64, 6144u + 5 * 64, 40000u}) {
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].current > sector) {
                stops.push_back(static_cast<int>(i + 1));
                break;
            }
        }
    }
    // Points inside one chunk stop at the same call.
    stops.erase(std::unique(stops.begin(), stops.end()), stops.end());
    ASSERT_GE(stops.size(), 3u);
    for (const int stopAt : stops) {
        SCOPED_TRACE(stopAt);
        const std::string image = CopyOf(dir, "exfat_card_mbr.img", "stopped" +
                                                                      std::to_string(stopAt));
        auto second = StoppedAndContinued(image, stopAt);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(ListAll(*second), expected);
        EXPECT_EQ(FileContents(*second, RecordOrigin::DeepExFat, dir / ("b" + std::to_string(stopAt))),
                  want);
    }
}

}  // namespace
}  // namespace keltra
