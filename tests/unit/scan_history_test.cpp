#include "scanlog/scan_history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "scanlog/scan_log_folder.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::ScopedAppDataFolder;

// A disk number no machine has, so its partitions are never mounted (free bytes 0).
constexpr int kAbsentDisk = 9999;

void Touch(const fs::path& path, const std::string& text = "x") {
    std::ofstream(path) << text;
}

TEST(ScanHistory, FirstDeepScanOnAFreshInstallation) {
    ScopedAppDataFolder appData;
    ScanHistory history(ScanLogFolder());
    EXPECT_EQ(history.Load(), kErrInvalidParameter) << "no config yet: an empty history";
    EXPECT_EQ(history.FolderCounter(), 0u);
    EXPECT_EQ(history.Folder(), appData.Path().string() + "/KeltraPhotoRecovery/ScanLog");

    ScanHistoryRecord found{};
    EXPECT_FALSE(history.FindPartitionScan(kAbsentDisk, 2048, 100000, found));
    history.NewScanFolder();
    EXPECT_EQ(history.FolderCounter(), 1u);
    const std::string folder = history.CurrentScanFolder();
    EXPECT_EQ(folder, history.Folder() + "/1/");
    const DeepScanState state{10, 20, 3, 4000, 5};
    ASSERT_EQ(history.SaveScanState(kAbsentDisk, 2048, 100000, state, folder, ""), kOk);
    EXPECT_EQ(fs::file_size(history.ConfigPath()), 8u + 1120u);
    EXPECT_FALSE(fs::exists(history.ConfigPath() + ".tmp"));

    // A second save of the same source overwrites its state instead of appending.
    const DeepScanState later{11, 21, 4, 5000, 6};
    ASSERT_EQ(history.SaveScanState(kAbsentDisk, 2048, 100000, later, folder, ""), kOk);
    EXPECT_EQ(fs::file_size(history.ConfigPath()), 8u + 1120u);

    ScanHistory reloaded(history.Folder());
    ASSERT_EQ(reloaded.Records().size(), 1u);
    EXPECT_EQ(reloaded.FolderCounter(), 1u);
    ASSERT_TRUE(reloaded.FindPartitionScan(kAbsentDisk, 2048, 100000, found));
    EXPECT_EQ(+found.state.sectorsDone, 5000u);
    EXPECT_EQ(+found.state.filesFound, 6u);
    EXPECT_EQ(found.ScanFolder(), folder);
    EXPECT_EQ(reloaded.CurrentScanFolder(), folder);
    EXPECT_FALSE(reloaded.FindPartitionScan(kAbsentDisk, 2048, 99999, found));
    EXPECT_EQ(reloaded.CurrentScanFolder(), history.Folder() + "/1/");
    reloaded.GiveBackFolderNumber();
    EXPECT_EQ(reloaded.FolderCounter(), 0u);
}

TEST(ScanHistory, TruncatedConfigAndLeftoverTemporaryFile) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string();
    {
        ScanHistory history(folder);
        history.NewScanFolder();
        ASSERT_EQ(history.SaveScanState(kAbsentDisk, 63, 1000, {}, history.CurrentScanFolder(), ""),
                  kOk);
    }
    // A torn second record is dropped; the whole first one stays.
    fs::resize_file(folder + "/config", 8 + 1120 + 500);
    EXPECT_EQ(ScanHistory(folder).Records().size(), 1u);

    // A crash between writing config.tmp and its rename: the temporary file is taken over.
    fs::rename(folder + "/config", folder + "/config.tmp");
    ScanHistory takenOver(folder);
    EXPECT_EQ(takenOver.Records().size(), 1u);
    EXPECT_TRUE(fs::exists(folder + "/config"));
    EXPECT_FALSE(fs::exists(folder + "/config.tmp"));
    // With both present, config wins.
    Touch(folder + "/config.tmp", "garbage");
    EXPECT_EQ(ScanHistory(folder).Records().size(), 1u);
}

TEST(ScanHistory, VolumesOfOneImageKeepTheirOwnScans) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    Touch(image, "image bytes");
    fs::resize_file(image, 102400 * 512);  // the whole image's record holds its length
    ScanHistory history(dir.Path().string());
    auto saveIn = [&history](uint64_t first, uint64_t count, uint64_t done,
                             const std::string& path) {
        history.NewScanFolder();
        DeepScanState state;
        state.sectorsDone = done;
        return history.SaveScanState(kImageDiskNumber, first, count, state,
                                     history.CurrentScanFolder(), path);
    };
    ASSERT_EQ(saveIn(2048, 32768, 11, image), kOk);
    ASSERT_EQ(saveIn(34816, 32768, 22, image), kOk);
    ASSERT_EQ(saveIn(0, 102400, 33, image), kOk);
    ASSERT_EQ(history.Records().size(), 3u) << "each volume has a record of its own";

    ScanHistoryRecord found{};
    ASSERT_TRUE(history.FindImageScan(image, found, 34816, 32768));
    EXPECT_EQ(found.state.sectorsDone, 22u);
    EXPECT_EQ(found.firstSector, 34816u);
    ASSERT_TRUE(history.FindImageScan(image, found, 2048, 32768));
    EXPECT_EQ(found.state.sectorsDone, 11u);
    ASSERT_TRUE(history.FindImageScan(image, found));
    EXPECT_EQ(found.state.sectorsDone, 33u) << "the whole image is the record at sector 0";
    EXPECT_FALSE(history.FindImageScan(image, found, 2048, 100)) << "another range";
    EXPECT_FALSE(history.FindImageScan(image, found, 69632, 32768));

    // Saving again overwrites only that volume's record, and the file keeps it so.
    DeepScanState later;
    later.sectorsDone = 44;
    ASSERT_EQ(
        history.SaveScanState(kImageDiskNumber, 2048, 32768, later, found.ScanFolder(), image),
        kOk);
    ScanHistory reloaded(dir.Path().string());
    ASSERT_EQ(reloaded.Records().size(), 3u);
    ASSERT_TRUE(reloaded.FindImageScan(image, found, 2048, 32768));
    EXPECT_EQ(found.state.sectorsDone, 44u);
    ASSERT_TRUE(reloaded.FindImageScan(image, found, 34816, 32768));
    EXPECT_EQ(found.state.sectorsDone, 22u);
}

TEST(ScanHistory, ChangedSourcesForgetTheirScans) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string();
    const std::string image = dir / "disk.img";
    Touch(image, "image bytes");
    fs::resize_file(image, 512);
    ScanHistory history(folder);
    history.NewScanFolder();
    const std::string imageFolder = history.CurrentScanFolder();
    fs::create_directories(imageFolder);
    Touch(fs::path(imageFolder) / "File_Type_0_20261271 0");
    ASSERT_EQ(history.SaveScanState(kImageDiskNumber, 0, 1, {}, imageFolder, image), kOk);
    ScanHistoryRecord found{};
    ASSERT_TRUE(history.FindImageScan(image, found));
    EXPECT_EQ(found.ImagePath(), image);
    EXPECT_FALSE(history.FindImageScan(dir / "DISK.img", found)) << "paths compare exactly";

    // Touching the image discards its scan and its folder.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1234567, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, image.c_str(), times, 0), 0);
    EXPECT_FALSE(history.FindImageScan(image, found));
    EXPECT_TRUE(history.Records().empty());
    EXPECT_FALSE(fs::exists(imageFolder));

    // A partition whose free space differs from the stored one: forgotten the same way.
    history.NewScanFolder();
    const std::string partitionFolder = history.CurrentScanFolder();
    fs::create_directories(partitionFolder);
    ASSERT_EQ(history.SaveScanState(kAbsentDisk, 2048, 50, {}, partitionFolder, ""), kOk);
    ScanHistoryRecord raw = history.Records()[0];
    raw.freeBytes = 123456;  // as if written when the volume had other free space
    std::vector<std::byte> bytes(8 + sizeof(raw));
    const uint64_t counter = 2;
    std::memcpy(bytes.data(), &counter, 8);
    std::memcpy(bytes.data() + 8, &raw, sizeof(raw));
    test::WriteWholeFile(history.ConfigPath(), bytes);
    ScanHistory changed(folder);
    EXPECT_FALSE(changed.FindPartitionScan(kAbsentDisk, 2048, 50, found));
    EXPECT_TRUE(changed.Records().empty());
    EXPECT_FALSE(fs::exists(partitionFolder));
}

TEST(ScanHistory, ForgetScanDeletesOnlyNumberedFoldersOfItsOwn) {
    test::ScratchDir dir;
    const std::string folder = dir / "ScanLog";
    const fs::path precious = dir.Path() / "precious";
    fs::create_directories(precious);
    Touch(precious / "keep.txt");
    ScanHistory history(folder);
    history.NewScanFolder();
    ASSERT_EQ(history.SaveScanState(kAbsentDisk, 1, 1, {}, precious.string() + "/", ""), kOk);
    ASSERT_EQ(history.SaveScanState(kAbsentDisk, 2, 2, {}, folder + "/2/", ""), kOk);
    fs::create_directories(folder + "/2/sub");
    ASSERT_EQ(history.ForgetScan(precious.string()), kOk);
    EXPECT_TRUE(fs::exists(precious / "keep.txt")) << "a damaged config names a foreign folder";
    EXPECT_EQ(history.Records().size(), 1u) << "its record is dropped all the same";
    ASSERT_EQ(history.ForgetScan(folder + "/2/"), kOk);
    EXPECT_TRUE(history.Records().empty());
    EXPECT_FALSE(fs::exists(folder + "/2"));
    EXPECT_EQ(ScanHistory(folder).Records().size(), 2u) << "ForgetScan does not save";

    // Handing out a number again clears what was left under it.
    fs::create_directories(folder + "/3");
    Touch(folder + "/3/old");
    history.NewScanFolder();
    history.NewScanFolder();
    EXPECT_EQ(history.FolderCounter(), 3u);
    EXPECT_FALSE(fs::exists(folder + "/3"));
}

TEST(ScanHistory, FindLogFileTakesTheMainLogFirst) {
    test::ScratchDir dir;
    for (const char* name : {"Fast_2048_2018349 5_Relation", "Fast_2048_2018349 5_DirInfo",
                             "Fast_2048_2018349 5", ".Fast_hidden", "File_Type_0_1"}) {
        Touch(dir.Path() / name);
    }
    std::string name;
    ASSERT_EQ(ScanHistory::FindLogFile("Fast_", dir.Path().string(), name), kOk);
    EXPECT_EQ(name, "Fast_2048_2018349 5");
    ASSERT_EQ(ScanHistory::FindLogFile("File_Type_", dir.Path().string(), name), kOk);
    EXPECT_EQ(name, "File_Type_0_1");
    EXPECT_EQ(ScanHistory::FindLogFile("Pro_Fat_", dir.Path().string(), name), kErrFileNotFound);
    EXPECT_EQ(ScanHistory::FindLogFile("Fast_", dir / "missing", name), kErrFileNotFound);
}

}  // namespace
}  // namespace keltra
