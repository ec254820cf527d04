// The identity of a scan's source: its fingerprint, the log of a source among the logs of
// others in one scan folder, and remembered deep scans that belong to another volume.
#include "scanlog/source_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "engines/copy_check.h"
#include "platform/safe_create.h"
#include "scanlog/scan_history.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

// A FAT32 boot sector with the volume serial given.
std::vector<std::byte> Fat32Boot(uint32_t serial) {
    std::vector<std::byte> boot(16384);
    std::memcpy(&boot[0x52], "FAT32   ", 8);
    boot[0x42] = std::byte{0x29};
    std::memcpy(&boot[0x43], &serial, 4);
    return boot;
}

TEST(SourceIdentity, FingerprintIsTheSerialWhereTheFileSystemKeepsOne) {
    EXPECT_EQ(VolumeFingerprint(Fat32Boot(0x1A2B3C4D)), "serial:fat:4D3C2B1A");
    EXPECT_NE(VolumeFingerprint(Fat32Boot(1)), VolumeFingerprint(Fat32Boot(2)));

    std::vector<std::byte> ext(4096);
    ext[1024 + 0x38] = std::byte{0x53};
    ext[1024 + 0x39] = std::byte{0xEF};
    for (int i = 0; i < 16; ++i) ext[1024 + 0x68 + i] = std::byte(i);
    EXPECT_EQ(VolumeFingerprint(ext), "serial:ext:000102030405060708090A0B0C0D0E0F");

    // No file system: the first sectors' hash, which any byte changes.
    std::vector<std::byte> raw(4096, std::byte{7});
    const std::string before = VolumeFingerprint(raw);
    EXPECT_TRUE(before.starts_with("head:")) << before;
    raw[4000] = std::byte{8};
    EXPECT_NE(VolumeFingerprint(raw), before);

    SourceIdentity identity{"/x/card.img", 2048, 32768, 512, "serial:fat:1A2B3C4D"};
    EXPECT_EQ(SourceIdentity::FromText(identity.Text()), identity);
    EXPECT_FALSE(SourceIdentity::FromText("keltra source 1\ndevice /x\nfirst 2048\n"));
    EXPECT_FALSE(SourceIdentity::FromText("something else"));
}

TEST(SourceIdentity, ALogIsTakenOnlyForItsOwnSource) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string();
    const SourceIdentity card{"/x/card.img", 2048, 32768, 512, "serial:fat:00000001"};
    const SourceIdentity other{"/x/other.img", 0, 65536, 512, "serial:fat:00000002"};
    for (const char* name : {"Fast_0_2026128 1", "Fast_0_2026128 1_Relation", "Fast_2048_2026128 1",
                             "Fast_2048_2026128 1_DirInfo"}) {
        Touch(dir.Path() / name);
    }
    ASSERT_EQ(WriteSourceIdentity(folder, "Fast_0_2026128 1", other), kOk);
    ASSERT_EQ(WriteSourceIdentity(folder, "Fast_2048_2026128 1", card), kOk);
    EXPECT_EQ(FindSourceLog("Fast_", folder, card, false), "Fast_2048_2026128 1")
        << "the other image's log sorts first, and is passed over";
    EXPECT_EQ(FindSourceLog("Fast_", folder, other, true), "Fast_0_2026128 1");

    // The same place on another volume: none of these logs is its own.
    SourceIdentity replaced = card;
    replaced.fingerprint = "serial:fat:00000003";
    EXPECT_FALSE(FindSourceLog("Fast_", folder, replaced, true));

    // Logs of earlier versions name no source: taken, when trusted, by their first sector.
    Touch(dir.Path() / "Pro_Fat_0_2026128 1");
    Touch(dir.Path() / "Fast_ExFat_2048_2026128 2");
    EXPECT_EQ(FindSourceLog("Pro_Fat_", folder, other, true), "Pro_Fat_0_2026128 1");
    EXPECT_FALSE(FindSourceLog("Pro_Fat_", folder, card, true)) << "another first sector";
    EXPECT_FALSE(FindSourceLog("Pro_Fat_", folder, other, false));
    EXPECT_EQ(FindSourceLog("Fast_", folder, replaced, true), "Fast_ExFat_2048_2026128 2");
}

// Keeps a file's last-write time while its bytes change.
void RewriteKeepingTime(const std::string& path, const std::vector<std::byte>& bytes) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    test::WriteWholeFile(path, bytes);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(SourceIdentity, ARememberedScanOfAnotherVolumeIsNotTakenUp) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    test::WriteWholeFile(image, Fat32Boot(0x11111111));
    ScanHistory history(dir / "ScanLog");
    history.NewScanFolder();
    const std::string folder = history.CurrentScanFolder();
    fs::create_directories(folder);
    ASSERT_EQ(history.SaveScanState(kImageDiskNumber, 0, 32, {}, folder, image), kOk);
    EXPECT_TRUE(fs::exists(folder + std::string(kFolderSourceFile)));
    ScanHistoryRecord found{};
    ASSERT_TRUE(history.FindImageScan(image, found));
    EXPECT_TRUE(history.Refusal().empty());

    // Another card written over the image, its time kept: same path, size and time.
    RewriteKeepingTime(image, Fat32Boot(0x22222222));
    EXPECT_FALSE(history.FindImageScan(image, found));
    EXPECT_NE(history.Refusal().find("another volume"), std::string::npos) << history.Refusal();
    EXPECT_NE(history.Refusal().find("11111111"), std::string::npos) << history.Refusal();
    EXPECT_TRUE(history.Records().empty());
    EXPECT_FALSE(fs::exists(folder));
}

TEST(SourceIdentity, AScanOfAnEarlierVersionNeedsTheSameLength) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    test::WriteWholeFile(image, Fat32Boot(0x11111111));
    ScanHistory history(dir / "ScanLog");
    history.NewScanFolder();
    const std::string folder = history.CurrentScanFolder();
    // No folder yet when saved: nothing names its source, as with an earlier version.
    ASSERT_EQ(history.SaveScanState(kImageDiskNumber, 0, 32, {}, folder, image), kOk);
    fs::create_directories(folder);
    ScanHistoryRecord found{};
    ASSERT_TRUE(history.FindImageScan(image, found)) << history.Refusal();

    std::vector<std::byte> longer = Fat32Boot(0x11111111);
    longer.resize(longer.size() * 2);
    RewriteKeepingTime(image, longer);
    EXPECT_FALSE(history.FindImageScan(image, found));
    EXPECT_NE(history.Refusal().find("covered 32 sectors, the source now has 64"),
              std::string::npos)
        << history.Refusal();
}

TEST(CopyCheck, BytesThatFailTheFoundFilesTestAreNoCopy) {
    test::ScratchDir dir;
    FolderHandle folder;
    ASSERT_EQ(FolderHandle::OpenRoot(dir.Path().string(), folder), kOk);
    const std::vector<std::byte> jpeg = test::ReadWholeFile(test::TestDataPath("photos/beach.jpg"));
    auto copied = [&](const std::vector<std::byte>& bytes, const char* name, uint32_t intact) {
        FileHandle out;
        std::string taken;
        EXPECT_EQ(folder.CreateNewFile(name, out, taken), kOk);
        EXPECT_EQ(out.WriteAllAt(0, bytes), kOk);
        FoundRecord record = EmptyRecord();
        record.SetName(name);
        record.size = bytes.size();
        record.contentIntact = intact;
        return CopyPassesContentCheck(record, out, bytes.size());
    };
    EXPECT_TRUE(copied(jpeg, "a.jpg", 1));
    std::vector<std::byte> other(jpeg.size(), std::byte{0x41});
    EXPECT_FALSE(copied(other, "b.jpg", 1)) << "another file's bytes under a photo's name";
    EXPECT_TRUE(copied(other, "c.jpg", 0)) << "listed as not matching its type already";
    EXPECT_TRUE(copied(other, "d.unknownext", 1)) << "no test for the type";
}

}  // namespace
}  // namespace keltra
