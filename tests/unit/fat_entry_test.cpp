#include "engines/layouts/fat_entry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engines/layouts/boot_area.h"
#include "platform/little_endian.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using Entry = std::array<std::byte, 32>;

constexpr uint16_t DosDate(int y, int m, int d) {
    return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
constexpr uint16_t DosTime(int h, int mi, int s) {
    return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
}

// A short entry dated 2017-06-15 10:30:20 everywhere.
Entry ShortEntry(const char* name11, uint8_t attr, uint32_t size, uint32_t cluster) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = std::byte{attr};
    StoreLE<uint16_t>(e, 14, DosTime(10, 30, 20));
    StoreLE<uint16_t>(e, 16, DosDate(2017, 6, 15));
    StoreLE<uint16_t>(e, 18, DosDate(2017, 6, 15));
    StoreLE<uint16_t>(e, 20, static_cast<uint16_t>(cluster >> 16));
    StoreLE<uint16_t>(e, 22, DosTime(10, 30, 20));
    StoreLE<uint16_t>(e, 24, DosDate(2017, 6, 15));
    StoreLE<uint16_t>(e, 26, static_cast<uint16_t>(cluster));
    StoreLE<uint32_t>(e, 28, size);
    return e;
}

// A long-name entry holding `text` (up to 13 ASCII characters) for the given checksum.
Entry LongEntry(uint8_t sequence, const std::string& text, uint8_t checksum) {
    Entry e{};
    e[0] = std::byte{sequence};
    e[11] = std::byte{kFatAttrLongName};
    e[13] = std::byte{checksum};
    static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i) {
        const uint16_t unit = i < text.size()    ? static_cast<uint8_t>(text[i])
                              : i == text.size() ? 0
                                                 : 0xFFFF;
        StoreLE<uint16_t>(e, kUnitOffsets[i], unit);
    }
    return e;
}

std::vector<std::byte> Join(std::initializer_list<Entry> entries, size_t totalBytes = 512) {
    std::vector<std::byte> out;
    for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
    out.resize(std::max(out.size(), totalBytes));
    return out;
}

uint8_t ChecksumOf(const char* name11) {
    return LfnChecksum(std::as_bytes(std::span(name11, 11)));
}

TEST(FatEntry, DosTimesConvertToLocalFileTimes) {
    // 2017-06-15 10:30:20 is 1497522620 s after 1970 when read as UTC.
    const uint64_t expected = (1497522620ull + 11644473600ull) * 10'000'000;
    EXPECT_EQ(DosDateTimeToFileTime(DosDate(2017, 6, 15), DosTime(10, 30, 20)), expected);
    EXPECT_EQ(DosDateTimeToFileTime(DosDate(2017, 6, 15), DosTime(10, 30, 20), 1230),
              expected + 12'300'000);
    EXPECT_EQ(DosDateTimeToFileTime(DosDate(2000, 2, 29), 0).has_value(), true);
    // Impossible dates and times give nothing.
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 2, 29), 0));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 0, 1), 0));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 13, 1), 0));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 4, 31), 0));
    EXPECT_FALSE(DosDateTimeToFileTime(0, 0));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 1, 1), DosTime(24, 0, 0)));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 1, 1), static_cast<uint16_t>(60 << 5)));
    EXPECT_FALSE(DosDateTimeToFileTime(DosDate(2001, 1, 1), 30));  // 60 seconds

    Entry e = ShortEntry("PHOTO   JPG", kFatAttrArchive, 10, 5);
    e[13] = std::byte{150};  // 1.5 s past the two-second creation time
    StoreLE<uint16_t>(e, 22, DosTime(11, 0, 0));
    const FatEntryTimes t = ReadFatEntryTimes(FatEntryView(e));
    EXPECT_EQ(t.created, expected + 15'000'000);
    EXPECT_EQ(t.accessed, (1497484800ull + 11644473600ull) * 10'000'000);  // the date at midnight
    EXPECT_EQ(t.modified, expected + (29 * 60 + 40) * 10'000'000ull);
    StoreLE<uint16_t>(e, 16, 0);
    EXPECT_EQ(ReadFatEntryTimes(FatEntryView(e)).created, 0u);
}

TEST(FatEntry, ShortNameCharacters) {
    auto bad = [](const char* n) { return HasBadShortNameChar(std::as_bytes(std::span(n, 11))); };
    EXPECT_FALSE(bad("PHOTO   JPG"));
    EXPECT_FALSE(bad("\xE5HOTO   JPG"));
    EXPECT_FALSE(bad("CAF\xC9    TXT"));
    EXPECT_FALSE(bad("A B     C D"));
    EXPECT_TRUE(bad("photo   JPG"));
    EXPECT_TRUE(bad("PHO.O   JPG"));
    EXPECT_TRUE(bad("PHO\x01O   JPG"));
    for (char c : std::string("\"*/:<>?\\|")) {
        std::string n = "PHOTO   JPG";
        n[2] = c;
        EXPECT_TRUE(bad(n.c_str())) << c;
    }
}

TEST(FatEntry, DotPairsAndChecksums) {
    const auto pair = Join({ShortEntry(".          ", kFatAttrDirectory, 0, 7),
                            ShortEntry("..         ", kFatAttrDirectory, 0, 0)});
    EXPECT_TRUE(IsDotPair(pair));
    EXPECT_TRUE(IsPlausibleFatEntry(pair));
    EXPECT_FALSE(IsDotPair(std::span(pair).first(40)));
    auto sized = pair;
    StoreLE<uint32_t>(sized, 28, 1);
    EXPECT_FALSE(IsDotPair(sized));
    auto noDir = pair;
    noDir[32 + 11] = std::byte{kFatAttrArchive};
    EXPECT_FALSE(IsDotPair(noDir));
    // The checksum every FAT implementation computes for these names.
    EXPECT_EQ(ChecksumOf("DELETE~1BIN"), 0x95);
    EXPECT_EQ(ChecksumOf("KEEP    BIN"), ChecksumOf("KEEP    BIN"));
    EXPECT_NE(ChecksumOf("KEEP    BIN"), ChecksumOf("KEEP    BIM"));
}

TEST(FatEntry, PlausibilityRules) {
    auto ok = [](const Entry& e) { return IsPlausibleFatEntry(e); };
    EXPECT_TRUE(ok(ShortEntry("PHOTO   JPG", kFatAttrArchive, 100, 5)));
    EXPECT_TRUE(ok(ShortEntry("SUB        ", kFatAttrDirectory, 0, 9)));
    EXPECT_TRUE(ok(ShortEntry("\xE5HOTO   JPG", kFatAttrArchive, 100, 5)));
    EXPECT_TRUE(ok(LongEntry(0x41, "photo.jpg", 0x12)));
    EXPECT_TRUE(ok(LongEntry(0xE5, "photo.jpg", 0x12)));
    EXPECT_TRUE(ok(ShortEntry("LABEL      ", kFatAttrVolumeLabel, 0, 0)));
    // An empty file has no cluster.
    EXPECT_FALSE(ok(ShortEntry("PHOTO   JPG", kFatAttrArchive, 0, 5)));
    EXPECT_TRUE(ok(ShortEntry("PHOTO   JPG", kFatAttrArchive, 0, 0)));
    EXPECT_FALSE(ok(ShortEntry("LABEL      ", kFatAttrVolumeLabel, 0, 3)));
    EXPECT_FALSE(ok(ShortEntry("PHOTO   JPG", kFatAttrArchive | kFatAttrVolumeLabel, 1, 5)));
    EXPECT_FALSE(ok(ShortEntry("SUB        ", kFatAttrDirectory | kFatAttrReadOnly, 0, 9)));
    EXPECT_FALSE(ok(ShortEntry("PHOTO   JPG", kFatAttrArchive | 0x40, 1, 5)));
    EXPECT_FALSE(ok(ShortEntry("SUB        ", kFatAttrDirectory, 10, 9)));
    EXPECT_TRUE(ok(ShortEntry("\xE5UB        ", kFatAttrDirectory, 10, 9)));
    EXPECT_FALSE(ok(LongEntry(0x40 | 19, "x", 0)));
    EXPECT_TRUE(ok(LongEntry(0x40 | 18, "x", 0)));
    auto lfnCluster = LongEntry(0x41, "x", 0);
    StoreLE<uint16_t>(lfnCluster, 26, 4);
    EXPECT_FALSE(ok(lfnCluster));
    // Without the archive or folder bit a file is not believed.
    EXPECT_FALSE(ok(ShortEntry("PHOTO   JPG", 0x00, 1, 5)));
    EXPECT_FALSE(ok(ShortEntry("PHOTO   JPG", 0x02, 1, 5)));
    EXPECT_FALSE(ok(ShortEntry("photo   JPG", kFatAttrArchive, 1, 5)));
    EXPECT_FALSE(ok(ShortEntry("\xE5hoto   JPG", kFatAttrArchive, 1, 5)));

    // Live entries must be dated 1990 to 2049; deleted ones are not looked at.
    auto dated = [](uint16_t modifiedDate, bool deleted) {
        Entry e = ShortEntry(deleted ? "\xE5HOTO   JPG" : "PHOTO   JPG", kFatAttrArchive, 1, 5);
        StoreLE<uint16_t>(e, 24, modifiedDate);
        return IsPlausibleFatEntry(e);
    };
    EXPECT_TRUE(dated(DosDate(1990, 1, 1), false));
    EXPECT_FALSE(dated(DosDate(1989, 12, 31), false));
    EXPECT_TRUE(dated(DosDate(2049, 12, 31), false));
    EXPECT_FALSE(dated(DosDate(2050, 1, 2), false));
    EXPECT_FALSE(dated(DosDate(2017, 2, 30), false));
    EXPECT_TRUE(dated(DosDate(2017, 2, 30), true));
    // Creation and access fields left at 0 mean "not recorded" (DOS, mkfs labels) and pass.
    Entry dos = ShortEntry("PHOTO   JPG", kFatAttrArchive, 1, 5);
    StoreLE<uint16_t>(dos, 14, 0);
    StoreLE<uint16_t>(dos, 16, 0);
    StoreLE<uint16_t>(dos, 18, 0);
    EXPECT_TRUE(ok(dos));
    StoreLE<uint16_t>(dos, 24, 0);
    EXPECT_FALSE(ok(dos));
}

TEST(FatEntry, DirectorySectorTest) {
    const char* shortName = "DELETE~1BIN";
    const uint8_t sum = ChecksumOf(shortName);
    const Entry file = ShortEntry(shortName, kFatAttrArchive, 100, 5);
    // Entries, then zeros to the end.
    EXPECT_TRUE(LooksLikeFatDirSector(
        Join({LongEntry(0x42, "me.bin", sum), LongEntry(0x01, "Deleted long na", sum), file,
              ShortEntry("SUB        ", kFatAttrDirectory, 0, 9)})));
    // A zero first byte at the start, or stray bytes after the end mark.
    EXPECT_FALSE(LooksLikeFatDirSector(Join({})));
    auto trailing = Join({file});
    trailing[300] = std::byte{1};
    EXPECT_FALSE(LooksLikeFatDirSector(trailing));
    // A long-name run must match its short entry unless that entry is deleted.
    EXPECT_FALSE(
        LooksLikeFatDirSector(Join({LongEntry(0x41, "x", static_cast<uint8_t>(sum + 1)), file})));
    EXPECT_TRUE(LooksLikeFatDirSector(Join({LongEntry(0xE5, "x", static_cast<uint8_t>(sum + 1)),
                                            ShortEntry("\xE5"
                                                       "ELETE~1BIN",
                                                       kFatAttrArchive, 100, 5)})));
    EXPECT_FALSE(LooksLikeFatDirSector(Join(
        {LongEntry(0x42, "x", sum), LongEntry(0x01, "y", static_cast<uint8_t>(sum + 1)), file})));
    // A run cut by the sector end is accepted.
    std::vector<std::byte> cut;
    for (int i = 0; i < 16; ++i) {
        const Entry e = LongEntry(static_cast<uint8_t>(16 - i), "abcdefghijklm", sum);
        cut.insert(cut.end(), e.begin(), e.end());
    }
    EXPECT_TRUE(LooksLikeFatDirSector(cut));
    // Short-name layout: nothing after a space inside the base or the extension, no dot, valid
    // creation time, high bytes in pairs.
    EXPECT_FALSE(LooksLikeFatDirSector(Join({ShortEntry("AB CD   TXT", kFatAttrArchive, 1, 5)})));
    EXPECT_FALSE(LooksLikeFatDirSector(Join({ShortEntry("ABCD    T T", kFatAttrArchive, 1, 5)})));
    EXPECT_TRUE(
        LooksLikeFatDirSector(Join({ShortEntry("\xB0\xA1"
                                               "CD    TXT",
                                               kFatAttrArchive, 1, 5)})));
    EXPECT_FALSE(
        LooksLikeFatDirSector(Join({ShortEntry("\xB0"
                                               "BCD    TXT",
                                               kFatAttrArchive, 1, 5)})));
    Entry badCreation = ShortEntry(
        "\xE5"
        "BCD    TXT",
        kFatAttrArchive, 1, 5);
    StoreLE<uint16_t>(badCreation, 16, DosDate(2017, 2, 30));
    EXPECT_FALSE(LooksLikeFatDirSector(Join({badCreation})));
    // A 16-byte pattern repeated over the sector is fill.
    std::vector<std::byte> fill(512);
    for (size_t i = 0; i < fill.size(); ++i) fill[i] = file[i % 16];
    EXPECT_FALSE(LooksLikeFatDirSector(fill));
    EXPECT_FALSE(LooksLikeFatDirSector(std::vector<std::byte>(512, std::byte{0xF6})));
}

// The first sector of a cluster of a fixture volume.
std::vector<std::byte> ClusterSector(const std::string& image, uint32_t cluster) {
    const auto bytes = test::ReadWholeFile(test::FixturePath(image));
    const bool fat32 = image == "fat32.img";
    const FatBootFields f = ReadFatBootFields(std::span(bytes).first(512), fat32);
    uint64_t sector = f.reservedSectors + uint64_t{f.fatCount} * f.fatSectors;
    if (cluster == 0 && !fat32) {
        // the root area
    } else {
        sector += f.rootDirSectors + uint64_t{cluster - 2} * f.sectorsPerCluster;
    }
    const auto at = bytes.begin() + static_cast<ptrdiff_t>(sector * f.bytesPerSector);
    return {at, at + f.bytesPerSector};
}

TEST(FatEntry, RealDirectorySectorsOfTheFixtures) {
    for (const std::string image : {"fat12.img", "fat16.img", "fat32.img"}) {
        SCOPED_TRACE(image);
        const auto root = ClusterSector(image, image == "fat32.img" ? 2 : 0);
        EXPECT_TRUE(LooksLikeFatDirSector(root));
        EXPECT_FALSE(IsDotPair(root));
        // The root names the Photos folder; its first sector starts with the dot pair and holds
        // a deleted file with a long name.
        uint32_t photos = 0;
        for (size_t off = 0; off + 32 <= root.size() && root[off] != std::byte{0}; off += 32) {
            const auto at = std::span(root).subspan(off);
            EXPECT_TRUE(IsPlausibleFatEntry(at)) << off;
            const FatEntryView e(at);
            if (e.IsFolder() && BytesEqual(at, 0, "PHOTOS     ")) photos = e.Cluster();
        }
        ASSERT_NE(photos, 0u);
        const auto folder = ClusterSector(image, photos);
        EXPECT_TRUE(IsDotPair(folder));
        std::vector<std::byte> entries(folder.begin() + 64, folder.end());
        entries.resize(folder.size());
        EXPECT_TRUE(LooksLikeFatDirSector(entries));
        size_t at = 0;
        while (at + 32 <= entries.size() && !BytesEqual(entries, at,
                                                        "\xE5"
                                                        "ELETE~1BIN"))
            at += 32;
        ASSERT_TRUE(at >= 64 && at + 32 <= entries.size());
        const FatEntryView deleted{std::span(entries).subspan(at)};
        EXPECT_EQ(deleted.Size(), 5000u);
        // The deletion mark replaced the "D" of the short name the long name was made for.
        EXPECT_EQ(FatEntryView(std::span(entries).subspan(at - 32)).LfnChecksumByte(),
                  ChecksumOf("DELETE~1BIN"));
    }
}

}  // namespace
}  // namespace keltra
