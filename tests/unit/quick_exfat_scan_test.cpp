// The quick exFAT engine on volumes made by mkfs.exfat and written through exfat-fuse
// (tests/fixtures/make_exfat.sh), checked against The Sleuth Kit (fls, icat) and the files'
// original bytes, and on damaged copies of them.
#include "engines/exfat/quick_exfat_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engines/boot_area.h"
#include "engines/deep/deep_scan.h"
#include "engines/engine_factory.h"
#include "engines/exfat/exfat_entry_set.h"
#include "engines/exfat/exfat_upcase.h"
#include "engines/fat/fat_entry.h"
#include "platform/little_endian.h"
#include "platform/text.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"
#include "support/engine_tree.h"
#include "support/exfat_sets.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

const std::string kLongName =
    "A rather long file name that needs several file name entries, more than one hundred "
    "characters in all.jpg";
const std::string kUnicodeName = "Ünïcødé фото 写真.jpg";

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (size_t n = 0; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::vector<std::byte> Fixture() {
    return test::ReadWholeFile(test::FixturePath("exfat.img"));
}

// An engine on image bytes held in memory.
std::unique_ptr<QuickExFatScan> MemoryEngine(std::vector<std::byte> bytes,
                                                 const std::string& logFolder,
                                                 Status* opened = nullptr) {
    auto engine = std::make_unique<QuickExFatScan>();
    engine->SetLogFolder(logFolder);
    SectorSource source;
    const uint64_t sectors = bytes.size() / 512;
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(std::move(bytes)), sectors);
    const Status s = engine->OpenSource(std::move(source), 512, 0, sectors, 7);
    if (opened != nullptr) *opened = s;
    return engine;
}

std::string Recovered(ScanEngine& engine, const FoundRecord& record,
                      const test::ScratchDir& dir, const std::string& name) {
    const std::string target = dir / name;
    EXPECT_EQ(engine.RecoverRecord(record, target, 0), kOk) << record.Name();
    return test::Sha256OfFile(target);
}

TEST(ExFatEntrySet, LiveDeletedAndTornSets) {
    const std::u16string name = u"Holiday photo with a name of more than fifteen characters.jpg";
    std::vector<std::byte> set = test::MakeExFatSet(name, 77, 1000, 5000, true);
    auto parsed = ParseExFatEntrySet(set);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->deleted);
    EXPECT_EQ(parsed->entryCount, 2 + (name.size() + 14) / 15);
    EXPECT_EQ(parsed->name, name);
    EXPECT_TRUE(parsed->checksumMatches);
    EXPECT_EQ(parsed->stream.firstCluster, 77u);
    EXPECT_TRUE(parsed->stream.noFatChain);
    EXPECT_EQ(parsed->stream.validLength, 1000u);
    EXPECT_EQ(parsed->stream.length, 5000u);
    // 2024-03-05 10:20:30, no UTC offset: the local calendar values.
    EXPECT_EQ(parsed->modified,
              *DosDateTimeToFileTime((44 << 9) | (3 << 5) | 5, (10 << 11) | (20 << 5) | 15));

    // A deletion clears the in-use bit of every entry and leaves the checksum as it was.
    std::vector<std::byte> deleted = set;
    for (size_t at = 0; at < deleted.size(); at += 32) deleted[at] &= std::byte{0x7F};
    parsed = ParseExFatEntrySet(deleted);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->deleted);
    EXPECT_TRUE(parsed->checksumMatches);
    EXPECT_EQ(parsed->name, name);

    // Torn: cut short, a live entry among deleted ones, a name entry replaced, a secondary
    // count the name does not fit, a changed byte.
    EXPECT_FALSE(ParseExFatEntrySet(std::span(deleted).first(deleted.size() - 32)));
    std::vector<std::byte> mixed = deleted;
    mixed[64] = std::byte{0xC1};
    EXPECT_FALSE(ParseExFatEntrySet(mixed));
    std::vector<std::byte> replaced = set;
    replaced[96] = std::byte{0x85};
    EXPECT_FALSE(ParseExFatEntrySet(replaced));
    std::vector<std::byte> shortCount = set;
    shortCount[1] = std::byte{2};
    EXPECT_FALSE(ParseExFatEntrySet(shortCount));
    std::vector<std::byte> changed = deleted;
    changed[70] ^= std::byte{1};
    parsed = ParseExFatEntrySet(changed);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->checksumMatches);
    EXPECT_FALSE(ParseExFatEntrySet(std::span(set).subspan(32)));  // no file entry
}

TEST(ExFatEntrySet, TimesWithTenMillisecondsAndUtcOffset) {
    const uint32_t stamp = (44u << 25) | (3u << 21) | (5u << 16) | (10u << 11) | (20u << 5) | 15;
    const uint64_t local = *ExFatTimeToFileTime(stamp, 0, 0);
    constexpr uint64_t kSecond = 10'000'000;
    EXPECT_EQ(*ExFatTimeToFileTime(stamp, 150, 0), local + 15 * kSecond / 10);
    // 0x80 | 4: one hour east of UTC, so UTC is an hour earlier; 0x80 | 0x7C: one hour west.
    EXPECT_EQ(*ExFatTimeToFileTime(stamp, 0, 0x84), local - 3600 * kSecond);
    EXPECT_EQ(*ExFatTimeToFileTime(stamp, 0, 0xFC), local + 3600 * kSecond);
    EXPECT_EQ(*ExFatTimeToFileTime(stamp, 0, 0x04), local) << "offset not marked valid";
    EXPECT_FALSE(ExFatTimeToFileTime(0, 0, 0)) << "month 0";
}

TEST(ExFatEntrySet, UpcaseTableAndNameHash) {
    ExFatUpcase upcase;
    EXPECT_EQ(upcase.Upper(u'q'), u'Q');
    EXPECT_EQ(upcase.Upper(u'é'), u'é');
    // A stored table: 'a' … 'c' up-cased, then a run of 3 unchanged, then 'g' → 'X'.
    std::vector<std::byte> stored;
    auto put = [&stored](uint16_t v) {
        stored.push_back(static_cast<std::byte>(v & 0xFF));
        stored.push_back(static_cast<std::byte>(v >> 8));
    };
    put(0xFFFF);
    put(0x61);
    for (char16_t c : u"ABC") {
        if (c != 0) put(c);
    }
    put(0xFFFF);
    put(3);
    put(u'X');
    upcase.Load(stored);
    EXPECT_EQ(upcase.Upper(u'a'), u'A');
    EXPECT_EQ(upcase.Upper(u'd'), u'd');
    EXPECT_EQ(upcase.Upper(u'g'), u'X');
    EXPECT_EQ(upcase.Upper(u'q'), u'q') << "beyond the table: unchanged";
    EXPECT_EQ(upcase.NameHash(u"abc"), upcase.NameHash(u"ABC"));
}

class ExFatFixture : public testing::Test {
  protected:
    void SetUp() override {
        image_ = test::FixturePath("exfat.img");
        engine_ = MemoryEngine(Fixture(), logs_.Path().string());
        ASSERT_EQ(engine_->Scan(std::nullopt), kOk);
        tree_ = test::ListTree(*engine_);
    }
    const FoundRecord& At(const std::string& path) {
        const auto it = tree_.find(path);
        EXPECT_NE(it, tree_.end()) << path;
        static const FoundRecord none = EmptyRecord();
        return it == tree_.end() ? none : it->second.record;
    }
    std::string image_;
    test::ScratchDir logs_;
    test::ScratchDir out_;
    std::unique_ptr<QuickExFatScan> engine_;
    std::map<std::string, test::Listed> tree_;
};

TEST_F(ExFatFixture, ClassifiedAndOpenedByTheFactory) {
    std::vector<std::byte> boot = Fixture();
    boot.resize(kBootAreaBytes);
    EXPECT_EQ(ClassifyBootArea(boot), SourceClass::ExFat);
    EXPECT_EQ(SourceClassName(SourceClass::ExFat), "exFAT");
    auto engine = CreateEngine(SourceRef::Image(image_, 3), false);
    ASSERT_NE(engine, nullptr);
    auto* exfat = dynamic_cast<QuickExFatScan*>(engine.get());
    ASSERT_NE(exfat, nullptr);
    EXPECT_TRUE(exfat->BootChecksumMatches());
    EXPECT_TRUE(exfat->HasBitmap());
    EXPECT_EQ(exfat->Volume().geometry.ClusterBytes(), 4096u);
    EXPECT_TRUE(engine_->BootChecksumMatches());

    const auto probe = test::RunKeltra({"probe", image_});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_NE(probe.out.find("exFAT"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("boot_checksum"), std::string::npos) << probe.out;
}

TEST_F(ExFatFixture, SameDeletedFilesAsTheSleuthKit) {
    // fls: "r/r * 643:\tPhotos/2024/Beach day.jpg\tmtime\tatime\tctime\tcrtime\tsize\t..."
    std::istringstream lines(Capture("fls -rlpd " + image_));
    int files = 0, folders = 0;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
        ASSERT_GE(cells.size(), 7u) << line;
        const std::string& path = cells[1];
        if (path.starts_with("$OrphanFiles")) continue;
        const auto it = tree_.find(path);
        ASSERT_NE(it, tree_.end()) << "fls lists " << path << " and the engine does not";
        const FoundRecord& r = it->second.record;
        if (line.starts_with("d/d")) {
            ++folders;
            EXPECT_EQ(r.isFolder, 1u) << path;
            EXPECT_EQ(r.folderDeleted, 1u) << path;
            continue;
        }
        ++files;
        EXPECT_EQ(r.isFolder, 0u) << path;
        EXPECT_EQ(std::to_string(r.size), cells[6]) << path;
        EXPECT_EQ(r.origin, static_cast<uint32_t>(RecordOrigin::QuickExFat));
        // The same bytes as icat gives.
        const std::string inode =
            line.substr(line.find('*') + 2, line.find(':') - line.find('*') - 2);
        const std::string want = out_ / ("icat-" + inode);
        ASSERT_EQ(std::system(("icat " + image_ + " " + inode + " > '" + want + "'").c_str()), 0);
        EXPECT_EQ(Recovered(*engine_, r, out_, "ours-" + inode), test::Sha256OfFile(want)) << path;
    }
    EXPECT_EQ(files, 15);
    EXPECT_EQ(folders, 2);
    // And nothing the engine lists as a file is missing from fls.
    int listedFiles = 0;
    for (const auto& [path, listed] : tree_) listedFiles += listed.record.isFolder == 0 ? 1 : 0;
    EXPECT_EQ(listedFiles, files);
    // Live folders on the paths to what was found are listed, not deleted.
    EXPECT_EQ(At("Photos").folderDeleted, 0u);
    EXPECT_EQ(At("Photos/2024").isFolder, 1u);
    EXPECT_FALSE(tree_.count("Photos/keep.bin")) << "live files are not listed";
}

TEST_F(ExFatFixture, RecoveriesMatchTheOriginals) {
    const std::map<std::string, std::string> originals = {
        {"Photos/2024/Beach day.jpg", "beach.jpg"},
        {"Photos/Fragmented.jpg", "fragmented.jpg"},
        {"Photos/" + kUnicodeName, "unicode.jpg"},
        {"Docs/" + kLongName, "long.jpg"},
        {"Docs/Old report.txt", "report.txt"},
        {"Trip/Day 1/Harbour view.jpg", "harbour.jpg"},
        {"Trip/notes.txt", "notes.txt"}};
    int n = 0;
    for (const auto& [path, original] : originals) {
        const FoundRecord& r = At(path);
        EXPECT_EQ(r.contentIntact, 1u) << path;
        EXPECT_EQ(Recovered(*engine_, r, out_, "file" + std::to_string(++n)),
                  test::Sha256OfFile(test::FixturePath("exfat_originals/" + original)))
            << path;
    }
    // The deleted folder with everything under it, under the names found.
    const std::string trip = out_ / "Trip";
    const int rootSeparators = static_cast<int>(std::count(trip.begin(), trip.end(), '/')) - 1;
    ASSERT_EQ(engine_->RecoverRecord(At("Trip"), trip, rootSeparators), kOk);
    EXPECT_EQ(test::Sha256OfFile(out_ / "Trip/Day 1/Harbour view.jpg"),
              test::Sha256OfFile(test::FixturePath("exfat_originals/harbour.jpg")));
    EXPECT_TRUE(fs::exists(fs::path(out_ / "Trip") / "notes.txt"));
    // Times: written today, kept to the second.
    const FoundRecord& beach = At("Photos/2024/Beach day.jpg");
    EXPECT_NE(beach.modified, 0u);
    EXPECT_GE(beach.created, 0u);
}

TEST_F(ExFatFixture, LogIsNamedAndReopened) {
    bool named = false;
    for (const auto& entry : fs::directory_iterator(logs_.Path())) {
        named = named || entry.path().filename().string().starts_with("Fast_ExFat_0_");
    }
    EXPECT_TRUE(named);
    std::string log;
    ASSERT_EQ(ScanHistory::FindLogFile(kQuickLogPrefix, logs_.Path().string(), log), kOk);
    EXPECT_TRUE(log.starts_with(kQuickExFatLogPrefix)) << log;
    auto again = MemoryEngine(Fixture(), logs_.Path().string());
    ASSERT_EQ(again->Scan(log), kOk);
    const auto reopened = test::ListTree(*again);
    EXPECT_EQ(reopened.size(), tree_.size());
    EXPECT_EQ(Recovered(*again, reopened.at("Photos/Fragmented.jpg").record, out_, "reopened"),
              test::Sha256OfFile(test::FixturePath("exfat_originals/fragmented.jpg")));
}

// Where the first bytes of a file lie in the image, in sectors.
uint64_t SectorOf(const std::vector<std::byte>& image, const std::string& original) {
    const auto bytes = test::ReadWholeFile(test::FixturePath("exfat_originals/" + original));
    const auto it = std::search(image.begin(), image.end(), bytes.begin(), bytes.begin() + 64);
    EXPECT_NE(it, image.end()) << original;
    return static_cast<uint64_t>(it - image.begin()) / 512;
}

bool InFreeRun(QuickScan& engine, uint64_t sector) {
    uint64_t position = 0;
    for (int i = 0; i < 100000; ++i) {
        uint64_t length = 0;
        engine.NextFreeRange(position, length);
        if (length == 0) return false;
        if (sector >= position && sector < position + length) return true;
        if (position > sector) return false;
        position += length;
    }
    return false;
}

TEST_F(ExFatFixture, FreeRangesComeFromTheAllocationBitmap) {
    ASSERT_EQ(engine_->LoadVolumeBitmap(), kOk);
    const std::vector<std::byte> image = Fixture();
    EXPECT_FALSE(InFreeRun(*engine_, SectorOf(image, "keep.bin"))) << "a live file's cluster";
    EXPECT_TRUE(InFreeRun(*engine_, SectorOf(image, "beach.jpg"))) << "a deleted file's cluster";
    EXPECT_FALSE(InFreeRun(*engine_, 0)) << "the boot region";
    uint64_t position = 0, length = 0, free = 0;
    for (;; position += length) {
        engine_->NextFreeRange(position, length);
        if (length == 0) break;
        free += length;
    }
    // The filler took all but the deleted files' clusters.
    EXPECT_GT(free, 100u);
    EXPECT_LT(free, 2048u);
}

// Patches the entry set of the deleted file `name` in the image: `edit` gets the set's bytes.
void EditSet(std::vector<std::byte>& image, std::u16string_view name,
             const std::function<void(std::span<std::byte>)>& edit) {
    std::vector<std::byte> units;
    for (const char16_t c : name.substr(0, 15)) {
        units.push_back(static_cast<std::byte>(c & 0xFF));
        units.push_back(static_cast<std::byte>(c >> 8));
    }
    const auto it = std::search(image.begin(), image.end(), units.begin(), units.end());
    ASSERT_NE(it, image.end());
    const size_t nameEntry = static_cast<size_t>(it - image.begin()) / 32 * 32;
    edit(std::span(image).subspan(nameEntry - 64, 32 * 19));
}

TEST_F(ExFatFixture, ValidDataLengthEndsTheStoredBytes) {
    std::vector<std::byte> image = Fixture();
    EditSet(image, u"Beach day.jpg", [](std::span<std::byte> set) {
        StoreLE<uint64_t>(set, 32 + 8, 5000);
        StoreLE<uint16_t>(set, 2, ExFatSetChecksum(set.first(96), true));
    });
    auto engine = MemoryEngine(image, logs_ / "vdl");
    ASSERT_EQ(engine->Scan(std::nullopt), kOk);
    const auto tree = test::ListTree(*engine);
    const FoundRecord& beach = tree.at("Photos/2024/Beach day.jpg").record;
    EXPECT_EQ(beach.size, 150000u);
    ASSERT_EQ(engine->RecoverRecord(beach, out_ / "vdl.jpg", 0), kOk);
    const auto got = test::ReadWholeFile(out_ / "vdl.jpg");
    const auto original = test::ReadWholeFile(test::FixturePath("exfat_originals/beach.jpg"));
    ASSERT_EQ(got.size(), 150000u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 5000, original.begin()));
    EXPECT_TRUE(
        std::all_of(got.begin() + 5000, got.end(), [](std::byte b) { return b == std::byte{0}; }));
}

TEST_F(ExFatFixture, DamagedVolumesNeitherCrashNorHang) {
    const test::ScopedAppDataFolder appData;  // previews go into its ScanLog folder
    const std::vector<std::byte> intact = Fixture();
    const auto geometry = *ReadExFatGeometry(intact);
    const size_t fatAt = size_t{geometry.fatOffset} * 512;
    auto scan = [this](std::vector<std::byte> image, const std::string& name) {
        const auto start = std::chrono::steady_clock::now();
        Status opened = kOk;
        auto engine = MemoryEngine(std::move(image), logs_ / name, &opened);
        if (opened == kOk) engine->Scan(std::nullopt);
        auto tree = test::ListTree(*engine);
        for (const auto& [path, listed] : tree) {
            if (listed.record.isFolder != 0) continue;
            std::string temp;
            std::vector<std::byte> buffer(4096);
            uint32_t size = static_cast<uint32_t>(buffer.size());
            engine->ReadRecordData(listed.record, temp, buffer, size, nullptr, nullptr);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
        return std::make_pair(std::move(engine), std::move(tree));
    };

    // A wrong boot checksum is noted; the scan goes on.
    std::vector<std::byte> checksum = intact;
    checksum[512 * 3 + 100] ^= std::byte{0x5A};
    auto [wrongSum, wrongSumTree] = scan(checksum, "checksum");
    EXPECT_FALSE(wrongSum->BootChecksumMatches());
    EXPECT_TRUE(wrongSumTree.count("Photos/Fragmented.jpg"));

    // A torn set: the name entry of a deleted file overwritten; the others are still found.
    std::vector<std::byte> torn = intact;
    EditSet(torn, u"Beach day.jpg", [](std::span<std::byte> set) { set[64] = std::byte{0x85}; });
    auto [tornEngine, tornTree] = scan(torn, "torn");
    EXPECT_FALSE(tornTree.count("Photos/2024/Beach day.jpg"));
    EXPECT_TRUE(tornTree.count("Docs/Old report.txt"));
    EXPECT_GE(tornEngine->TornSets(), 1u);

    // A bitmap entry pointing past the end of the volume, with a length to match.
    std::vector<std::byte> bitmap = intact;
    const size_t rootAt = static_cast<size_t>(geometry.ClusterSector(geometry.rootCluster)) * 512;
    for (size_t at = rootAt; at < rootAt + 4096; at += 32) {
        if (bitmap[at] == std::byte{0x81}) {
            StoreLE<uint32_t>(bitmap, at + 20, 0xFFFFFFF0);
            StoreLE<uint64_t>(bitmap, at + 24, UINT64_MAX);
        }
    }
    auto [noBitmap, noBitmapTree] = scan(bitmap, "bitmap");
    EXPECT_FALSE(noBitmap->HasBitmap());
    EXPECT_TRUE(noBitmapTree.count("Photos/2024/Beach day.jpg"));

    // Looping chains: every FAT entry names its own cluster or the one before.
    std::vector<std::byte> loops = intact;
    for (uint32_t n = 2; n <= geometry.MaxCluster(); ++n) {
        StoreLE<uint32_t>(loops, fatAt + n * 4, n % 2 == 0 ? n : n - 1);
    }
    scan(loops, "loops");

    // A volume cut short, and random damage to the metadata.
    scan(std::vector<std::byte>(intact.begin(), intact.begin() + intact.size() / 3), "cut");
    std::mt19937 random(19);
    const size_t metadataEnd = size_t{geometry.clusterHeapOffset} * 512 + 64 * 4096;
    for (int round = 0; round < 12; ++round) {
        std::vector<std::byte> damaged = intact;
        for (int i = 0; i < 400; ++i) {
            damaged[random() % metadataEnd] = static_cast<std::byte>(random());
        }
        scan(std::move(damaged), "random" + std::to_string(round));
    }
}

// A deep scan of an exFAT volume reads only the free clusters of its allocation bitmap, and
// does not list again, as carved files, the files the quick scan found.
TEST(ExFatDeepScan, PassesTheFreeSpaceAndKeepsTheFoundFiles) {
    const test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string image = dir / "deep.img";
    fs::copy_file(test::FixturePath("exfat.img"), image);
    DeepScan deep;
    ASSERT_EQ(deep.Open(SourceRef::Image(image, 1)), kOk);
    ASSERT_EQ(deep.Scan(std::nullopt), kOk);
    EXPECT_TRUE(deep.FreeSpaceOnly());
    EXPECT_LT(deep.SectorsRead(), fs::file_size(image) / 512 / 4);
    std::vector<FoundRecord> found;
    ASSERT_EQ(deep.FindByExtensions("*.jpg|", found), kOk);
    std::multiset<std::string> carved, quick;
    for (const FoundRecord& r : found) {
        auto& names = r.origin == static_cast<uint32_t>(RecordOrigin::Carving) ? carved : quick;
        names.insert(std::string(r.Name()));
    }
    EXPECT_EQ(quick, (std::multiset<std::string>{"Beach day.jpg", "Fragmented.jpg",
                                                 "Harbour view.jpg", kLongName, kUnicodeName}));
    EXPECT_TRUE(carved.empty()) << *carved.begin();
    // The quick engine's records go back to it.
    const auto tree = test::ListTree(deep);
    ASSERT_TRUE(tree.count("Photos/Fragmented.jpg"));
    test::ScratchDir out;
    ASSERT_EQ(deep.RecoverRecord(tree.at("Photos/Fragmented.jpg").record, out / "f.jpg", 0), kOk);
    EXPECT_EQ(test::Sha256OfFile(out / "f.jpg"),
              test::Sha256OfFile(test::FixturePath("exfat_originals/fragmented.jpg")));
}

}  // namespace
}  // namespace keltra
