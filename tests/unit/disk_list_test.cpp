#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/disk_names.h"
#include "platform/duration_text.h"
#include "storage/disk_queries.h"
#include "storage/image_destination.h"
#include "storage/volume_enumerator.h"
#include "support/test_support.h"

namespace keltra {
namespace {

VolumeEntry VolumeAt(uint64_t startByte, uint64_t lengthBytes, uint8_t kind = kKindNtfs) {
    VolumeEntry e;
    e.kind = kind;
    e.partitionNumber = 1;
    e.start = startByte;
    e.length = lengthBytes;
    return e;
}

DiskLayout Layout(uint64_t diskSectors, uint32_t bytesPerSector = 512) {
    return {true, bytesPerSector, 63, 255 * 63, diskSectors};
}

TEST(DiskList, GapsLongerThanOneCylinderBecomeUnallocatedEntries) {
    // One NTFS volume at sector 2,048: the 1,985 sectors before it are less than a cylinder.
    uint32_t lastBps = 512;
    std::vector<VolumeEntry> one{VolumeAt(2048 * 512, 1000000ull * 512)};
    CompleteDiskEntries(0, Layout(1002048 + 16065), lastBps, one);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].start, 2048u);
    EXPECT_EQ(one[0].length, 1000000u);

    // 100 GB free after the last volume: one trailing entry, sized in bytes of this disk.
    const uint64_t disk = 1002048 + 100'000'000'000ull / 512;
    std::vector<VolumeEntry> trailing{VolumeAt(2048 * 512, 1000000ull * 512)};
    CompleteDiskEntries(3, Layout(disk), lastBps, trailing);
    ASSERT_EQ(trailing.size(), 2u);
    EXPECT_EQ(trailing[1].kind, kKindNone);
    EXPECT_EQ(trailing[1].diskNumber, 3);
    EXPECT_EQ(trailing[1].start, 1002048u);
    EXPECT_EQ(trailing[1].length, disk - 1002048);
    EXPECT_EQ(trailing[1].totalBytes, (disk - 1002048) * 512);
    EXPECT_EQ(trailing[1].freeBytes, trailing[1].totalBytes);
    EXPECT_EQ(trailing[1].usedBytes, 0u);

    // Out of order in, sorted out; a gap between them; overlapping volumes add nothing.
    std::vector<VolumeEntry> two{VolumeAt(300000ull * 512, 1000ull * 512),
                                 VolumeAt(63 * 512, 100000ull * 512),
                                 VolumeAt(300500ull * 512, 100ull * 512)};
    CompleteDiskEntries(0, Layout(300600), lastBps, two);
    ASSERT_EQ(two.size(), 4u);
    EXPECT_EQ(two[0].start, 63u);
    EXPECT_EQ(two[1].kind, kKindNone);
    EXPECT_EQ(two[1].start, 100063u);
    EXPECT_EQ(two[1].length, 300000u - 100063u);
    EXPECT_EQ(two[2].start, 300000u);
    EXPECT_EQ(two[3].start, 300500u);
}

TEST(DiskList, UnknownGeometryUsesTheClassicCylinderAndTheLastSectorSize) {
    uint32_t lastBps = 512;
    std::vector<VolumeEntry> first{VolumeAt(2048 * 4096, 100 * 4096)};
    CompleteDiskEntries(0, Layout(1'000'000, 4096), lastBps, first);
    EXPECT_EQ(lastBps, 4096u);

    // The next disk's geometry fails: its bytes are read in 4,096-byte sectors, the first track
    // is 63 sectors, the cylinder 16,065, and there is no trailing stretch.
    std::vector<VolumeEntry> entries{VolumeAt(16128ull * 4096, 10ull * 4096),
                                     VolumeAt(100000ull * 4096, 10ull * 4096)};
    CompleteDiskEntries(1, DiskLayout{}, lastBps, entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].start, 16128u);  // 16,065 sectors after 63: not more than a cylinder
    EXPECT_EQ(entries[1].start, 16138u);
    EXPECT_EQ(entries[1].length, 100000u - 16138u);
    EXPECT_EQ(entries[1].totalBytes, (100000u - 16138u) * 4096ull);
}

TEST(DiskList, NumbersRunOverAllDisks) {
    DiskMap map;
    map[2].resize(2);
    map[0].resize(3);
    NumberEntries(map);
    EXPECT_EQ(map[0][0].letter, 1);
    EXPECT_EQ(map[0][2].letter, 3);
    EXPECT_EQ(map[2][0].letter, 4);
    EXPECT_EQ(map[2][1].letter, 5);
}

// The entries of the loop device's disk, and the count of entries on disks before it.
const std::vector<VolumeEntry>* EntriesOf(const DiskMap& map, const std::string& device,
                                          size_t& before) {
    const auto disk = DiskNumberOfDevice(device);
    if (!disk) return nullptr;
    before = 0;
    for (const auto& [number, entries] : map) {
        if (number == *disk) return &entries;
        before += entries.size();
    }
    return nullptr;
}

TEST(DiskList, PartitionedLoopDeviceGivesVolumesAndTheGapInStartOrder) {
    test::LoopDevice loop(test::FixturePath("mbr.img"), true);
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    DiskMap map;
    ASSERT_EQ(RefreshVolumes(map), 1);
    size_t before = 0;
    const auto* entries = EntriesOf(map, loop.Device(), before);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->size(), 3u);
    const VolumeEntry& fat = (*entries)[0];
    const VolumeEntry& gap = (*entries)[1];
    const VolumeEntry& ntfs = (*entries)[2];

    EXPECT_EQ(fat.kind, kKindFat);
    EXPECT_EQ(fat.partitionNumber, 1);
    EXPECT_EQ(fat.start, 2048u);
    EXPECT_EQ(fat.length, 32768u);
    EXPECT_EQ(fat.fileSystemName, "FAT");
    EXPECT_EQ(fat.volumeLabel, "PART1");
    EXPECT_TRUE(fat.mountPoint.empty());
    EXPECT_EQ(fat.totalBytes, 32768u * 512);
    EXPECT_EQ(fat.freeBytes, 0u);
    EXPECT_EQ(fat.usedBytes, fat.totalBytes);

    EXPECT_EQ(gap.kind, kKindNone);
    EXPECT_EQ(gap.partitionNumber, -1);
    EXPECT_EQ(gap.start, 34816u);
    EXPECT_EQ(gap.length, 100u * 1024 * 2);  // the 100 MiB gap
    EXPECT_EQ(gap.freeBytes, 100u * 1024 * 1024);

    EXPECT_EQ(ntfs.kind, kKindNtfs);
    EXPECT_EQ(ntfs.partitionNumber, 2);
    EXPECT_EQ(ntfs.start, 239616u);
    EXPECT_EQ(ntfs.fileSystemName, "NTFS");
    EXPECT_EQ(ntfs.volumeLabel, "PART2");

    // The 14,336 sectors after the NTFS volume are less than a cylinder: no trailing entry.
    EXPECT_EQ(fat.letter, before + 1);
    EXPECT_EQ(gap.letter, before + 2);
    EXPECT_EQ(ntfs.letter, before + 3);
    if (std::filesystem::exists(loop.Device() + "p2")) {
        EXPECT_EQ(ntfs.volumePath, loop.Device() + "p2");
    }
}

TEST(DiskList, GptPartitionsTakeKindsByFileSystemAndType) {
    test::LoopDevice loop(test::FixturePath("gpt.img"));
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    DiskMap map;
    ASSERT_EQ(RefreshVolumes(map), 1);
    size_t before = 0;
    const auto* entries = EntriesOf(map, loop.Device(), before);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->size(), 4u);
    EXPECT_EQ((*entries)[0].kind, kKindFat32);
    EXPECT_EQ((*entries)[0].fileSystemName, "FAT32");
    EXPECT_EQ((*entries)[0].volumeLabel, "GPTFAT");
    EXPECT_EQ((*entries)[1].kind, 0x83);
    EXPECT_EQ((*entries)[1].fileSystemName, "ext4");
    EXPECT_EQ((*entries)[2].kind, 0xEE);  // blank, of a type without an MBR counterpart
    EXPECT_EQ((*entries)[2].fileSystemName, "");
    EXPECT_EQ((*entries)[3].kind, kKindNone);  // the free end, backup table included
    EXPECT_EQ((*entries)[3].start, 108544u);
    EXPECT_EQ((*entries)[3].length, 131072u - 108544u);
}

TEST(DiskList, BlankAndWholeDiskFileSystemLoopDevices) {
    test::ScratchDir dir;
    const std::string blank = dir / "blank.img";
    test::WriteWholeFile(blank, {});
    std::filesystem::resize_file(blank, 64ull << 20);
    test::LoopDevice loop(blank);
    test::LoopDevice superfloppy(test::FixturePath("ntfs.img"));
    if (!loop.Valid() || !superfloppy.Valid()) GTEST_SKIP() << "no loop devices here";
    DiskMap map;
    ASSERT_EQ(RefreshVolumes(map), 1);
    size_t before = 0;
    const auto* entries = EntriesOf(map, loop.Device(), before);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->size(), 1u);
    const VolumeEntry& whole = (*entries)[0];
    EXPECT_EQ(whole.kind, kKindNone);
    EXPECT_EQ(whole.start, 0u);
    EXPECT_EQ(whole.length, 131072u);
    EXPECT_EQ(whole.totalBytes, 64ull << 20);
    EXPECT_EQ(whole.freeBytes, 64ull << 20);
    EXPECT_EQ(whole.letter, before + 1);

    // A file system on the whole device, without a partition table, is a volume.
    const auto* fsEntries = EntriesOf(map, superfloppy.Device(), before);
    ASSERT_NE(fsEntries, nullptr);
    ASSERT_EQ(fsEntries->size(), 1u);
    EXPECT_EQ((*fsEntries)[0].kind, kKindNtfs);
    EXPECT_EQ((*fsEntries)[0].partitionNumber, 0);
    EXPECT_EQ((*fsEntries)[0].volumePath, superfloppy.Device());
}

// An NTFS partition of the MBR fixture mounted read-only through ntfs-3g.
class MountedNtfs {
  public:
    MountedNtfs(const std::string& device, const std::string& mountPoint) : dir_(mountPoint) {
        std::filesystem::create_directories(dir_);
        const std::string cmd = "ntfs-3g -o ro " + device + " " + dir_ + " 2>/dev/null";
        mounted_ = std::system(cmd.c_str()) == 0;
    }
    ~MountedNtfs() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string dir_;
    bool mounted_ = false;
};

TEST(DiskList, MountedVolumesReportTheirFileSystemsSpace) {
    test::LoopDevice loop(test::FixturePath("mbr.img"), true);
    if (!loop.Valid() || !std::filesystem::exists(loop.Device() + "p2")) {
        GTEST_SKIP() << "no partition nodes for loop devices here";
    }
    test::ScratchDir dir;
    const std::string mnt = dir / "mnt";
    MountedNtfs mount(loop.Device() + "p2", mnt);
    if (!mount.Mounted()) GTEST_SKIP() << "ntfs-3g cannot mount here";

    DiskMap map;
    ASSERT_EQ(RefreshVolumes(map), 1);
    size_t before = 0;
    const auto* entries = EntriesOf(map, loop.Device(), before);
    ASSERT_NE(entries, nullptr);
    ASSERT_EQ(entries->size(), 3u);
    const VolumeEntry& ntfs = (*entries)[2];
    EXPECT_EQ(ntfs.mountPoint, mnt);
    struct statvfs st {};
    ASSERT_EQ(::statvfs(mnt.c_str(), &st), 0);
    EXPECT_EQ(ntfs.totalBytes, uint64_t{st.f_blocks} * st.f_frsize);
    EXPECT_EQ(ntfs.freeBytes, uint64_t{st.f_bfree} * st.f_frsize);
    EXPECT_GT(ntfs.usedBytes, 0u);
    EXPECT_LT(ntfs.usedBytes, ntfs.totalBytes);

    std::string name;
    ASSERT_EQ(VolumeFileSystemName(mnt, name), kOk);
    EXPECT_EQ(name, "NTFS");  // the mount table says "fuseblk"
    uint64_t free = 0;
    ASSERT_EQ(VolumeFreeBytes(mnt, free), kOk);
    EXPECT_EQ(free, uint64_t{st.f_bavail} * st.f_frsize);

    // An image of the NTFS partition, or of the whole disk, cannot go onto that partition;
    // an image of the FAT partition can.
    const int disk = ntfs.diskNumber;
    EXPECT_TRUE(ImageLandsOnSource(mnt + "/new.img", disk, 239616, 32768));
    EXPECT_TRUE(ImageLandsOnSource(mnt + "/a/b/new.img", disk, 0, 286720));
    EXPECT_FALSE(ImageLandsOnSource(mnt + "/new.img", disk, 2048, 32768));
    EXPECT_FALSE(ImageLandsOnSource(dir / "new.img", disk, 0, 286720));
}

TEST(DiskList, DiskQueries) {
    test::LoopDevice loop(test::FixturePath("mbr.img"));
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    const auto disk = DiskNumberOfDevice(loop.Device());
    ASSERT_TRUE(disk);
    uint64_t length = 0;
    ASSERT_EQ(DiskLengthBytes(*disk, length), kOk);
    EXPECT_EQ(length, 140ull << 20);
    EXPECT_FALSE(IsRemovableDisk(*disk));
    EXPECT_FALSE(IsRemovableDisk(9999));
    EXPECT_EQ(DiskLengthBytes(9999, length), kErrFileNotFound);

    std::string name;
    EXPECT_EQ(VolumeFileSystemName("/no/such/path", name), kErrFileNotFound);
    uint64_t free = 0;
    EXPECT_EQ(VolumeFreeBytes("/no/such/path", free), kErrFileNotFound);
}

TEST(DiskList, DurationWording) {
    EXPECT_EQ(DurationText(3600), "1 Hour 0 Min");
    EXPECT_EQ(DurationText(3599), "59 Min 59 Sec");
    EXPECT_EQ(DurationText(60), "1 Min 0 Sec");
    EXPECT_EQ(DurationText(59), "59 Sec");
    EXPECT_EQ(DurationText(0), "0 Sec");
    EXPECT_EQ(DurationText(90061), "25 Hour 1 Min");
}

TEST(CliDisks, ListsTheLoopDeviceAsATree) {
    test::LoopDevice loop(test::FixturePath("mbr.img"));
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    const auto json = test::RunKeltra({"disks", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    const auto disk = DiskNumberOfDevice(loop.Device());
    bool seen = false;
    for (const auto& d : j["disks"]) {
        if (d["disk"] != *disk) continue;
        seen = true;
        EXPECT_EQ(d["device"], loop.Device());
        ASSERT_EQ(d["entries"].size(), 3u);
        EXPECT_EQ(d["entries"][0]["file_system"], "FAT");
        EXPECT_EQ(d["entries"][1]["role"], "unallocated");
        EXPECT_EQ(d["entries"][2]["kind"], 7);
    }
    EXPECT_TRUE(seen) << json.out;

    const auto text = test::RunKeltra({"disks"});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find(loop.Device()), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("NTFS \"PART2\""), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("unallocated"), std::string::npos);
}

// An exFAT volume (an SDXC card's file system) is listed by its own name and label; the kind
// stays the table's type byte, which exFAT shares with NTFS in an MBR.
TEST(DiskList, ExFatVolumeIsNamed) {
    FileHandle image;
    ASSERT_EQ(FileHandle::OpenForReading(test::FixturePath("exfat.img"), image), kOk);
    const uint64_t bytes = std::filesystem::file_size(test::FixturePath("exfat.img"));
    const VolumeEntry entry = DescribeVolume(image, 1, 0, bytes, kKindNtfs);
    EXPECT_EQ(entry.fileSystemName, "exFAT");
    EXPECT_EQ(entry.volumeLabel, "KELTRAEX");
    EXPECT_EQ(entry.kind, kKindNtfs);
}

}  // namespace
}  // namespace keltra
