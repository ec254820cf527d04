#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engines/fat/fat_directory_walker.h"
#include "engines/fat/fat_file_reader.h"
#include "engines/fat/fat_names.h"
#include "platform/little_endian.h"
#include "tests/unit/fat_test_support.h"

namespace keltra {
namespace {

struct Logged {
    FoundRecord record;
    uint64_t parentKey;
};

class VectorSink : public FatScanSink {
  public:
    void FileFound(const FoundRecord& r, uint64_t key) override { files.push_back({r, key}); }
    void FolderFound(const FoundRecord& r, uint64_t key) override { folders.push_back({r, key}); }
    std::vector<Logged> files;
    std::vector<Logged> folders;
};

// A FAT volume of an image held in memory.
struct MemoryVolume {
    explicit MemoryVolume(std::vector<std::byte> bytes, uint64_t faultFrom = UINT64_MAX) {
        const uint64_t sectors = bytes.size() / 512;
        geometry = ReadFatGeometry(std::span(bytes).first(512));
        OpenReaderSource(source, std::make_unique<test::MemoryReader>(std::move(bytes), faultFrom),
                         sectors);
        if (geometry) {
            volume = FatVolume{&source, 0, sectors, *geometry};
            IgnoreStatus(table.Load(source, 0, *geometry),
                         "a FAT that cannot be read is read again at each lookup");
        }
    }
    SectorSource source;
    std::optional<FatGeometry> geometry;
    FatVolume volume;
    FatTable table;
};

// Stands in for the signature check: a ".jpg" must start with a JPEG marker.
bool JpegHeaderCheck(std::span<const std::byte> bytes, std::string_view extension, uint64_t) {
    if (extension != "jpg") return true;
    return bytes.size() >= 3 && Byte(bytes, 0) == 0xFF && Byte(bytes, 1) == 0xD8 &&
           Byte(bytes, 2) == 0xFF;
}

struct WalkResult {
    VectorSink sink;
    std::map<std::string, Logged> files;  // by comparable path
};

void Walk(MemoryVolume& v, WalkResult& out, size_t maxSteps = SIZE_MAX) {
    FatDirectoryWalker walker(v.volume, v.table, 7, JpegHeaderCheck, out.sink);
    walker.Start();
    for (size_t i = 0; i < maxSteps && walker.Step(); ++i) {
    }
    walker.ReportFolders();
    std::map<uint32_t, const Logged*> folders;
    for (const auto& f : out.sink.folders) folders[f.record.key] = &f;
    for (const auto& f : out.sink.files) {
        std::string path(f.record.Name());
        std::set<uint32_t> seen;
        for (uint32_t parent = static_cast<uint32_t>(f.parentKey);
             folders.count(parent) && seen.insert(parent).second;) {
            path = std::string(folders[parent]->record.Name()) + "/" + path;
            parent = static_cast<uint32_t>(folders[parent]->parentKey);
        }
        out.files[test::ComparablePath(path)] = f;
    }
}

MemoryVolume FixtureVolume(const std::string& image) {
    return MemoryVolume(test::ReadWholeFile(test::FixturePath(image)));
}

std::string ReadAll(MemoryVolume& v, const FoundRecord& r, Status& status) {
    FatFileLayout layout{v.geometry->bytesPerSector, v.geometry->rootDirSectors,
                         v.geometry->MaxCluster(), &v.table};
    std::string data;
    status =
        ReadFatFileData(v.source, layout, r, UINT64_MAX, [&](std::span<const std::byte> piece) {
            data.append(reinterpret_cast<const char*>(piece.data()), piece.size());
            return kOk;
        });
    return data;
}

std::string Original(const std::string& name) {
    const auto bytes = test::ReadWholeFile(test::FixturePath("fat_originals/" + name));
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(FatWalker, GeometryOfTheFixtures) {
    auto v12 = FixtureVolume("fat12.img");
    ASSERT_TRUE(v12.geometry);
    EXPECT_EQ(v12.geometry->kind, FatKind::Fat12);
    // A floppy's root area is 224 entries: 14 sectors, not 32.
    EXPECT_EQ(v12.geometry->rootDirSectors, 14u);
    EXPECT_EQ(v12.geometry->dataAreaStart, 1u + 2 * 9 + 14);
    auto v16 = FixtureVolume("fat16.img");
    EXPECT_EQ(v16.geometry->kind, FatKind::Fat16);
    EXPECT_EQ(v16.geometry->rootDirSectors, 32u);
    auto v32 = FixtureVolume("fat32.img");
    EXPECT_EQ(v32.geometry->kind, FatKind::Fat32);
    EXPECT_EQ(v32.geometry->rootCluster, 2u);
    EXPECT_GT(v32.geometry->clusterCount, 65536u * 2 - 10000);
    EXPECT_FALSE(ReadFatGeometry(std::vector<std::byte>(512)));
}

TEST(FatWalker, ListsWhatFlsListsWithNamesSizesAndTimes) {
    for (const std::string image : {"fat12.img", "fat16.img", "fat32.img"}) {
        SCOPED_TRACE(image);
        auto v = FixtureVolume(image);
        WalkResult walk;
        Walk(v, walk);
        const auto oracle = test::FlsDeletedFiles(test::FixturePath(image));
        ASSERT_FALSE(oracle.empty());
        std::set<std::string> ours, theirs;
        for (const auto& [path, f] : walk.files) ours.insert(path);
        for (const auto& [path, e] : oracle) theirs.insert(path);
        EXPECT_EQ(ours, theirs);
        for (const auto& [path, e] : oracle) {
            const auto it = walk.files.find(path);
            if (it == walk.files.end()) continue;
            const FoundRecord& r = it->second.record;
            EXPECT_EQ(r.size, e.size) << path;
            EXPECT_EQ(UnixFromFileTime(r.modified), e.modified) << path;
            EXPECT_EQ(UnixFromFileTime(r.accessed), e.accessed) << path;
            EXPECT_EQ(UnixFromFileTime(r.created), e.created) << path;
            EXPECT_EQ(r.origin, 1u);
            EXPECT_EQ(r.sourceTag, 7);
            EXPECT_EQ(r.dataAreaStart, v.geometry->dataAreaStart);
            EXPECT_EQ(r.clusterBytes, static_cast<int32_t>(v.geometry->ClusterBytes()));
            EXPECT_EQ(r.contentIntact, 1u) << path;
        }
        // Live files in live folders are not logged.
        EXPECT_FALSE(walk.files.count("photos/keep.bin"));
        EXPECT_FALSE(walk.files.count("photos/2017/summer/sunset.jpg"));
    }
}

TEST(FatWalker, FolderRecordsOnThePathsOnlyOnceAndFiledOneLevelAbove) {
    auto v = FixtureVolume("fat16.img");
    WalkResult walk;
    Walk(v, walk);
    std::map<std::string, const Logged*> byName;
    for (const auto& f : walk.sink.folders) {
        EXPECT_TRUE(byName.emplace(std::string(f.record.Name()), &f).second) << f.record.Name();
        EXPECT_EQ(f.record.isFolder, 1u);
        EXPECT_EQ(f.record.contentIntact, 1u);
    }
    // Photos, 2017, Summer, Docs, Trip, Day 1, Day 2; never the root.
    EXPECT_EQ(byName.size(), 7u);
    EXPECT_EQ(byName.at("Photos")->record.folderDeleted, 0u);
    EXPECT_EQ(byName.at("Trip")->record.folderDeleted, 1u);
    EXPECT_EQ(byName.at("Day 1")->record.folderDeleted, 1u);
    EXPECT_EQ(byName.at("Photos")->parentKey, FolderKey(0, 0));
    EXPECT_EQ(byName.at("2017")->parentKey, FolderKey(byName.at("Photos")->record.key, 1));
    EXPECT_EQ(byName.at("Summer")->parentKey, FolderKey(byName.at("2017")->record.key, 2));
    EXPECT_EQ(walk.files.at("photos/2017/summer/beach day.jpg").parentKey,
              FolderKey(byName.at("Summer")->record.key, 3));
    EXPECT_EQ(walk.files.at("_ootgone.txt").parentKey, FolderKey(0, 0));
}

// The first cluster and size of the short entry named `name11` (the first one in the image).
std::pair<uint32_t, uint32_t> FindEntry(const std::vector<std::byte>& image, const char* name11) {
    const std::string_view name(name11, 11);
    for (size_t off = 0; off + 32 <= image.size(); off += 32) {
        if (BytesEqual(image, off, name)) {
            const FatEntryView e{std::span(image).subspan(off)};
            return {e.Cluster(), e.Size()};
        }
    }
    return {0, 0};
}

// The offset of a folder's first cluster in an image.
size_t ClusterOffset(const FatGeometry& g, uint32_t cluster) {
    return g.ClusterSector(cluster) * g.bytesPerSector;
}

TEST(FatWalker, ReadsFat12EntriesAsTwelveBits) {
    // A live multi-cluster file read along its chain: with 16-bit entries the chain would go
    // astray after the first cluster.
    const auto bytes = test::ReadWholeFile(test::FixturePath("fat12.img"));
    const auto [cluster, size] = FindEntry(bytes, "KEEP    BIN");
    ASSERT_GE(cluster, 2u);
    MemoryVolume v(bytes);
    uint32_t value = 0;
    ASSERT_EQ(v.table.Entry(cluster, value), kOk);
    EXPECT_EQ(value, cluster + 1);
    FoundRecord r = EmptyRecord();
    r.key = cluster;
    r.size = size;
    r.clusterBytes = static_cast<int32_t>(v.geometry->ClusterBytes());
    r.dataAreaStart = v.geometry->dataAreaStart;
    Status s = -1;
    EXPECT_TRUE(ReadAll(v, r, s) == Original("keep.bin"));
    EXPECT_EQ(s, kOk);
}

// A FAT32 volume of 512-byte clusters whose folder BIG spans clusters 3-6 and 10-11 (two runs),
// each cluster full of deleted files but for BIG's dot pair at its start: 94 files.
constexpr uint64_t kBigDataStart = 34;  // sectors: 32 reserved, two FATs of one sector
std::vector<std::byte> BigFolderVolume() {
    std::vector<std::byte> b((kBigDataStart + 100) * 512);
    std::memcpy(b.data() + 3, "MSWIN4.1", 8);
    StoreLE<uint16_t>(b, 11, 512);
    b[13] = std::byte{1};
    StoreLE<uint16_t>(b, 14, 32);
    b[16] = std::byte{2};
    StoreLE<uint32_t>(b, 32, static_cast<uint32_t>(b.size() / 512));
    StoreLE<uint32_t>(b, 36, 1);
    StoreLE<uint32_t>(b, 44, 2);
    std::memcpy(b.data() + 82, "FAT32   ", 8);
    StoreLE<uint16_t>(b, 510, 0xAA55);
    const std::map<uint32_t, uint32_t> chain = {{0, 0x0FFFFFF8}, {1, 0x0FFFFFFF}, {2, 0x0FFFFFFF},
                                                {3, 4},          {4, 5},          {5, 6},
                                                {6, 10},         {10, 11},        {11, 0x0FFFFFFF}};
    for (const auto& [cluster, next] : chain) {
        for (const uint64_t fat : {32u, 33u}) StoreLE<uint32_t>(b, fat * 512 + cluster * 4, next);
    }
    auto entry = [&](uint32_t cluster, size_t slot, const char* name11, uint8_t attr,
                     uint32_t first, uint32_t size) {
        const size_t at = (kBigDataStart + cluster - 2) * 512 + slot * 32;
        std::memcpy(b.data() + at, name11, 11);
        b[at + 11] = std::byte{attr};
        StoreLE<uint16_t>(b, at + 14, 0x6000);  // 12:00
        StoreLE<uint16_t>(b, at + 16, 0x5021);  // 2020-01-01
        StoreLE<uint16_t>(b, at + 18, 0x5021);
        StoreLE<uint16_t>(b, at + 22, 0x6000);
        StoreLE<uint16_t>(b, at + 24, 0x5021);
        StoreLE<uint16_t>(b, at + 20, static_cast<uint16_t>(first >> 16));
        StoreLE<uint16_t>(b, at + 26, static_cast<uint16_t>(first));
        StoreLE<uint32_t>(b, at + 28, size);
    };
    entry(2, 0, "BIG        ", kFatAttrDirectory, 3, 0);
    entry(3, 0, ".          ", kFatAttrDirectory, 3, 0);
    entry(3, 1, "..         ", kFatAttrDirectory, 0, 0);
    int n = 0;
    for (const uint32_t cluster : {3u, 4u, 5u, 6u, 10u, 11u}) {
        for (size_t slot = cluster == 3 ? 2 : 0; slot < 16; ++slot) {
            char name[32];
            std::snprintf(name, sizeof(name),
                          "\xE5"
                          "F%06dTXT",
                          n++);
            entry(cluster, slot, name, kFatAttrArchive, 0, 10);
        }
    }
    return b;
}

TEST(FatWalker, FolderChainsReadInRunsAndUpToAnUnreadableCluster) {
    const auto bytes = BigFolderVolume();
    MemoryVolume whole(bytes);
    WalkResult walk;
    Walk(whole, walk);
    ASSERT_EQ(walk.sink.files.size(), 94u);
    // The first file of the second run was read from the first sector of cluster 10.
    EXPECT_EQ(walk.sink.files[14 + 3 * 16].record.location, kBigDataStart + 8);
    EXPECT_EQ(walk.sink.files[93].record.location, kBigDataStart + 9);

    // Cluster 5 cannot be read: the run 3-6 fails as a whole, and clusters 3 and 4 are still
    // read one by one.
    MemoryVolume faulty(bytes, (kBigDataStart + 3) * 512 + 100);
    WalkResult cut;
    Walk(faulty, cut);
    EXPECT_EQ(cut.sink.files.size(), 30u);
}

TEST(FatWalker, LoopsAndSelfReferencesEndTheWalk) {
    auto bytes = test::ReadWholeFile(test::FixturePath("fat16.img"));
    MemoryVolume probe(bytes);
    const FatGeometry g = *probe.geometry;
    const auto [photos, unused] = FindEntry(bytes, "PHOTOS     ");
    const auto [year, unused2] = FindEntry(bytes, "2017       ");
    ASSERT_GE(photos, 2u);
    ASSERT_GE(year, 2u);
    // Photos' chain loops onto itself through a second cluster, and 2017's "." names Photos.
    StoreLE<uint16_t>(bytes, g.reservedSectors * 512 + photos * 2, static_cast<uint16_t>(year));
    StoreLE<uint16_t>(bytes, g.reservedSectors * 512 + year * 2, static_cast<uint16_t>(photos));
    StoreLE<uint16_t>(bytes, ClusterOffset(g, year) + 26, static_cast<uint16_t>(photos));
    MemoryVolume v(bytes);
    WalkResult walk;
    Walk(v, walk, 10000);
    EXPECT_TRUE(walk.files.count("docs/old report.txt"));
}

}  // namespace
}  // namespace keltra

namespace keltra {
namespace {

std::array<std::byte, 32> ShortNameEntry(const char* name11, uint8_t caseFlags) {
    std::array<std::byte, 32> e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = std::byte{kFatAttrArchive};
    e[12] = std::byte{caseFlags};
    return e;
}

TEST(FatNames, ShortNamesKeepTheCaseTheirFlagsGive) {
    auto name = [](const char* n, uint8_t flags, bool folder = false) {
        const auto e = ShortNameEntry(n, flags);
        return ShortEntryName(FatEntryView(e), folder);
    };
    EXPECT_EQ(name("DCIM       ", 0, true), "DCIM");
    EXPECT_EQ(name("KEEP    BIN", 0x18), "keep.bin");
    EXPECT_EQ(name("KEEP    BIN", 0x08), "keep.BIN");
    EXPECT_EQ(name("README     ", 0), "README");
    EXPECT_EQ(name("FOLDER  EXT", 0, true), "FOLDER");  // a folder's extension bytes are not used
    EXPECT_EQ(name("\xE5OTES   TXT", 0x18), "!otes.txt");
    EXPECT_EQ(name("CAF\x82    TXT", 0), "CAF\xC3\xA9.TXT");  // code page 437
}

TEST(FatNames, LongNamesAreGatheredLastPartFirst) {
    auto part = [](uint8_t sequence, std::u16string_view units, uint8_t checksum) {
        std::array<std::byte, 32> e{};
        e[0] = std::byte{sequence};
        e[11] = std::byte{kFatAttrLongName};
        e[13] = std::byte{checksum};
        static constexpr size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t i = 0; i < 13; ++i) {
            StoreLE<uint16_t>(e, kOffsets[i],
                              i < units.size()    ? units[i]
                              : i == units.size() ? 0
                                                  : 0xFFFF);
        }
        return e;
    };
    const auto shortEntry = ShortNameEntry("BEACH~1 JPG", 0);
    const uint8_t sum = LfnChecksum(FatEntryView(shortEntry).ShortName());
    LongNameGatherer g;
    EXPECT_EQ(g.Name(), "");
    ASSERT_TRUE(g.Add(FatEntryView(part(0x42, u".jpg", sum))));
    ASSERT_TRUE(g.Add(FatEntryView(part(0x01, u"Beach \u00e9t\u00e9 day", sum))));
    EXPECT_EQ(g.Name(), "Beach \xC3\xA9t\xC3\xA9 day.jpg");
    EXPECT_EQ(EntryName(g, FatEntryView(shortEntry), false), "Beach \xC3\xA9t\xC3\xA9 day.jpg");
    g.Clear();
    EXPECT_EQ(EntryName(g, FatEntryView(shortEntry), false), "BEACH~1.JPG");
    // Nineteen parts fit; a twentieth does not.
    for (int i = 0; i < 19; ++i)
        ASSERT_TRUE(g.Add(FatEntryView(part(static_cast<uint8_t>(19 - i), u"abcdefghijklm", 0))));
    EXPECT_FALSE(g.Add(FatEntryView(part(1, u"x", 0))));
    EXPECT_EQ(g.Name().size(), 19u * 13);
}

// A long name stands only where its run belongs to the short entry after it; else the short
// name does.
TEST(FatNames, LongNamesNeedTheShortNamesChecksumAndAWholeRun) {
    auto part = [](uint8_t sequence, uint8_t checksum) {
        std::array<std::byte, 32> e{};
        e[0] = std::byte{sequence};
        e[11] = std::byte{kFatAttrLongName};
        e[13] = std::byte{checksum};
        StoreLE<uint16_t>(e, 1, u'p');
        return e;
    };
    const auto live = ShortNameEntry("PHOTO~1 JPG", 0);
    auto deleted = live;
    deleted[0] = std::byte{kFatDeletedMark};
    const uint8_t sum = LfnChecksum(FatEntryView(live).ShortName());
    auto belongs = [&](std::initializer_list<std::array<std::byte, 32>> run,
                       const std::array<std::byte, 32>& shortEntry) {
        LongNameGatherer g;
        for (const auto& e : run) g.Add(FatEntryView(e));
        return g.BelongsTo(FatEntryView(shortEntry));
    };
    EXPECT_TRUE(belongs({part(0x43, sum), part(2, sum), part(1, sum)}, live));
    EXPECT_TRUE(belongs({part(0x41, sum)}, live));
    // Another short name's checksum, a run missing its last part or its first, a gap, two
    // checksums in one run.
    EXPECT_FALSE(belongs({part(0x41, static_cast<uint8_t>(sum + 1))}, live));
    EXPECT_FALSE(belongs({part(2, sum), part(1, sum)}, live));
    EXPECT_FALSE(belongs({part(0x43, sum), part(2, sum)}, live));
    EXPECT_FALSE(belongs({part(0x43, sum), part(1, sum)}, live));
    EXPECT_FALSE(belongs({part(0x42, static_cast<uint8_t>(sum ^ 1)), part(1, sum)}, live));
    // Deletion overwrites sequence numbers and the short name's first byte: the checksum still
    // has to come out of some first byte a short name may hold ("P" here).
    const auto gone = part(kFatDeletedMark, sum);
    EXPECT_TRUE(belongs({gone, gone}, deleted));
    EXPECT_TRUE(belongs({gone, part(1, sum)}, deleted));
    // The one first byte giving this checksum is a lower-case letter: no short name holds it.
    auto lower = live;
    lower[0] = std::byte{'a'};
    const uint8_t lowerSum = LfnChecksum(FatEntryView(lower).ShortName());
    EXPECT_FALSE(belongs({part(kFatDeletedMark, lowerSum)}, deleted));
    // A stale run of another deleted file, whose checksum some first byte gives: that byte
    // must begin the short name of this long name.
    auto other = live;
    other[0] = std::byte{0xFC};
    EXPECT_FALSE(
        belongs({part(kFatDeletedMark, LfnChecksum(FatEntryView(other).ShortName()))}, deleted));
    auto named = [](std::u16string_view units) {
        std::array<std::byte, 32> e{};
        e[0] = std::byte{kFatDeletedMark};
        e[11] = std::byte{kFatAttrLongName};
        static constexpr size_t kOffsets[5] = {1, 3, 5, 7, 9};
        for (size_t i = 0; i < units.size(); ++i) StoreLE<uint16_t>(e, kOffsets[i], units[i]);
        return e;
    };
    auto runFor = [&](std::u16string_view units, const char* shortName) {
        auto e = named(units);
        e[13] = std::byte{LfnChecksum(std::as_bytes(std::span(shortName, 11)))};
        auto s = ShortNameEntry(shortName, 0);
        s[0] = std::byte{kFatDeletedMark};
        LongNameGatherer g;
        g.Add(FatEntryView(e));
        return g.BelongsTo(FatEntryView(s));
    };
    EXPECT_TRUE(runFor(u" .ab", "AB         "));
    EXPECT_TRUE(runFor(u"+a", "_A         "));
    EXPECT_TRUE(runFor(u"été", "T       "));
    EXPECT_FALSE(runFor(u"ab", "_B         "));
}

}  // namespace
}  // namespace keltra
