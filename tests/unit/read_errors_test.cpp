// A failing disk: sources whose chosen sectors cannot be read. The whole-source pass reads
// around each bad sector and counts it; carving, and the quick FAT, exFAT and NTFS scans, go on
// past them and still find what lies elsewhere; a copy that meets a bad sector is no success.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>

#include "engines/carving/signature_carver.h"
#include "engines/deep/carve_pass.h"
#include "engines/deep/sector_pass.h"
#include "engines/exfat/quick_exfat_scan.h"
#include "engines/fat/quick_fat_scan.h"
#include "engines/ntfs/quick_ntfs_scan.h"
#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSector = 512;

// Bytes in memory whose `bad` sectors fail: a read that reaches one gives what lies before it,
// and a read that starts on one fails, as a disk answers.
class BadSectorReader : public SectorReader {
  public:
    BadSectorReader(std::vector<std::byte> bytes, std::set<uint64_t> bad)
        : bytes_(std::move(bytes)), bad_(std::move(bad)) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= bytes_.size()) return kOk;
        uint64_t end = std::min<uint64_t>(offset + buffer.size(), bytes_.size());
        const auto hit = bad_.lower_bound(offset / kSector);
        if (hit != bad_.end() && *hit * kSector < end) {
            if (*hit * kSector <= offset) return kErrIoDevice;
            end = *hit * kSector;
        }
        done = static_cast<size_t>(end - offset);
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return kOk;
    }

  private:
    std::vector<std::byte> bytes_;
    std::set<uint64_t> bad_;
};

SectorSource BadSource(std::vector<std::byte> bytes, std::set<uint64_t> bad) {
    SectorSource source;
    const uint64_t sectors = bytes.size() / kSector;
    OpenReaderSource(source, std::make_unique<BadSectorReader>(std::move(bytes), std::move(bad)),
                     sectors);
    return source;
}

TEST(ReadErrors, PassReadsAroundEachBadSectorAndCountsIt) {
    constexpr uint64_t kSectors = 1000;
    std::vector<std::byte> bytes(kSectors * kSector);
    for (uint64_t s = 0; s < kSectors; ++s) std::memcpy(&bytes[s * kSector], &s, sizeof s);
    // The first sector of a chunk, two in the middle of one, and the last of the source.
    const std::set<uint64_t> bad{128, 300, 301, 999};
    const SectorSource source = BadSource(bytes, bad);
    std::vector<uint64_t> seen(kSectors, UINT64_MAX);
    SectorPass pass(source, static_cast<int>(kSector));
    const auto outcome = pass.Run(
        {0, kSectors, 0}, {0, kSectors},
        [&](std::span<const std::byte> sectors, uint64_t lba) {
            for (size_t i = 0; i < sectors.size() / kSector; ++i) {
                std::memcpy(&seen[lba + i], &sectors[i * kSector], sizeof(uint64_t));
            }
            return ChunkVerdict{};
        },
        nullptr);
    EXPECT_EQ(outcome.status, kOk);
    EXPECT_EQ(outcome.unreadableSectors, bad.size());
    for (uint64_t s = 0; s < kSectors; ++s) {
        // A bad sector reaches the examiner as zeros; every other one as it is.
        EXPECT_EQ(seen[s], bad.count(s) != 0 ? 0 : s) << "sector " << s;
    }
}

// The carved files of the whole image: name and size.
std::set<std::pair<std::string, uint64_t>> Carve(const std::string& image, SectorSource source,
                                                 const std::string& logs, uint64_t& unreadable) {
    SignatureCarver engine;
    engine.SetLogFolder(logs);
    EXPECT_EQ(engine.Open(SourceRef::Image(image, 1)), kOk);
    const uint64_t sectors = source.totalSectors;
    EXPECT_EQ(CarveWholeRange(engine, source, static_cast<int>(kSector), {0, sectors}, nullptr,
                              nullptr, &unreadable),
              kOk);
    std::vector<FoundRecord> root;
    engine.ListFolder(nullptr, 0, root);
    std::set<std::pair<std::string, uint64_t>> out;
    for (const FoundRecord& r : root) out.insert({std::string(r.Name()), r.size});
    return out;
}

TEST(ReadErrors, CarvingGoesOnPastBadSectorsAndFindsWhatLiesElsewhere) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    const std::string image = test::FixturePath("photos_fat.img");
    const std::vector<std::byte> bytes = test::ReadWholeFile(image);
    uint64_t none = 0;
    const auto whole = Carve(image, BadSource(bytes, {}), scratch / "a", none);
    ASSERT_GE(whole.size(), 3u);
    EXPECT_EQ(none, 0u);

    // Bad sectors where no carved file lies (the boot area, the FAT, the last sectors), and a
    // whole 64 KiB chunk of them: the same files are carved.
    std::set<uint64_t> bad{1, 2, 40};
    const uint64_t sectors = bytes.size() / kSector;
    for (uint64_t s = sectors - 300; s < sectors - 172; ++s) bad.insert(s);
    std::set<uint64_t> used;
    for (const auto& [name, size] : whole) {
        const uint64_t first = std::stoull(name);
        for (uint64_t s = first; s < first + (size + kSector - 1) / kSector + 1; ++s)
            used.insert(s);
    }
    for (uint64_t s : bad) ASSERT_EQ(used.count(s), 0u) << "the fixture changed: " << s;
    uint64_t unreadable = 0;
    EXPECT_EQ(Carve(image, BadSource(bytes, bad), scratch / "b", unreadable), whole);
    // The run of 128 is a bad area: what follows it up to the end may be passed over and
    // counted with it.
    EXPECT_GE(unreadable, bad.size());
    EXPECT_LE(unreadable, bad.size() + 172);

    // A bad sector inside the first carved file: the files after it are still carved.
    const uint64_t first = std::stoull(whole.begin()->first);
    unreadable = 0;
    const auto damaged = Carve(image, BadSource(bytes, {first + 1}), scratch / "c", unreadable);
    EXPECT_EQ(unreadable, 1u);
    size_t kept = 0;
    for (const auto& file : whole)
        kept += damaged.count(file) + (file.first == whole.begin()->first);
    EXPECT_GE(kept, whole.size() - 1);
}

// The record at `path` in the engine's tree.
std::optional<FoundRecord> FindFile(const std::map<std::string, test::Listed>& tree,
                                    const std::string& path) {
    const auto it = tree.find(path);
    if (it == tree.end()) return std::nullopt;
    return it->second.record;
}

// A quick engine of type E over `bytes` whose `bad` sectors fail, scanned, its log in `logs`.
template <typename E>
std::unique_ptr<E> ScannedOverBadSectors(const std::vector<std::byte>& bytes,
                                         std::set<uint64_t> bad, const std::string& logs) {
    auto engine = std::make_unique<E>();
    engine->SetLogFolder(logs);
    SectorSource source = BadSource(bytes, std::move(bad));
    const uint64_t sectors = source.totalSectors;
    EXPECT_EQ(engine->OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1), kOk);
    engine->Scan(std::nullopt);
    return engine;
}

TEST(ReadErrors, QuickFatScanListsEverythingAndACopyOverABadSectorFails) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    const std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("fat16.img"));
    auto open = [&](std::set<uint64_t> bad, const std::string& logs) {
        return ScannedOverBadSectors<QuickFatScan>(bytes, std::move(bad), logs);
    };
    auto sound = open({}, scratch / "a");
    const auto tree = test::ListTree(*sound);
    ASSERT_TRUE(FindFile(tree, "Photos/Deleted long name.bin").has_value());
    // Bad sectors at the end of the data area: the tree is listed whole.
    const uint64_t last = bytes.size() / kSector - 1;
    auto failing = open({last - 1, last}, scratch / "b");
    EXPECT_EQ(test::ListTree(*failing).size(), tree.size());
    EXPECT_EQ(sound->UnreadableSectors(), 0u);

    // A bad sector in the root folder's area: the scan still ends, without what that area
    // held, and says how much of it could not be read.
    const uint64_t root = Le16(bytes, 14) + uint64_t{Byte(bytes, 16)} * Le16(bytes, 22);
    auto rootless = open({root}, scratch / "d");
    EXPECT_LT(test::ListTree(*rootless).size(), tree.size());
    EXPECT_GE(rootless->UnreadableSectors(), 1u);

    // The deleted file's own first sector found by its content, then made bad.
    const std::vector<std::byte> original =
        test::ReadWholeFile(test::FixturePath("fat_originals/gone.bin"));
    uint64_t dataSector = 0;
    for (uint64_t s = 0; s < bytes.size() / kSector; ++s) {
        if (std::memcmp(&bytes[s * kSector], original.data(), kSector) == 0) {
            dataSector = s;
            break;
        }
    }
    ASSERT_NE(dataSector, 0u);
    auto broken = open({dataSector + 1}, scratch / "c");
    const auto brokenTree = test::ListTree(*broken);
    EXPECT_EQ(brokenTree.size(), tree.size());
    const auto brokenKeep = FindFile(brokenTree, "Photos/Deleted long name.bin");
    ASSERT_TRUE(brokenKeep.has_value());
    const fs::path out = scratch.Path() / "out";
    fs::create_directories(out);
    EXPECT_NE(broken->RecoverRecord(*brokenKeep, (out / "gone.bin").string(), 0), kOk);
    EXPECT_EQ(broken->RecoverRecord(*FindFile(brokenTree, "Docs/Old report.txt"),
                                    (out / "report.txt").string(), 0),
              kOk);
}

TEST(ReadErrors, QuickNtfsScanGoesOnPastABadMftRecord) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    const std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("ntfs_deleted.img"));
    auto open = [&](std::set<uint64_t> bad, const std::string& logs) {
        return ScannedOverBadSectors<QuickNtfsScan>(bytes, std::move(bad), logs);
    };
    auto sound = open({}, scratch / "a");
    const auto tree = test::ListTree(*sound);
    ASSERT_GT(tree.size(), 8u);
    // One sector of the records of the files (record 70 on), a whole piece of records later.
    const uint64_t mft = Le64(bytes, 48) * Le16(bytes, 11) * Byte(bytes, 13) / kSector;
    auto failing = open({mft + 2 * 70, mft + 2 * 71}, scratch / "b");
    const auto damaged = test::ListTree(*failing);
    EXPECT_GE(damaged.size() + 4, tree.size()) << "a bad record costs only its own file";
    EXPECT_GT(damaged.size(), 4u);
    // Told: at least the two bad sectors, at most the two records that hold them.
    EXPECT_EQ(sound->UnreadableSectors(), 0u);
    EXPECT_GE(failing->UnreadableSectors(), 2u);
    EXPECT_LE(failing->UnreadableSectors(), 4u);
}

TEST(ReadErrors, QuickExFatScanSaysHowMuchOfAFolderItCouldNotRead) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    const std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("exfat.img"));
    auto open = [&](std::set<uint64_t> bad, const std::string& logs) {
        return ScannedOverBadSectors<QuickExFatScan>(bytes, std::move(bad), logs);
    };
    auto sound = open({}, scratch / "a");
    const auto tree = test::ListTree(*sound);
    ASSERT_GT(tree.size(), 4u);
    EXPECT_EQ(sound->UnreadableSectors(), 0u);

    // The root folder's first sector: the scan ends without what it held and says so.
    const uint64_t clusterSectors = uint64_t{1} << Byte(bytes, 109);
    const uint64_t root = Le32(bytes, 88) + (Le32(bytes, 96) - 2) * clusterSectors;
    auto rootless = open({root}, scratch / "b");
    EXPECT_LT(test::ListTree(*rootless).size(), tree.size());
    EXPECT_GE(rootless->UnreadableSectors(), 1u);
    EXPECT_LE(rootless->UnreadableSectors(), clusterSectors);
}

}  // namespace
}  // namespace keltra
