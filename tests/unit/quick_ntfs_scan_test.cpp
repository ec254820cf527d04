// The quick NTFS scan on volumes made by mkntfs whose files were made and deleted through
// ntfs-3g, checked against The Sleuth Kit (fls, istat, icat) and the files' own sha256.
#include "engines/ntfs/quick_ntfs_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engines/engine_factory.h"
#include "platform/clock.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

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

using test::Listed;
using test::ListTree;

// "2026-12-07 08:24:52.200338300" as istat -z UTC prints a FILETIME.
std::string IstatTime(uint64_t fileTime) {
    const std::time_t seconds = static_cast<std::time_t>(UnixFromFileTime(fileTime));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%07u00", static_cast<unsigned>(fileTime % 10000000));
    return std::string(text) + fraction;
}

// The value after `label` on the first line holding it ("Created:\t<value> (UTC)").
std::string IstatField(const std::string& istat, const std::string& label) {
    const size_t at = istat.find(label);
    if (at == std::string::npos) return {};
    const size_t start = istat.find_first_not_of(" \t", at + label.size());
    const size_t end = istat.find(" (UTC)", start);
    return istat.substr(start, end - start);
}

class QuickNtfsScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        image_ = test::FixturePath("ntfs_deleted.img");
        ASSERT_EQ(engine_.Open(SourceRef::Image(image_, 7)), kOk);
        engine_.SetLogFolder(logs_ / "scan");
    }
    std::string Istat(uint32_t key) {
        return Capture("istat -z UTC " + image_ + " " + std::to_string(key));
    }

    test::ScopedAppDataFolder appData_;
    test::ScratchDir logs_;
    std::string image_;
    QuickNtfsScan engine_;
};

struct ManifestLine {
    std::string sha;
    uint64_t size;
    std::string path;
};
std::vector<ManifestLine> Manifest() {
    std::ifstream in(test::FixturePath("ntfs_deleted.manifest"));
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

// The folder Lost was deleted and its record then taken by a new file: its file is listed
// under LostFolder<its record number>, directly under the root.
std::string ExpectedPath(const std::string& manifestPath, uint32_t lostFolderKey) {
    if (manifestPath.rfind("Lost/", 0) == 0) {
        return "LostFolder" + std::to_string(lostFolderKey) + manifestPath.substr(4);
    }
    return manifestPath;
}

TEST_F(QuickNtfsScanTest, ListsDeletedFilesWithTheSleuthKitsNamesSizesAndTimes) {
    ASSERT_EQ(engine_.Scan(std::nullopt), kOk);
    const auto tree = ListTree(engine_);
    ASSERT_FALSE(tree.empty());
    std::map<uint32_t, const Listed*> byKey;
    uint32_t lostKey = 0;
    for (const auto& [path, l] : tree) {
        if (l.record.isFolder == 0) byKey[l.record.key] = &l;
        if (path.rfind("LostFolder", 0) == 0 && l.record.isFolder != 0) lostKey = l.record.key;
    }
    ASSERT_NE(lostKey, 0u) << "the folder whose record was reused";

    // Every deleted file of the manifest, under its folder path, with its size.
    for (const ManifestLine& m : Manifest()) {
        const auto it = tree.find(ExpectedPath(m.path, lostKey));
        ASSERT_NE(it, tree.end()) << m.path;
        EXPECT_EQ(it->second.record.isFolder, 0u) << m.path;
        EXPECT_EQ(it->second.record.size, m.size) << m.path;
    }

    // Every deleted file fls -rd names (records whose names it could resolve), with the same
    // record number and name; under $OrphanFiles it is our LostFolder.
    const std::string fls = Capture("fls -rd " + image_);
    std::istringstream lines(fls);
    std::string line;
    int compared = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("-/r", 0) != 0 || line.find("OrphanFile-") != std::string::npos) continue;
        if (line.find("fake.jpg") != std::string::npos) continue;  // hidden, see below
        const size_t star = line.find("* ");
        const uint32_t key = static_cast<uint32_t>(std::stoul(line.substr(star + 2)));
        std::string path = line.substr(line.find('\t') + 1);
        if (path.rfind("$OrphanFiles/", 0) == 0) {
            path = "LostFolder" + std::to_string(lostKey) + path.substr(12);
        }
        ASSERT_TRUE(byKey.count(key)) << line;
        EXPECT_EQ(byKey[key]->path, path) << line;
        ++compared;
    }
    EXPECT_GT(compared, 15);

    // Sizes and times as istat reports them; never a file in use, a folder or a system file.
    for (const auto& [key, l] : byKey) {
        const std::string istat = Istat(key);
        EXPECT_GT(key, 11u);
        EXPECT_NE(istat.find("Not Allocated File"), std::string::npos) << l->path;
        EXPECT_EQ(IstatField(istat, "Created:"), IstatTime(l->record.created)) << l->path;
        EXPECT_EQ(IstatField(istat, "File Modified:"), IstatTime(l->record.modified)) << l->path;
        EXPECT_EQ(IstatField(istat, "Accessed:"), IstatTime(l->record.accessed)) << l->path;
        const size_t data = istat.find("Type: $DATA (128");
        if (data != std::string::npos) {
            const size_t size = istat.find("size: ", data);
            EXPECT_EQ(std::stoull(istat.substr(size + 6)), l->record.size) << l->path;
        }
        EXPECT_EQ(l->record.sourceTag, 7);
        EXPECT_EQ(l->record.clusterBytes, 4096);
    }
    // Folders carry their own names; the long name is the Win32 one.
    EXPECT_TRUE(tree.count("A/B/C/D"));
    EXPECT_TRUE(tree.count("Docs/A long file name for testing.bin"));
    EXPECT_FALSE(tree.count("Photos/2017/kept.bin")) << "a file in use";
    // A photo whose first data is no JPEG failed the content check: hidden from the listing
    // and from searches; real JPEGs, resident or not, passed it.
    EXPECT_FALSE(tree.count("Photos/fake.jpg"));
    EXPECT_EQ(tree.at("Photos/real.jpg").record.contentIntact, 1u);
    EXPECT_EQ(tree.at("Photos/tiny.jpg").record.contentIntact, 1u);
    std::vector<FoundRecord> photos;
    ASSERT_EQ(engine_.FindByExtensions("*.jpg|", photos), kOk);
    ASSERT_EQ(photos.size(), 2u);
    EXPECT_EQ(photos[0].Name(), "real.jpg");
    // A name longer than a record holds is cut at a character boundary, keeping its extension.
    std::string accents;
    for (int i = 0; i < 127; ++i) accents += "\xC3\xA9";
    const std::string cut = "Docs/" + accents + ".txt";
    ASSERT_TRUE(tree.count(cut));
    EXPECT_EQ(tree.at(cut).record.Name().size(), 258u);
    std::string path;
    ASSERT_EQ(engine_.GetRecordPath(tree.at("A/B/C/D/deep.bin").record, path), kOk);
    EXPECT_EQ(path, "A/B/C/D/");

    // The log is a "Fast_" log of this partition start.
    bool found = false;
    for (const auto& e : fs::directory_iterator(logs_ / "scan")) {
        found = found || e.path().filename().string().rfind("Fast_0_", 0) == 0;
    }
    EXPECT_TRUE(found);
}

TEST_F(QuickNtfsScanTest, ReadsTheMftInLargePiecesAndTakesFoldersFromWhatItRead) {
    ASSERT_EQ(engine_.Scan(std::nullopt), kOk);
    auto bytes = test::ReadWholeFile(image_);
    const uint64_t sectors = bytes.size() / 512;
    auto reader = std::make_unique<test::MemoryReader>(std::move(bytes));
    const test::MemoryReader& counted = *reader;
    SectorSource source;
    OpenReaderSource(source, std::move(reader), sectors);
    QuickNtfsScan engine;
    ASSERT_EQ(engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 7), kOk);
    engine.SetLogFolder(logs_ / "counted");
    const uint64_t before = counted.calls;
    ASSERT_EQ(engine.Scan(std::nullopt), kOk);
    const uint64_t calls = counted.calls - before;
    ASSERT_EQ(engine.GetRecordCount(), engine_.GetRecordCount());
    const std::set<uint64_t> offsets(counted.offsets.begin() + static_cast<ptrdiff_t>(before),
                                     counted.offsets.end());
    uint64_t folders = 0;
    for (const auto& entry : ListTree(engine)) {
        const FoundRecord& r = entry.second.record;
        if (r.isFolder == 0) continue;
        ++folders;
        // Folders, the walk up included, come from the records the scan read.
        EXPECT_EQ(offsets.count(r.location * 512), 0u) << entry.first << " was read again";
    }
    ASSERT_GT(folders, 2u);
    // The MFT in one call; then at most one call per file for its content check.
    EXPECT_LE(calls, 1 + engine.GetRecordCount() - folders);
}

TEST_F(QuickNtfsScanTest, RecoversFilesAndFolderTreesByteForByte) {
    ASSERT_EQ(engine_.Scan(std::nullopt), kOk);
    const auto tree = ListTree(engine_);
    uint32_t lostKey = 0;
    for (const auto& [p, l] : tree) {
        if (p.rfind("LostFolder", 0) == 0 && l.record.isFolder != 0) lostKey = l.record.key;
    }
    test::ScratchDir out;
    for (const ManifestLine& m : Manifest()) {
        const std::string path = ExpectedPath(m.path, lostKey);
        ASSERT_TRUE(tree.count(path)) << path;
        const std::string target = out / ("files/" + path);
        ASSERT_EQ(engine_.RecoverRecord(tree.at(path).record, target, 0), kOk) << path;
        EXPECT_EQ(test::Sha256OfFile(target), m.sha) << path;
    }
    // A preview: a document into the caller's buffer, at most its size; a photo into the
    // temporary file.
    std::vector<std::byte> buffer(100);
    std::string temp;
    uint32_t size = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(engine_.ReadRecordData(tree.at("resident.txt").record, temp, buffer, size, nullptr,
                                     nullptr),
              kOk);
    EXPECT_EQ(size, 100u);
    EXPECT_TRUE(temp.empty());
    EXPECT_EQ(
        std::memcmp(buffer.data(), test::ReadWholeFile(out / "files/resident.txt").data(), 100), 0);
    size = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(engine_.ReadRecordData(tree.at("Photos/real.jpg").record, temp, buffer, size, nullptr,
                                     nullptr),
              kOk);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(test::Sha256OfFile(temp), test::Sha256OfFile(out / "files/Photos/real.jpg"));

    // A deleted folder brings its whole sub-tree. The folder lies at depth 1, one separator
    // below the destination root.
    const std::string dest = out / "tree/A";
    const int rootSeparators = static_cast<int>(std::count(dest.begin(), dest.end(), '/')) - 1;
    ASSERT_EQ(engine_.RecoverRecord(tree.at("A").record, dest, rootSeparators), kOk);
    for (const ManifestLine& m : Manifest()) {
        if (m.path.rfind("A/", 0) != 0) continue;
        EXPECT_EQ(test::Sha256OfFile(dest + m.path.substr(1)), m.sha) << m.path;
    }
}

TEST_F(QuickNtfsScanTest, CancelKeepsWhatWasFoundAndLogReopens) {
    struct Counter {
        int calls = 0;
    } counter;
    engine_.SetCallbacks(
        [](void* user, int, int, int, uint64_t, uint64_t, uint64_t, int) {
            return ++static_cast<Counter*>(user)->calls >= 1 ? kCancelled : 0;
        },
        nullptr, &counter, 100);
    EXPECT_EQ(engine_.Scan(std::nullopt), kCancelled);
    EXPECT_EQ(counter.calls, 1);
    const uint64_t found = engine_.GetRecordCount();
    EXPECT_GT(found, 0u);
    const auto tree = ListTree(engine_);
    EXPECT_TRUE(tree.count("A/B/C/D/deep.bin")) << "folders are written after a stop";

    // The log reopened by name lists the same records.
    std::string logName;
    for (const auto& e : fs::directory_iterator(logs_ / "scan")) {
        const std::string n = e.path().filename().string();
        if (n.find("_Relation") == std::string::npos && n.find("_DirInfo") == std::string::npos &&
            n.find("_Source") == std::string::npos) {
            logName = n;
        }
    }
    QuickNtfsScan again;
    ASSERT_EQ(again.Open(SourceRef::Image(image_, 7)), kOk);
    again.SetLogFolder(logs_ / "scan");
    ASSERT_EQ(again.Scan(logName), kOk);
    EXPECT_EQ(again.GetRecordCount(), found);
    EXPECT_EQ(ListTree(again).size(), tree.size());

    // A new scan in the same folder and minute gets a log of its own.
    QuickNtfsScan fresh;
    ASSERT_EQ(fresh.Open(SourceRef::Image(image_, 8)), kOk);
    fresh.SetLogFolder(logs_ / "scan");
    ASSERT_EQ(fresh.Scan(std::nullopt), kOk);
    QuickNtfsScan alone;
    ASSERT_EQ(alone.Open(SourceRef::Image(image_, 8)), kOk);
    alone.SetLogFolder(logs_ / "alone");
    ASSERT_EQ(alone.Scan(std::nullopt), kOk);
    EXPECT_EQ(fresh.GetRecordCount(), alone.GetRecordCount());
}

TEST_F(QuickNtfsScanTest, FreeRangesFollowTheVolumeBitmap) {
    ASSERT_EQ(engine_.LoadVolumeBitmap(), kOk);
    const std::string bitmap = Capture("icat " + image_ + " 6");
    const uint64_t sectors = 48 * 1024 * 1024 / 512;
    const uint64_t clusters = sectors / 8;
    auto used = [&](uint64_t c) { return (static_cast<uint8_t>(bitmap[c / 8]) >> (c % 8)) & 1; };
    std::vector<bool> free(clusters, false);
    uint64_t position = 0;
    int ranges = 0;
    while (position < sectors && ranges < 100000) {
        uint64_t length = 0;
        EXPECT_EQ(engine_.NextFreeRange(position, length), 1);
        if (length == 0) break;
        for (uint64_t s = position; s < position + length; s += 8) free[s / 8] = true;
        position += length;
        ++ranges;
    }
    EXPECT_GT(ranges, 10);
    for (uint64_t c = 0; c < clusters; ++c) ASSERT_EQ(free[c], !used(c)) << "cluster " << c;
    // Inside an allocated cluster the position moves to the next free one, keeping its offset.
    uint64_t position2 = 3;  // cluster 0 holds the boot sector
    uint64_t length = 0;
    engine_.NextFreeRange(position2, length);
    EXPECT_EQ(position2 % 8, 3u);
    EXPECT_FALSE(used(position2 / 8));
    // Past the end: the position stops at the sector count.
    uint64_t past = sectors + 100;
    engine_.NextFreeRange(past, length);
    EXPECT_EQ(past, sectors);
    EXPECT_EQ(length, 0u);
}

TEST(QuickNtfsFourKiBSectors, RecordsOfOneSectorWithFixupsEvery512Bytes) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    QuickNtfsScan engine;
    ASSERT_EQ(engine.Open(SourceRef::Image(test::FixturePath("ntfs_4k.img"), 1)), kOk);
    engine.SetLogFolder(scratch / "logs");
    ASSERT_EQ(engine.Scan(std::nullopt), kOk);
    const auto tree = ListTree(engine);
    std::ifstream manifest(test::FixturePath("ntfs_4k.manifest"));
    std::string sha, path;
    uint64_t size = 0;
    int files = 0;
    while (manifest >> sha >> size >> path) {
        ASSERT_TRUE(tree.count(path)) << path;
        const FoundRecord& r = tree.at(path).record;
        EXPECT_EQ(r.size, size);
        EXPECT_EQ(r.clusterBytes, 4096);
        ASSERT_EQ(engine.RecoverRecord(r, scratch / ("out" + std::to_string(files)), 0), kOk);
        EXPECT_EQ(test::Sha256OfFile(scratch / ("out" + std::to_string(files))), sha) << path;
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST(QuickNtfsFactory, QuickScanOfAnNtfsImageGetsThisEngine) {
    auto engine = CreateEngine(SourceRef::Image(test::FixturePath("ntfs_deleted.img"), 3), false);
    ASSERT_NE(engine, nullptr);
    EXPECT_NE(dynamic_cast<QuickNtfsScan*>(engine.get()), nullptr);
}

}  // namespace
}  // namespace keltra
