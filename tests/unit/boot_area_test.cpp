#include "engines/boot_area.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "engines/deep/deep_scan.h"
#include "engines/engine_factory.h"
#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using BootArea = std::array<std::byte, kBootAreaBytes>;

BootArea ReadFixtureBoot(const std::string& name) {
    BootArea boot{};
    SectorSource source;
    EXPECT_EQ(OpenImageSource(source, test::FixturePath(name)), kOk);
    EXPECT_EQ(ReadBootArea(source, 0, 512, boot), kOk);
    return boot;
}

TEST(BootArea, FixturesClassifyAsTheirFileSystems) {
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("ntfs.img")), SourceClass::Ntfs);
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("fat12.img")), SourceClass::Fat12or16);
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("fat16.img")), SourceClass::Fat12or16);
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("fat32.img")), SourceClass::Fat32);
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("ext4.img")), SourceClass::Ext);
    // The MBR itself is no file system.
    EXPECT_EQ(ClassifyBootArea(ReadFixtureBoot("mbr.img")), SourceClass::Unrecognised);
}

TEST(BootArea, LoopDevicesClassifyLikeTheirImages) {
    for (const char* name : {"ntfs.img", "fat12.img", "fat32.img", "ext4.img"}) {
        test::LoopDevice loop(test::FixturePath(name));
        if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
        SectorSource source;
        ASSERT_EQ(OpenDeviceSource(source, loop.Device()), kOk);
        BootArea boot{};
        ASSERT_EQ(ReadBootArea(source, 0, 512, boot), kOk);
        EXPECT_EQ(ClassifyBootArea(boot), ClassifyBootArea(ReadFixtureBoot(name))) << name;
    }
}

TEST(BootArea, PartitionsOfAPartitionedImageClassifyAtTheirStart) {
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, test::FixturePath("mbr.img")), kOk);
    BootArea boot{};
    ASSERT_EQ(ReadBootArea(source, 2048, 512, boot), kOk);
    EXPECT_EQ(ClassifyBootArea(boot), SourceClass::Fat12or16);
    ASSERT_EQ(ReadBootArea(source, 239616, 512, boot), kOk);
    EXPECT_EQ(ClassifyBootArea(boot), SourceClass::Ntfs);
}

TEST(BootArea, NtfsRulesAtTheirCorners) {
    BootArea boot = ReadFixtureBoot("ntfs.img");
    ASSERT_EQ(ClassifyBootArea(boot), SourceClass::Ntfs);
    BootArea b = boot;
    b[13] = std::byte{128};  // read as a signed byte by the engine: refused
    EXPECT_NE(ClassifyBootArea(b), SourceClass::Ntfs);
    b = boot;
    b[13] = std::byte{64};
    EXPECT_EQ(ClassifyBootArea(b), SourceClass::Ntfs);
    b = boot;
    StoreLE<uint16_t>(b, 11, 520);  // not a multiple of 512
    EXPECT_NE(ClassifyBootArea(b), SourceClass::Ntfs);
    b = boot;
    b[33] = std::byte{1};  // must be zero
    EXPECT_NE(ClassifyBootArea(b), SourceClass::Ntfs);
    b = boot;
    b[511] = std::byte{0};
    EXPECT_NE(ClassifyBootArea(b), SourceClass::Ntfs);
}

// A FAT16-style boot sector whose cluster count is exactly `clusters` (1 sector per cluster).
BootArea FatWithClusters(uint32_t clusters, bool fat32Label) {
    BootArea b{};
    StoreLE<uint16_t>(b, 11, 512);
    b[13] = std::byte{1};
    StoreLE<uint16_t>(b, 14, 1);    // reserved
    b[16] = std::byte{2};           // FAT count
    StoreLE<uint16_t>(b, 17, 512);  // 32 root sectors
    StoreLE<uint16_t>(b, 22, 100);  // FAT sectors (16-bit)
    StoreLE<uint32_t>(b, 36, 100);  // FAT32 FAT size
    StoreLE<uint32_t>(b, 32, clusters + 1 + 200 + 32);
    if (fat32Label) std::memcpy(&b[82], "FAT32   ", 8);
    b[510] = std::byte{0x55};
    b[511] = std::byte{0xAA};
    return b;
}

TEST(BootArea, FatTestOrderFollowsTheClusterCount) {
    // With both tests passing, the count decides which is tried first.
    EXPECT_EQ(ClassifyBootArea(FatWithClusters(65524, true)), SourceClass::Fat12or16);
    EXPECT_EQ(ClassifyBootArea(FatWithClusters(65525, true)), SourceClass::Fat32);
    // Without the FAT32 label only the FAT12/16 test can pass.
    EXPECT_EQ(ClassifyBootArea(FatWithClusters(65525, false)), SourceClass::Fat12or16);
    // Past the largest FAT32 count it is no FAT volume at all.
    EXPECT_EQ(ClassifyBootArea(FatWithClusters(268435440, true)), SourceClass::Unrecognised);
}

TEST(BootArea, BitLockerIsNeverFat) {
    BootArea b = FatWithClusters(1000, false);
    ASSERT_EQ(ClassifyBootArea(b), SourceClass::Fat12or16);
    BootArea signed_ = b;
    std::memcpy(&signed_[3], "-FVE-FS-", 8);
    EXPECT_EQ(ClassifyBootArea(signed_), SourceClass::Unrecognised);
    BootArea togo = b;
    for (int i = 0; i < 8; ++i) togo[480 + i] = std::byte{0x78};
    for (int i = 8; i < 27; ++i) togo[480 + i] = std::byte{0xFF};
    togo[507] = std::byte{0x00};
    togo[508] = std::byte{0x1F};
    togo[509] = std::byte{0x2C};
    EXPECT_EQ(ClassifyBootArea(togo), SourceClass::Unrecognised);
}

TEST(BootArea, ExtGeometryMustAddUp) {
    BootArea boot = ReadFixtureBoot("ext4.img");
    ASSERT_EQ(ClassifyBootArea(boot), SourceClass::Ext);
    BootArea b = boot;
    StoreLE<uint32_t>(b, 1024 + 0, Le32(b, 1024 + 0) * 4);  // inode count no longer matches
    EXPECT_EQ(ClassifyBootArea(b), SourceClass::Unrecognised);
    b = boot;
    StoreLE<uint32_t>(b, 1024 + 84, 2);  // first inode must be above 2
    EXPECT_EQ(ClassifyBootArea(b), SourceClass::Unrecognised);
    b = boot;
    StoreLE<uint32_t>(b, 1024 + 20, Le32(b, 1024 + 24) == 0 ? 0 : 1);  // wrong first data block
    EXPECT_EQ(ClassifyBootArea(b), SourceClass::Unrecognised);
}

TEST(BootArea, RandomBytesAreUnrecognised) {
    std::mt19937 rng(7);
    BootArea b{};
    for (int round = 0; round < 200; ++round) {
        for (auto& x : b) x = static_cast<std::byte>(rng());
        EXPECT_EQ(ClassifyBootArea(b), SourceClass::Unrecognised);
    }
}

TEST(EngineFactory, ImageEnginesByClass) {
    EXPECT_NE(CreateEngine(SourceRef::Image(test::FixturePath("ext4.img"), 1), false), nullptr);
    test::ScratchDir dir;
    const std::string tiny = dir / "tiny.img";
    test::WriteWholeFile(tiny, std::vector<std::byte>(16000));
    EXPECT_EQ(CreateEngine(SourceRef::Image(tiny, 1), false), nullptr)
        << "smaller than the boot area";
    EXPECT_EQ(CreateEngine(SourceRef::Image(dir / "missing.img", 1), false), nullptr);
    EXPECT_EQ(CreateEngine(SourceRef::Image(test::FixturePath("mbr.img"), 1), false), nullptr)
        << "no quick engine for an unrecognised source";
    // A deep scan has its driver whatever the source holds.
    test::ScopedAppDataFolder appData;
    for (const char* image : {"mbr.img", "ext4.img", "photos_ntfs.img", "photos_fat.img"}) {
        const auto deep = CreateEngine(SourceRef::Image(test::FixturePath(image), 1), true);
        EXPECT_NE(dynamic_cast<const DeepScan*>(deep.get()), nullptr) << image;
    }
}

// A volume that passes for NTFS by its boot sector but whose sector size (6144) no NTFS has:
// the quick engine cannot be opened on it. The factory hands out no such engine (its listing
// and copies would read a volume it never understood) and tells why; the deep scan still takes
// the source and passes every sector.
TEST(EngineFactory, AnEngineThatCannotBeOpenedIsNotHandedOut) {
    test::ScratchDir dir;
    std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("photos_ntfs.img"));
    ASSERT_GT(bytes.size(), kBootAreaBytes);
    bytes[11] = std::byte{0x00};
    bytes[12] = std::byte{0x18};
    const std::string odd = dir / "odd_sectors.img";
    test::WriteWholeFile(odd, bytes);
    ASSERT_EQ(ClassifyBootArea(std::span(bytes).first<kBootAreaBytes>()), SourceClass::Ntfs);

    Status failure = kOk;
    EXPECT_EQ(CreateEngine(SourceRef::Image(odd, 1), false, &failure), nullptr);
    EXPECT_EQ(failure, kErrInvalidParameter);
    EXPECT_EQ(CreateQuickScan(SourceRef::Image(odd, 1), &failure), nullptr);
    EXPECT_EQ(failure, kErrInvalidParameter);
    failure = kOk;
    EXPECT_EQ(CreateEngine(SourceRef::Image(dir / "missing.img", 1), false, &failure), nullptr);
    EXPECT_NE(failure, kOk) << "a source that cannot be opened";

    test::ScopedAppDataFolder appData;
    auto deep = CreateEngine(SourceRef::Image(odd, 1), true, &failure);
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(failure, kOk);
    ASSERT_EQ(deep->Scan(std::nullopt), kOk);
    EXPECT_FALSE(dynamic_cast<DeepScan&>(*deep).FreeSpaceOnly());
    EXPECT_GT(deep->GetRecordCount(), 0u) << "the photos are still carved";
}

TEST(EngineFactory, ExtEngineFindsNothing) {
    auto engine = CreateEngine(SourceRef::Image(test::FixturePath("ext4.img"), 1), false);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->Scan(std::nullopt), kOk);
    EXPECT_EQ(engine->GetRecordCount(), 0u);
    std::vector<FoundRecord> list;
    EXPECT_EQ(engine->ListFolder(nullptr, 0, list), kOk);
    EXPECT_TRUE(list.empty());
}

// A wiped boot sector where the volume keeps a sound backup (FAT32 in sector 6, exFAT in sector
// 12, NTFS in its last sector): the backup stands in, and the quick scan lists exactly what it
// lists on the intact volume. A damaged backup (wrong exFAT checksum, a FAT32 backup that names
// another sector, an NTFS copy whose size disagrees) is never taken.
TEST(BootArea, BackupBootSectorsStandInForAWipedOne) {
    struct Case {
        const char* fixture;
        SourceClass sourceClass;
        uint64_t backup;  // 0: the last sector
        size_t spoil;     // a byte whose change makes the backup unusable
    };
    const Case cases[] = {
        {"fat32.img", SourceClass::Fat32, 6, 6 * 512 + 50},            // its backup field
        {"photos_exfat.img", SourceClass::ExFat, 12, 12 * 512 + 300},  // the checksum
        {"photos_ntfs.img", SourceClass::Ntfs, 0, 0},                  // set below
    };
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::vector<std::byte> intact = test::ReadWholeFile(test::FixturePath(c.fixture));
        const uint64_t sectors = intact.size() / 512;
        const uint64_t backup = c.backup != 0 ? c.backup : sectors - 1;
        std::vector<std::byte> wiped = intact;
        std::fill_n(wiped.begin(), 512, std::byte{0});
        const std::string path = dir / (std::string("wiped_") + c.fixture);
        test::WriteWholeFile(path, wiped);

        SectorSource source;
        ASSERT_EQ(OpenImageSource(source, path), kOk);
        BootArea boot{};
        uint64_t used = 99;
        ASSERT_EQ(ReadBootArea(source, 0, 512, boot, sectors, &used), kOk);
        EXPECT_EQ(ClassifyBootArea(boot), c.sourceClass);
        EXPECT_EQ(used, backup);
        EXPECT_TRUE(std::equal(boot.begin(), boot.begin() + 512, intact.begin() + backup * 512));
        // Without the volume's size only the backups inside the boot area are looked for.
        ASSERT_EQ(ReadBootArea(source, 0, 512, boot, 0, &used), kOk);
        EXPECT_EQ(used, c.sourceClass == SourceClass::Ntfs ? 0u : backup);

        auto sound = CreateEngine(SourceRef::Image(test::FixturePath(c.fixture), 1), false);
        auto stood = CreateEngine(SourceRef::Image(path, 1), false);
        ASSERT_TRUE(sound && stood);
        ASSERT_EQ(sound->Scan(std::nullopt), kOk);
        ASSERT_EQ(stood->Scan(std::nullopt), kOk);
        const auto expected = test::ListTree(*sound);
        const auto listed = test::ListTree(*stood);
        EXPECT_GT(listed.size(), 4u);
        EXPECT_EQ(listed.size(), expected.size());
        for (const auto& [p, l] : expected) EXPECT_EQ(listed.count(p), 1u) << p;

        // A spoiled backup is not taken.
        const size_t spoil = c.spoil != 0 ? c.spoil : backup * 512 + 40;  // NTFS: its size
        wiped[spoil] = static_cast<std::byte>(std::to_integer<uint8_t>(wiped[spoil]) ^ 0x40);
        test::WriteWholeFile(path, wiped);
        SectorSource spoiled;
        ASSERT_EQ(OpenImageSource(spoiled, path), kOk);
        ASSERT_EQ(ReadBootArea(spoiled, 0, 512, boot, sectors, &used), kOk);
        EXPECT_EQ(ClassifyBootArea(boot), SourceClass::Unrecognised);
        EXPECT_EQ(used, 0u);
    }
}

}  // namespace
}  // namespace keltra
