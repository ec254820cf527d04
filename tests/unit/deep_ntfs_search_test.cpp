// The deep NTFS search on volumes made by mkntfs whose files were made and deleted through
// ntfs-3g, with their boot sectors (and a partition table) zeroed: every sector goes through a
// stand-in for the deep scan's pass. The Sleuth Kit (fls, icat) on the intact volumes and the
// files' own sha256 are the oracles.
#include "engines/ntfs/deep_ntfs_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/ntfs_record_pass.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::Listed;

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

struct ManifestLine {
    std::string sha;
    uint64_t size;
    std::string path;
};
std::vector<ManifestLine> Manifest(const std::string& name) {
    std::ifstream in(test::FixturePath(name));
    std::vector<ManifestLine> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ManifestLine m;
        fields >> m.sha >> m.size;
        std::getline(fields >> std::ws, m.path);
        out.push_back(m);
    }
    return out;
}

// Zeroes the volume's boot sector and its backup in the volume's last sector.
void ZeroBootSectors(std::vector<std::byte>& image) {
    const uint64_t bps = Le16(image, 11);
    const uint64_t backup = Le64(image, 40) * bps;
    std::memset(image.data(), 0, 512);
    if (backup + bps <= image.size()) std::memset(image.data() + backup, 0, bps);
}

// A deep search over the image file with the pass run through it.
class DeepSearch {
  public:
    // The pass starts at `firstSector`.
    DeepSearch(const std::string& image, const std::string& logFolder, uint64_t firstSector = 0) {
        EXPECT_EQ(engine.Open(SourceRef::Image(image, 7)), kOk);
        engine.SetLogFolder(logFolder);
        EXPECT_EQ(engine.OpenLog(std::nullopt), kOk);
        SectorSource pass;
        EXPECT_EQ(OpenImageSource(pass, image), kOk);
        const auto result =
            test::RunNtfsRecordPass(engine, pass, firstSector, pass.totalSectors - firstSector);
        EXPECT_GT(result.handed, 0u);
        tree = test::ListTree(engine);
    }
    // The key of the first "LostFolder" folder under the root (0 when there is none).
    uint32_t LostKey() const {
        for (const auto& [path, l] : tree) {
            if (path.rfind("LostFolder", 0) == 0 && l.record.isFolder != 0) return l.record.key;
        }
        return 0;
    }
    // Recovers the file at `path`; its sha256.
    std::string Recover(const std::string& path, const std::string& target) {
        EXPECT_EQ(engine.RecoverRecord(tree.at(path).record, target, 0), kOk) << path;
        return test::Sha256OfFile(target);
    }

    DeepNtfsSearch engine;
    std::map<std::string, Listed> tree;
};

class DeepNtfs : public ::testing::Test {
  protected:
    // A copy of the fixture with its boot sectors zeroed, in the scratch folder.
    std::string ZeroedCopy(const std::string& fixture) {
        auto bytes = test::ReadWholeFile(test::FixturePath(fixture));
        ZeroBootSectors(bytes);
        const std::string path = scratch_ / ("zeroed_" + fixture);
        test::WriteWholeFile(path, bytes);
        return path;
    }

    test::ScopedAppDataFolder appData_;
    test::ScratchDir scratch_;
};

// The folder Lost was deleted and its record then taken by a new file: its file is listed
// under LostFolder<its record number>, directly under the root.
std::string ExpectedPath(const std::string& manifestPath, uint32_t lostKey) {
    if (manifestPath.rfind("Lost/", 0) == 0) {
        return "LostFolder" + std::to_string(lostKey) + manifestPath.substr(4);
    }
    return manifestPath;
}

// A large source of zeros after the bytes it is given.
class HeadReader : public SectorReader {
  public:
    explicit HeadReader(std::vector<std::byte> head) : head_(std::move(head)) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        std::memset(buffer.data(), 0, buffer.size());
        if (offset < head_.size()) {
            std::memcpy(buffer.data(), head_.data() + offset,
                        std::min<size_t>(buffer.size(), head_.size() - offset));
        }
        done = buffer.size();
        return kOk;
    }

  private:
    std::vector<std::byte> head_;
};

// A deleted file's FILE record under the root: its name and, when `allocated` is not 0, a
// non-resident $DATA of two clusters with that allocated size; else resident data.
std::vector<std::byte> FileRecord(uint32_t number, const std::u16string& name, uint64_t allocated) {
    std::vector<std::byte> r(1024);
    std::memcpy(r.data(), "FILE", 4);
    StoreLE<uint16_t>(r, 4, 48);
    StoreLE<uint16_t>(r, 6, 3);
    StoreLE<uint16_t>(r, 20, 56);
    StoreLE<uint32_t>(r, 28, 1024);
    StoreLE<uint32_t>(r, 44, number);
    size_t at = 56;
    const size_t nameBytes = 66 + 2 * name.size();
    const size_t fileName = (24 + nameBytes + 7) / 8 * 8;
    StoreLE<uint32_t>(r, at, 0x30);
    StoreLE<uint32_t>(r, at + 4, static_cast<uint32_t>(fileName));
    StoreLE<uint32_t>(r, at + 16, static_cast<uint32_t>(nameBytes));
    StoreLE<uint16_t>(r, at + 20, 24);
    StoreLE<uint64_t>(r, at + 24, 5);
    r[at + 24 + 64] = static_cast<std::byte>(name.size());
    r[at + 24 + 65] = std::byte{1};
    for (size_t i = 0; i < name.size(); ++i) StoreLE<uint16_t>(r, at + 24 + 66 + 2 * i, name[i]);
    at += fileName;
    StoreLE<uint32_t>(r, at, 0x80);
    if (allocated != 0) {
        StoreLE<uint32_t>(r, at + 4, 72);
        r[at + 8] = std::byte{1};
        StoreLE<uint64_t>(r, at + 24, 1);
        StoreLE<uint16_t>(r, at + 32, 64);
        StoreLE<uint64_t>(r, at + 40, allocated);
        StoreLE<uint64_t>(r, at + 48, 5000);
        StoreLE<uint64_t>(r, at + 56, 5000);
        StoreLE<uint32_t>(r, at + 64, 0x00640221);  // two clusters at cluster 100
        at += 72;
    } else {
        StoreLE<uint32_t>(r, at + 4, 32);
        StoreLE<uint32_t>(r, at + 16, 5);
        StoreLE<uint16_t>(r, at + 20, 24);
        std::memcpy(r.data() + at + 24, "hello", 5);
        at += 32;
    }
    StoreLE<uint32_t>(r, at, 0xFFFFFFFF);
    StoreLE<uint32_t>(r, 24, static_cast<uint32_t>(at + 8));
    return r;
}

TEST_F(DeepNtfs, LearnsTheClusterSizeAndKeepsToTheRecordRules) {
    // 300 MiB of 512-byte sectors: 512-byte clusters until a record tells otherwise.
    const uint64_t sectors = 300 * 2048;
    std::vector<std::byte> head(1024 * 1024);
    const auto second = FileRecord(41, u"second.bin", 8192);  // read again for its data
    std::memcpy(head.data() + 1002 * 512, second.data(), second.size());
    SectorSource source;
    OpenReaderSource(source, std::make_unique<HeadReader>(head), sectors);
    DeepNtfsSearch engine;
    ASSERT_EQ(engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1), kOk);
    engine.SetLogFolder(scratch_ / "logs");
    EXPECT_EQ(engine.HandleFileRecord(FileRecord(40, u"early.txt", 0), 1000), 87)
        << "no log open yet";
    ASSERT_EQ(engine.OpenLog(std::nullopt), kOk);
    EXPECT_EQ(engine.HandleFileRecord(FileRecord(40, u"first.txt", 0), 1000), kOk);
    EXPECT_EQ(engine.HandleFileRecord(second, 1002), kOk);
    EXPECT_EQ(engine.HandleFileRecord(FileRecord(42, u"third.txt", 0), 1004), kOk);
    // Not listed: a system file, a directory, a torn header, no signature.
    EXPECT_EQ(engine.HandleFileRecord(FileRecord(3, u"$Volume", 0), 1006), kOk);
    auto folder = FileRecord(43, u"folder", 0);
    StoreLE<uint16_t>(folder, 22, 2);
    EXPECT_EQ(engine.HandleFileRecord(folder, 1008), kOk);
    auto torn = FileRecord(44, u"torn.txt", 0);
    StoreLE<uint16_t>(torn, 20, 1000);
    EXPECT_EQ(engine.HandleFileRecord(torn, 1010), 87);
    auto unsigned_ = FileRecord(45, u"none.txt", 0);
    unsigned_[0] = std::byte{'X'};
    EXPECT_EQ(engine.HandleFileRecord(unsigned_, 1012), -1);
    const auto whole = FileRecord(46, u"short.txt", 0);
    EXPECT_EQ(engine.HandleFileRecord(std::span(whole).first(600), 1014), 87);
    EXPECT_EQ(engine.Finish(), kOk);

    const auto tree = test::ListTree(engine);
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree.at("first.txt").record.clusterBytes, 512);
    EXPECT_EQ(tree.at("second.bin").record.clusterBytes, 4096);
    EXPECT_EQ(tree.at("second.bin").record.size, 5000u);
    EXPECT_EQ(tree.at("third.txt").record.clusterBytes, 4096);
    EXPECT_EQ(tree.at("third.txt").record.size, 5u);
    EXPECT_EQ(tree.at("third.txt").record.location, 1004u);
    // The data of a file of an unknown volume lies from the source's start on.
    EXPECT_EQ(engine.FirstDataSector(tree.at("second.bin").record), 800u);
}

TEST_F(DeepNtfs, RebuildsDeletedFilesOfAVolumeWithoutBootSectors) {
    const std::string intact = test::FixturePath("ntfs_deleted.img");
    const std::string zeroed = ZeroedCopy("ntfs_deleted.img");
    // The Sleuth Kit cannot read the volume any more.
    EXPECT_EQ(Capture("fls -rd " + zeroed + " 2>/dev/null").find("r/r"), std::string::npos);

    DeepSearch deep(zeroed, scratch_ / "logs");
    const auto& tree = deep.tree;
    const uint32_t lostKey = deep.LostKey();
    ASSERT_NE(lostKey, 0u) << "the folder whose record was reused";
    EXPECT_TRUE(tree.at("LostFolder" + std::to_string(lostKey)).record.isFolder);

    // Every deleted file of the manifest, under its folder path, with its size and its bytes.
    int exact = 0;
    const auto manifest = Manifest("ntfs_deleted.manifest");
    for (const ManifestLine& m : manifest) {
        const std::string path = ExpectedPath(m.path, lostKey);
        ASSERT_TRUE(tree.count(path)) << path;
        EXPECT_EQ(tree.at(path).record.size, m.size) << path;
        const std::string sha = deep.Recover(path, scratch_ / ("out/" + path));
        EXPECT_EQ(sha, m.sha) << path;
        exact += sha == m.sha ? 1 : 0;
    }
    std::printf("deep NTFS, boot sectors zeroed: %d of %zu deleted files byte-exact\n", exact,
                manifest.size());

    // Every file fls names on the intact volume (in use or deleted, outside the 4 KiB filler
    // files), under the same path and with icat's bytes.
    std::istringstream lines(Capture("fls -rp " + intact));
    fs::create_directories(scratch_ / "icat");
    std::string line;
    int compared = 0;
    int same = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("r/r", 0) != 0 && line.rfind("-/r", 0) != 0) continue;
        if (line.find("(realloc)") != std::string::npos) continue;  // a name whose record moved on
        const size_t tab = line.find('\t');
        std::string path = line.substr(tab + 1);
        const std::string head = line.substr(0, tab);  // "-/r * 70-128-2:"
        const uint32_t key = static_cast<uint32_t>(std::stoul(head.substr(head.rfind(' ') + 1)));
        if (key <= 11 || path.find(':') != std::string::npos || path[0] == '$') continue;
        if (path.rfind("holes/", 0) == 0 && key % 20 != 0) continue;
        if (path.size() > 200) continue;  // cut to fit a record; the quick scan's test has it
        if (path.rfind("$OrphanFiles/", 0) == 0 || path.find("fake.jpg") != std::string::npos) {
            continue;
        }
        if (path.rfind("Lost/", 0) == 0) path = ExpectedPath(path, lostKey);
        ++compared;
        const auto it = tree.find(path);
        if (it == tree.end()) {
            ADD_FAILURE() << "not listed: " << line;
            continue;
        }
        EXPECT_EQ(it->second.record.key, key) << line;
        const std::string want = scratch_ / ("icat/" + std::to_string(key));
        std::system(("icat " + intact + " " + std::to_string(key) + " > " + want).c_str());
        const std::string got = scratch_ / ("deep/" + std::to_string(key));
        const bool equal = deep.Recover(path, got) == test::Sha256OfFile(want);
        EXPECT_TRUE(equal) << line;
        same += equal ? 1 : 0;
    }
    EXPECT_GT(compared, 12);
    std::printf(
        "deep NTFS, boot sectors zeroed: %d of %d files fls names read as icat reads them\n", same,
        compared);

    // Every file the deep search found (also those whose names are gone from their folders),
    // against icat on the intact volume.
    int files = 0;
    int readAlike = 0;
    for (const auto& [p, l] : tree) {
        if (l.record.isFolder != 0 || l.record.size > 1024 * 1024) continue;
        const std::string key = std::to_string(l.record.key);
        const std::string want = scratch_ / ("icat/all" + key);
        std::system(("icat " + intact + " " + key + " > " + want).c_str());
        ++files;
        readAlike += deep.Recover(p, scratch_ / ("deep/all" + key)) == test::Sha256OfFile(want);
    }
    std::printf("deep NTFS, boot sectors zeroed: %d of %d files found read as icat reads them\n",
                readAlike, files);
    EXPECT_EQ(readAlike, files);

    // The volume's own records 0 to 11 are never files; the records are the deep search's.
    for (const auto& [path, l] : tree) {
        if (l.record.isFolder != 0) continue;
        EXPECT_GT(l.record.key, 11u) << path;
        EXPECT_EQ(l.record.origin, static_cast<uint32_t>(RecordOrigin::DeepNtfs));
        EXPECT_EQ(l.record.partitionStart, 0u);
        EXPECT_EQ(l.record.clusterBytes, 4096) << path;
        EXPECT_EQ(l.record.sourceTag, 7);
    }
    EXPECT_FALSE(tree.count("$MFT"));
    EXPECT_FALSE(tree.count("$Bitmap"));
    // A photo that fails its content check is hidden, as in the quick scan.
    EXPECT_FALSE(tree.count("Photos/fake.jpg"));
    std::string path;
    ASSERT_EQ(deep.engine.GetRecordPath(tree.at("A/B/C/D/deep.bin").record, path), kOk);
    EXPECT_EQ(path, "A/B/C/D/");
    // The merged search's sector: where the file's first bytes lie.
    const FoundRecord& big = tree.at("Photos/2017/big.bin").record;
    const auto first = deep.engine.FirstDataSector(big);
    ASSERT_TRUE(first.has_value());
    const auto image = test::ReadWholeFile(zeroed);
    const auto original = test::ReadWholeFile(scratch_ / "out/Photos/2017/big.bin");
    EXPECT_EQ(std::memcmp(image.data() + *first * 512, original.data(), 512), 0);
    EXPECT_FALSE(deep.engine.FirstDataSector(tree.at("resident.txt").record).has_value());
    // The log is a "Pro_Ntfs_" log of this source.
    bool named = false;
    for (const auto& e : fs::directory_iterator(scratch_ / "logs")) {
        named = named || e.path().filename().string().rfind("Pro_Ntfs_0_", 0) == 0;
    }
    EXPECT_TRUE(named);
}

TEST_F(DeepNtfs, PlacesAVolumeInsideADiskWhosePartitionTableIsGone) {
    // 63 empty sectors (a zeroed partition table) before the volume, a few after it.
    const std::string intact = test::FixturePath("ntfs_small.img");
    const auto volume = test::ReadWholeFile(intact);
    std::vector<std::byte> disk(63 * 512);
    disk.insert(disk.end(), volume.begin(), volume.end());
    disk.resize(disk.size() + 100 * 512);
    const std::string image = scratch_ / "disk.img";
    test::WriteWholeFile(image, disk);

    DeepSearch deep(image, scratch_ / "logs");
    fs::create_directories(scratch_ / "icat");
    for (const std::string path : {"c.bin", "dir/b.txt", "dir/sub/a.bin"}) {
        ASSERT_TRUE(deep.tree.count(path)) << path;
        const FoundRecord& r = deep.tree.at(path).record;
        EXPECT_EQ(r.partitionStart, 63u) << path;
        EXPECT_EQ(r.clusterBytes, 1024) << path;
        const std::string want = scratch_ / ("icat/" + std::to_string(r.key));
        std::system(("icat " + intact + " " + std::to_string(r.key) + " > " + want).c_str());
        EXPECT_EQ(deep.Recover(path, scratch_ / ("out/" + path)), test::Sha256OfFile(want)) << path;
    }
    EXPECT_TRUE(deep.tree.at("dir/sub").record.isFolder);
    EXPECT_EQ(deep.LostKey(), 0u) << "every folder was found";
}

TEST_F(DeepNtfs, PlacesRecordsOfAFragmentedMftThroughItsRecordZero) {
    const std::string zeroed = ZeroedCopy("ntfs_fragmented_mft.img");
    DeepSearch deep(zeroed, scratch_ / "logs");
    const auto manifest = Manifest("ntfs_fragmented_mft.manifest");
    ASSERT_EQ(manifest.size(), 4u);
    for (const ManifestLine& m : manifest) {
        ASSERT_TRUE(deep.tree.count(m.path)) << m.path;
        EXPECT_EQ(deep.Recover(m.path, scratch_ / ("out/" + m.path)), m.sha) << m.path;
    }
    // late.bin's record lies in a later piece of the $MFT, far from a contiguous MFT's place.
    const FoundRecord& late = deep.tree.at("early/sub/late.bin").record;
    const uint64_t mftStart =
        Le64(test::ReadWholeFile(test::FixturePath("ntfs_fragmented_mft.img")), 48) * 8;
    EXPECT_NE(late.location, mftStart + uint64_t{late.key} * 2);

    // An intact boot sector gives the $MFT's runs at once: a pass that starts past record 0
    // places the record all the same; without the boot sector it cannot.
    const std::string intact = test::FixturePath("ntfs_fragmented_mft.img");
    DeepSearch booted(intact, scratch_ / "logs3", mftStart + 2);
    EXPECT_TRUE(booted.tree.count("early/sub/late.bin"));
    DeepSearch bootless(zeroed, scratch_ / "logs4", mftStart + 2);
    EXPECT_FALSE(bootless.tree.count("early/sub/late.bin"));

    // Without its record 0 (and the mirror's), the same record is placed by a contiguous MFT
    // assumed around it, which cannot find its folder.
    auto bytes = test::ReadWholeFile(zeroed);
    for (size_t at = 0; at + 1024 <= bytes.size(); at += 512) {
        if (std::memcmp(bytes.data() + at, "FILE", 4) == 0 && Le32(bytes, at + 44) == 0) {
            std::memset(bytes.data() + at, 0, 1024);
        }
    }
    const std::string blind = scratch_ / "blind.img";
    test::WriteWholeFile(blind, bytes);
    DeepSearch guess(blind, scratch_ / "logs2");
    EXPECT_FALSE(guess.tree.count("early/sub/late.bin"));
    EXPECT_TRUE(guess.tree.count("early/sub/first.bin")) << "the first piece is contiguous";
}

// Bytes in memory whose sectors [badFrom, badTo) cannot be read.
class BadSectorsReader : public SectorReader {
  public:
    BadSectorsReader(std::vector<std::byte> bytes, uint64_t badFrom, uint64_t badTo)
        : bytes_(std::move(bytes)), badFrom_(badFrom * 512), badTo_(badTo * 512) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset < badTo_ && offset + buffer.size() > badFrom_) return kErrReadFault;
        if (offset >= bytes_.size()) return kOk;
        done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return kOk;
    }

  private:
    std::vector<std::byte> bytes_;
    uint64_t badFrom_;
    uint64_t badTo_;
};

TEST_F(DeepNtfs, AFolderRecordThatCannotBeReadLeavesTheOtherFoldersWhole) {
    // The record of early/sub (the first folder met) sits on a bad sector; the pass itself
    // read it before it went bad.
    auto bytes = test::ReadWholeFile(ZeroedCopy("ntfs_fragmented_mft.img"));
    const uint64_t mftStart =
        Le64(test::ReadWholeFile(test::FixturePath("ntfs_fragmented_mft.img")), 48) * 8;
    const uint64_t sub = std::stoull(
        "0" + Capture("ifind -n early/sub " + test::FixturePath("ntfs_fragmented_mft.img")));
    ASSERT_NE(sub, 0u);
    const uint64_t sectors = bytes.size() / 512;
    SectorSource source;
    OpenReaderSource(
        source,
        std::make_unique<BadSectorsReader>(bytes, mftStart + 2 * sub, mftStart + 2 * sub + 2),
        sectors);
    SectorSource pass;
    OpenReaderSource(pass, std::make_unique<test::MemoryReader>(bytes), sectors);
    DeepNtfsSearch engine;
    ASSERT_EQ(engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1), kOk);
    engine.SetLogFolder(scratch_ / "logs");
    ASSERT_EQ(engine.OpenLog(std::nullopt), kOk);
    EXPECT_EQ(test::RunNtfsRecordPass(engine, pass, 0, sectors).finish, kOk);
    const auto tree = test::ListTree(engine);
    const std::string lost = "LostFolder" + std::to_string(sub);
    EXPECT_TRUE(tree.count(lost + "/late.bin"));
    EXPECT_TRUE(tree.count("h/h2.bin")) << "a folder after the unreadable one";
}

TEST_F(DeepNtfs, ReadsVolumesOfLargeSectors) {
    // 4,096-byte sectors hold one record each; the fixups still come every 512 bytes.
    const std::string path = ZeroedCopy("ntfs_4k.img");
    auto bytes = test::ReadWholeFile(path);
    SectorSource source;
    const uint64_t sectors = bytes.size() / 4096;
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(bytes), sectors);
    SectorSource pass;
    OpenReaderSource(pass, std::make_unique<test::MemoryReader>(bytes), sectors);
    DeepNtfsSearch engine;
    ASSERT_EQ(engine.OpenSource(std::move(source), 4096, 0, sectors, 3), kOk);
    engine.SetLogFolder(scratch_ / "logs");
    ASSERT_EQ(engine.OpenLog(std::nullopt), kOk);
    test::RunNtfsRecordPass(engine, pass, 0, sectors, 4096);
    const auto tree = test::ListTree(engine);
    for (const ManifestLine& m : Manifest("ntfs_4k.manifest")) {
        ASSERT_TRUE(tree.count(m.path)) << m.path;
        EXPECT_EQ(tree.at(m.path).record.clusterBytes, 4096);
        EXPECT_EQ(engine.RecoverRecord(tree.at(m.path).record, scratch_ / ("out/" + m.path), 0),
                  kOk);
        EXPECT_EQ(test::Sha256OfFile(scratch_ / ("out/" + m.path)), m.sha) << m.path;
    }
}

}  // namespace
}  // namespace keltra
