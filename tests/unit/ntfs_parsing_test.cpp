// The on-disk reading of the quick NTFS engine on hand-made records: fixups, attributes,
// names, run lists, the $MFT map and the walk up the folder chain.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>

#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_data_copy.h"
#include "engines/ntfs/ntfs_fixups.h"
#include "engines/ntfs/ntfs_folder_records.h"
#include "engines/ntfs/ntfs_folder_walk.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "platform/little_endian.h"
#include "support/test_support.h"

namespace keltra::ntfs {
namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

// Builds one FILE record the way NTFS writes it, fixups included.
class RecordBuilder {
  public:
    explicit RecordBuilder(uint16_t flags, size_t size = 1024) : bytes_(size) {
        std::memcpy(bytes_.data(), "FILE", 4);
        StoreLE<uint16_t>(bytes_, 4, 48);
        StoreLE<uint16_t>(bytes_, 6, static_cast<uint16_t>(size / 512 + 1));
        StoreLE<uint16_t>(bytes_, 20, 72);
        StoreLE<uint16_t>(bytes_, 22, flags);
        StoreLE<uint32_t>(bytes_, 28, static_cast<uint32_t>(size));
    }
    RecordBuilder& Base(uint32_t base) {
        StoreLE<uint32_t>(bytes_, 32, base);
        return *this;
    }
    RecordBuilder& Resident(uint32_t type, std::span<const std::byte> content) {
        const size_t length = (24 + content.size() + 7) / 8 * 8;
        Header(type, length, false);
        StoreLE<uint32_t>(bytes_, pos_ + 16, static_cast<uint32_t>(content.size()));
        StoreLE<uint16_t>(bytes_, pos_ + 20, 24);
        std::memcpy(bytes_.data() + pos_ + 24, content.data(), content.size());
        pos_ += length;
        return *this;
    }
    RecordBuilder& NonResident(uint32_t type, uint64_t vcn, uint64_t realSize, uint64_t initSize,
                               std::span<const std::byte> runs) {
        const size_t length = (64 + runs.size() + 1 + 7) / 8 * 8;
        Header(type, length, true);
        StoreLE<uint64_t>(bytes_, pos_ + 16, vcn);
        StoreLE<uint16_t>(bytes_, pos_ + 32, 64);
        StoreLE<uint64_t>(bytes_, pos_ + 48, realSize);
        StoreLE<uint64_t>(bytes_, pos_ + 56, initSize);
        std::memcpy(bytes_.data() + pos_ + 64, runs.data(), runs.size());
        pos_ += length;
        return *this;
    }
    RecordBuilder& Name(uint32_t parent, std::u16string_view name, uint8_t nameSpace) {
        std::vector<std::byte> c(66 + 2 * name.size());
        StoreLE<uint64_t>(c, 0, parent | (uint64_t{1} << 48));
        StoreLE<uint64_t>(c, 8, 1111);
        StoreLE<uint64_t>(c, 16, 2222);
        StoreLE<uint64_t>(c, 32, 3333);
        StoreLE<uint64_t>(c, 48, 77);
        c[64] = static_cast<std::byte>(name.size());
        c[65] = static_cast<std::byte>(nameSpace);
        for (size_t i = 0; i < name.size(); ++i) StoreLE<uint16_t>(c, 66 + 2 * i, name[i]);
        return Resident(kFileName, c);
    }
    // Ends the attributes and protects the record with the update sequence number.
    std::vector<std::byte> Finish(uint16_t usn = 0x1234) {
        StoreLE<uint32_t>(bytes_, pos_, 0xFFFFFFFF);
        StoreLE<uint32_t>(bytes_, 24, static_cast<uint32_t>(pos_ + 8));
        StoreLE<uint16_t>(bytes_, 48, usn);
        for (size_t i = 1; i <= bytes_.size() / 512; ++i) {
            std::memcpy(bytes_.data() + 48 + 2 * i, bytes_.data() + i * 512 - 2, 2);
            StoreLE<uint16_t>(bytes_, i * 512 - 2, usn);
        }
        return bytes_;
    }

  private:
    void Header(uint32_t type, size_t length, bool nonResident) {
        StoreLE<uint32_t>(bytes_, pos_, type);
        StoreLE<uint32_t>(bytes_, pos_ + 4, static_cast<uint32_t>(length));
        bytes_[pos_ + 8] = static_cast<std::byte>(nonResident ? 1 : 0);
    }
    std::vector<std::byte> bytes_;
    size_t pos_ = 72;
};

TEST(NtfsFixups, RestoreEvery512BytesOnAnyRecordSize) {
    for (size_t size : {size_t{1024}, size_t{4096}}) {
        std::vector<std::byte> content(400, std::byte{0x5A});
        RecordBuilder b(kRecordInUse, size);
        b.Resident(kData, content);
        auto record = b.Finish();
        // Mark the last two bytes of every stride as the original data held them.
        std::vector<std::byte> saved(record.begin() + 50, record.begin() + 50 + 2 * (size / 512));
        ApplyFixups(record);
        for (size_t i = 1; i <= size / 512; ++i) {
            EXPECT_EQ(record[i * 512 - 2], saved[2 * (i - 1)]) << size << " stride " << i;
            EXPECT_NE(Le16(record, i * 512 - 2), 0x1234) << size << " stride " << i;
        }
        const auto header = ReadRecordHeader(record);
        ASSERT_TRUE(header);
        const auto data = FindAttribute(record, *header, kData, true);
        ASSERT_TRUE(data);
        EXPECT_EQ(data->Content().size(), 400u);
        EXPECT_EQ(data->Content()[399], std::byte{0x5A}) << "content across a stride end";
    }
}

TEST(NtfsAttributes, NamesTimesAndBoundedWalk) {
    auto record = RecordBuilder(0)
                      .Name(40, u"LONGNA~1.TXT", kNamespaceDos)
                      .Name(40, u"Long name.txt", kNamespaceWin32)
                      .Finish();
    ApplyFixups(record);
    const auto header = ReadRecordHeader(record);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->flags & kRecordInUse, 0);
    AttributeWalker walker(record, *header);
    std::vector<FileName> names;
    while (auto a = walker.Next()) {
        if (auto fn = ReadFileName(*a)) names.push_back(*fn);
    }
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].parent, 40u) << "sequence number bits are not part of the parent";
    EXPECT_EQ(names[0].nameSpace, kNamespaceDos);
    EXPECT_EQ(names[1].name, u"Long name.txt");
    EXPECT_EQ(names[1].created, 1111u);
    EXPECT_EQ(names[1].modified, 2222u);
    EXPECT_EQ(names[1].accessed, 3333u);

    // Lengths that are zero, too short or reach past the bytes in use end the walk.
    for (uint32_t badLength : {0u, 8u, 5000u}) {
        auto damaged = record;
        StoreLE<uint32_t>(damaged, 72 + 4, badLength);
        AttributeWalker w(damaged, *ReadRecordHeader(damaged));
        EXPECT_FALSE(w.Next()) << badLength;
    }
    // A name length pointing past its attribute gives no name rather than a read outside.
    auto damaged = record;
    damaged[72 + 24 + 64] = std::byte{200};
    EXPECT_FALSE(ReadFileName(*AttributeWalker(damaged, *header).Next()));
    EXPECT_FALSE(ReadRecordHeader(std::vector<std::byte>(1024)));
}

TEST(NtfsRunList, SignedChangesSparseRunsAndLongLists) {
    // 0x21: 1 length byte, 2 offset bytes. Runs: 16 at 0x1000; 8 at 0x1000-0x10 (negative
    // change); a sparse run of 4; 2 at 0x0FF0+0x20.
    const auto runs =
        Bytes({0x21, 0x10, 0x00, 0x10, 0x11, 0x08, 0xF0, 0x01, 0x04, 0x11, 0x02, 0x20, 0x00});
    auto record = RecordBuilder(0).NonResident(kData, 0, 30 * 4096, 30 * 4096, runs).Finish();
    ApplyFixups(record);
    const auto data = FindAttribute(record, *ReadRecordHeader(record), kData, true);
    ASSERT_TRUE(data);
    std::vector<DataRun> out;
    DecodeRunList(*data, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].lcn, 0x1000u);
    EXPECT_EQ(out[1].lcn, 0x0FF0u);
    EXPECT_TRUE(out[2].sparse);
    EXPECT_EQ(out[2].clusters, 4u);
    EXPECT_EQ(out[3].lcn, 0x1010u) << "a sparse run does not move the starting cluster";

    // A run list that runs past 512 bytes into a 4 KiB record (a very fragmented file) is read
    // whole: it is bounded by the attribute's length alone.
    std::vector<std::byte> many;
    for (int i = 0; i < 300; ++i) {
        for (auto b : Bytes({0x21, 0x01, 0x02, 0x00})) many.push_back(b);
    }
    many.push_back(std::byte{0});
    auto big = RecordBuilder(0, 4096).NonResident(kData, 0, 300, 300, many).Finish();
    ApplyFixups(big);
    out.clear();
    DecodeRunList(*FindAttribute(big, *ReadRecordHeader(big), kData, true), out);
    ASSERT_EQ(out.size(), 300u);
    EXPECT_EQ(out.back().lcn, 300u * 2);

    // Header bytes with an 8-byte length or offset field, or a run cut by the attribute's
    // end, stop the list.
    for (auto bad : {Bytes({0x08, 1, 2, 3, 4, 5, 6, 7, 8}),
                     Bytes({0x81, 1, 1, 2, 3, 4, 5, 6, 7, 8}), Bytes({0x21, 0x05, 0x44, 0x01})}) {
        auto r = RecordBuilder(0).NonResident(kData, 0, 1, 1, bad).Finish();
        ApplyFixups(r);
        auto a = *FindAttribute(r, *ReadRecordHeader(r), kData, true);
        if (bad.size() == 4) a.bytes = a.bytes.first(64 + 3);  // cut inside the run
        std::vector<DataRun> none;
        DecodeRunList(a, none);
        EXPECT_TRUE(none.empty()) << bad.size();
    }
}

TEST(NtfsGeometry, BootFieldsAndRecordSectorsThroughFragmentedMft) {
    std::vector<std::byte> boot(512);
    StoreLE<uint16_t>(boot, 11, 512);
    boot[13] = std::byte{8};
    StoreLE<uint64_t>(boot, 48, 100);
    Geometry g;
    ASSERT_EQ(GeometryFromBootSector(boot, 2048, 1 << 20, g), kOk);
    EXPECT_EQ(g.recordSize, 1024u);
    EXPECT_EQ(g.sectorsPerRecord, 2u);
    EXPECT_EQ(g.mftStart, 2048u + 800);
    // Two runs: 2 clusters (8 records) at 100, then 4 clusters at 500.
    MftMap map(g, {{100, 2, false}, {500, 4, false}});
    EXPECT_EQ(map.TotalSectors(), 48u);
    EXPECT_EQ(*map.SectorOfRecord(0), 2048u + 800);
    EXPECT_EQ(*map.SectorOfRecord(7), 2048u + 800 + 14);
    EXPECT_EQ(*map.SectorOfRecord(8), 2048u + 4000) << "the first record of the second run";
    EXPECT_EQ(*map.SectorOfRecord(9), 2048u + 4002);
    EXPECT_FALSE(map.SectorOfRecord(24));
    EXPECT_FALSE(map.SectorOfRecord(UINT64_MAX / 2)) << "no overflow into a valid sector";

    StoreLE<uint16_t>(boot, 11, 4096);
    boot[13] = std::byte{1};
    ASSERT_EQ(GeometryFromBootSector(boot, 0, 1000, g), kOk);
    EXPECT_EQ(g.recordSize, 4096u);
    EXPECT_EQ(g.sectorsPerRecord, 1u);
    boot[13] = std::byte{0xF4};  // a negative sectors-per-cluster byte
    EXPECT_EQ(GeometryFromBootSector(boot, 0, 1000, g), kErrInvalidParameter);
    StoreLE<uint16_t>(boot, 11, 700);
    boot[13] = std::byte{8};
    EXPECT_EQ(GeometryFromBootSector(boot, 0, 1000, g), kErrInvalidParameter);
}

// The memoised walk gives, for every folder, the depth and the order of folder keys that a
// fresh walk with its own visited set gives, on random parent graphs with loops and breaks.
TEST(NtfsFolderWalk, MatchesFreshWalksOnRandomGraphs) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const uint32_t n = 6 + rng() % 30;
        std::map<uint32_t, std::optional<uint32_t>> parent;
        for (uint32_t i = 6; i < 6 + n; ++i) {
            const uint32_t r = rng() % 10;
            if (r == 0)
                parent[i] = std::nullopt;  // unreadable or not a folder
            else if (r < 3)
                parent[i] = kRootRecord;
            else
                parent[i] = 6 + rng() % n;
        }
        int lookups = 0;
        FolderWalk walk([&](uint32_t x) {
            ++lookups;
            return parent.at(x);
        });
        std::vector<uint32_t> expectedKeys;
        std::set<uint32_t> keySet;
        for (int file = 0; file < 40; ++file) {
            const uint32_t start = file % 7 == 0 ? kRootRecord : 6 + rng() % n;
            uint32_t depth = 0;
            std::set<uint32_t> visited;
            for (uint32_t x = start; x != kRootRecord;) {
                visited.insert(x);
                if (keySet.insert(x).second) expectedKeys.push_back(x);
                ++depth;
                const auto p = parent.at(x);
                if (!p || visited.count(*p)) break;
                x = *p;
            }
            ASSERT_EQ(walk.DepthOf(start), depth) << "round " << round << " from " << start;
        }
        EXPECT_EQ(walk.FolderKeys(), expectedKeys) << "round " << round;
        EXPECT_LE(lookups, static_cast<int>(n)) << "each folder is read once";
    }
}

// A memory volume: 512-byte sectors, 1 sector per cluster.
TEST(NtfsFolderRecords, AnswerForWhatTheScanReadAndLeaveTheRestToTheDisk) {
    FolderRecords folders;
    auto noted = [&](uint32_t number, std::vector<std::byte> record) {
        ApplyFixups(record);
        folders.Note(number, 1000 + number, record);
    };
    noted(20, RecordBuilder(kRecordIsDirectory).Name(5, u"Photos", kNamespaceWin32).Finish());
    noted(21, RecordBuilder(kRecordInUse).Name(20, u"a.jpg", kNamespaceWin32).Finish());
    // A folder whose name lies in an extension record (its attribute list says where).
    noted(22, RecordBuilder(kRecordIsDirectory).Resident(kAttributeList, Bytes({0})).Finish());
    noted(23, RecordBuilder(kRecordIsDirectory).Finish());  // a folder without any name
    folders.SetPassed(30);

    const auto photos = folders.Find(20);
    ASSERT_TRUE(photos && *photos);
    EXPECT_EQ((*photos)->sector, 1020u);
    EXPECT_EQ((*photos)->summary.parent, 5u);
    EXPECT_EQ((*photos)->summary.name, u"Photos");
    for (const uint32_t notAFolder : {21u, 23u, 29u}) {
        const auto answer = folders.Find(notAFolder);
        ASSERT_TRUE(answer) << notAFolder;
        EXPECT_EQ(*answer, nullptr) << notAFolder << " was read: no folder there";
    }
    EXPECT_FALSE(folders.Find(22)) << "its name must be read through the attribute list";
    EXPECT_FALSE(folders.Find(30)) << "not read yet";
    folders.Clear();
    EXPECT_FALSE(folders.Find(20));
}

struct MemoryVolume {
    explicit MemoryVolume(size_t sectors) : bytes(sectors * 512) {}
    void Put(uint64_t sector, std::span<const std::byte> data) {
        std::memcpy(bytes.data() + sector * 512, data.data(), data.size());
    }
    SectorSource Source() const {
        SectorSource s;
        OpenReaderSource(s, std::make_unique<test::MemoryReader>(bytes), bytes.size() / 512);
        return s;
    }
    std::vector<std::byte> bytes;
};

Geometry SmallGeometry() {
    Geometry g;
    g.sectorsPerCluster = 1;
    return g;
}

TEST(NtfsAttributeList, ExtentsInOrderFromExtensionRecordsAndLoopsEnd) {
    // MFT: records 0..7 at sectors 0..15. Record 3 is the base, record 4 holds the second
    // extent of its data; the list names: (data, vcn 0, record 3), (data, vcn 10, record 4),
    // then the same two again, as a damaged list that loops would.
    MemoryVolume vol(200);
    const Geometry g = SmallGeometry();
    const MftMap map(g, {{0, 16, false}});
    auto entry = [](uint64_t vcn, uint64_t record) {
        std::vector<std::byte> e(32);
        StoreLE<uint32_t>(e, 0, kData);
        StoreLE<uint16_t>(e, 4, 32);
        StoreLE<uint64_t>(e, 8, vcn);
        StoreLE<uint64_t>(e, 16, record);
        return e;
    };
    std::vector<std::byte> list;
    for (int pass = 0; pass < 2; ++pass) {
        for (auto e : {entry(0, 3), entry(10, 4)}) list.insert(list.end(), e.begin(), e.end());
    }
    const auto first = Bytes({0x11, 0x0A, 0x64, 0x00});   // 10 clusters at 100
    const auto second = Bytes({0x11, 0x05, 0x78, 0x00});  // 5 clusters at 120 (own list)
    auto base = RecordBuilder(0)
                    .Resident(kAttributeList, list)
                    .NonResident(kData, 0, 15 * 512, 15 * 512, first)
                    .Finish();
    auto extension = RecordBuilder(0).Base(3).NonResident(kData, 10, 0, 0, second).Finish();
    vol.Put(6, base);
    vol.Put(8, extension);
    const SectorSource source = vol.Source();
    const RecordReader reader(source, g, map);
    std::vector<std::byte> record(1024);
    ASSERT_EQ(reader.ReadNumber(3, record), kOk);
    StreamLayout stream;
    ASSERT_EQ(ReadStream(reader, record, 3, kData, stream), kOk);
    ASSERT_EQ(stream.runs.size(), 2u);
    EXPECT_EQ(stream.runs[0].lcn, 100u);
    EXPECT_EQ(stream.runs[1].lcn, 120u) << "each extent's run list counts from cluster 0";
    EXPECT_EQ(stream.realSize, 15u * 512);

    // An extension record that names another base is not taken: its place stays as zeros.
    auto stranger = RecordBuilder(0).Base(9).NonResident(kData, 10, 0, 0, second).Finish();
    vol.Put(8, stranger);
    const SectorSource source2 = vol.Source();
    const RecordReader reader2(source2, g, map);
    ASSERT_EQ(ReadStream(reader2, record, 3, kData, stream), kOk);
    ASSERT_EQ(stream.runs.size(), 1u);
}

TEST(NtfsDataCopy, SparseRunsInitializedSizeAndReadErrors) {
    MemoryVolume vol(400);
    for (size_t i = 0; i < vol.bytes.size(); ++i)
        vol.bytes[i] = static_cast<std::byte>(1 + i % 251);
    const Geometry g = SmallGeometry();
    const SectorSource source = vol.Source();
    StreamLayout stream;
    stream.runs = {{10, 200, false}, {0, 3, true}, {300, 2, false}};
    stream.realSize = 205 * 512;
    stream.initializedSize = stream.realSize;
    std::vector<std::byte> out;
    int pieces = 0;
    const PieceSink collect = [&](std::span<const std::byte> p) {
        ++pieces;
        EXPECT_LE(p.size(), kCopyPieceBytes);
        out.insert(out.end(), p.begin(), p.end());
        return kOk;
    };
    ASSERT_EQ(ReadStreamData(source, g, stream, 205 * 512 - 100, collect), kOk);
    ASSERT_EQ(out.size(), 205u * 512 - 100);
    EXPECT_EQ(std::memcmp(out.data(), vol.bytes.data() + 10 * 512, 200 * 512), 0);
    EXPECT_EQ(out[200 * 512 + 5], std::byte{0}) << "a sparse run reads as zeros";
    EXPECT_EQ(out[203 * 512], vol.bytes[300 * 512]);
    EXPECT_GE(pieces, 3);

    // Past the initialized size the data reads as zeros.
    stream.initializedSize = 1000;
    out.clear();
    ASSERT_EQ(ReadStreamData(source, g, stream, 2000, collect), kOk);
    EXPECT_EQ(out[999], vol.bytes[10 * 512 + 999]);
    EXPECT_EQ(out[1000], std::byte{0});

    // A sink's answer stops the reading with that answer; a run past the end gives 87.
    EXPECT_EQ(ReadStreamData(source, g, stream, 2000, [](auto) { return kCancelled; }), kCancelled);
    stream.runs = {{399, 5, false}};
    EXPECT_EQ(ReadStreamData(source, g, stream, 5 * 512, collect), kErrInvalidParameter);
}

}  // namespace
}  // namespace keltra::ntfs
