#include "engines/fat/deep_fat_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <random>
#include <regex>
#include <set>

#include "engines/engine_factory.h"
#include "engines/fat/quick_fat_scan.h"
#include "engines/fat/fat_geometry.h"
#include "platform/little_endian.h"
#include "support/deep_fat_feed.h"
#include "tests/unit/fat_test_support.h"

namespace keltra {
namespace {

struct Listed {
    FoundRecord record;
    std::string path;  // as listed, folders joined with "/"
};

// Every record reachable from the root through ListFolder, by comparable path.
std::map<std::string, Listed> ListTree(FoundFiles& engine, size_t limit = SIZE_MAX) {
    std::map<std::string, Listed> out;
    struct Item {
        std::optional<FoundRecord> folder;
        std::string path;
        int depth;
    };
    std::deque<Item> work{{std::nullopt, "", 0}};
    while (!work.empty() && out.size() < limit) {
        Item item = work.front();
        work.pop_front();
        std::vector<FoundRecord> children;
        engine.ListFolder(item.folder ? &*item.folder : nullptr, item.depth, children);
        for (const FoundRecord& c : children) {
            const std::string path = item.path + std::string(c.Name());
            if (!out.emplace(test::ComparablePath(path), Listed{c, path}).second) continue;
            if (c.isFolder != 0) work.push_back({c, path + "/", item.depth + 1});
        }
    }
    return out;
}

std::string Text(const std::vector<std::byte>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string Original(const std::string& name) {
    return Text(test::ReadWholeFile(test::FixturePath("fat_deep_originals/" + name)));
}

std::string Recovered(FoundFiles& engine, const FoundRecord& record, const test::ScratchDir& out) {
    const std::string target = out / "recovered.bin";
    std::filesystem::remove(target);
    engine.RecoverRecord(record, target, 0);
    return std::filesystem::exists(target) ? Text(test::ReadWholeFile(target)) : std::string();
}

// A deep FAT search over bytes held in memory, its log in `logs`; with `feed`, the whole pass
// over the bytes (read through a source of its own, as the deep scan reads) and its end.
struct DeepSearch {
    DeepSearch(std::vector<std::byte> bytes, const test::ScratchDir& logs, bool feed = true) {
        const uint64_t sectors = bytes.size() / 512;
        SectorSource source;
        OpenReaderSource(source, std::make_unique<test::MemoryReader>(bytes), sectors);
        engine.SetLogFolder(logs.Path().string());
        EXPECT_EQ(engine.OpenSource(std::move(source), 512, 0, sectors, 4), kOk);
        EXPECT_EQ(engine.OpenLog(std::nullopt), kOk);
        EXPECT_EQ(engine.ReadBootSector(), kOk);
        if (!feed) return;
        SectorSource pass;
        OpenReaderSource(pass, std::make_unique<test::MemoryReader>(std::move(bytes)), sectors);
        test::FeedDeepFat(engine, pass);
    }
    DeepFatSearch engine;
};

// Of the files listed under the name of an original: how many, and how many come back whole.
std::pair<size_t, size_t> ShareRecovered(FoundFiles& engine,
                                         const std::map<std::string, Listed>& listed,
                                         const test::ScratchDir& out) {
    size_t files = 0;
    size_t exact = 0;
    for (const auto& [path, l] : listed) {
        if (l.record.isFolder != 0) continue;
        const std::string name(l.record.Name());
        if (!std::filesystem::exists(test::FixturePath("fat_deep_originals/" + name))) continue;
        ++files;
        exact += Recovered(engine, l.record, out) == Original(name) ? 1 : 0;
    }
    return {files, exact};
}

// The image with its boot sector (and FAT32's backup), FSInfo sectors and both FATs zeroed.
std::vector<std::byte> WithoutBootAndFats(std::vector<std::byte> bytes, FatGeometry& g) {
    g = *ReadFatGeometry(std::span(bytes).first(512));
    auto zero = [&](uint64_t sector, uint64_t count) {
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(sector * 512),
                    static_cast<ptrdiff_t>(count * 512), std::byte{0});
    };
    zero(0, 1);
    if (g.kind == FatKind::Fat32) {
        zero(Le16(bytes, 48), 1);  // FSInfo (still readable: only sector 0 was zeroed)
        zero(6, 2);                // the backup boot sector and its FSInfo
    }
    zero(g.reservedSectors, uint64_t{g.fatCount} * g.fatSectors);
    return bytes;
}

// The Part's example, and pairs that give no volume.
TEST(DeepFatSearch, TwoFolderStartsGiveTheVolume) {
    const auto v = InferFatVolume(10, 10000, 50, 10320, 0);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->sectorsPerCluster, 8u);
    EXPECT_EQ(v->DataStart(), 9936u);
    EXPECT_EQ(InferFatVolume(50, 10320, 10, 10000, 0), v);
    EXPECT_FALSE(InferFatVolume(10, 10000, 50, 10120, 0));             // 3 sectors per cluster
    EXPECT_FALSE(InferFatVolume(10, 10000, 50, 10330, 0));             // not a whole multiple
    EXPECT_FALSE(InferFatVolume(10, 10000, 10, 10320, 0));             // the same cluster
    EXPECT_FALSE(InferFatVolume(10, 10000, 50, 10000 + 40 * 256, 0));  // 256 per cluster
    EXPECT_FALSE(InferFatVolume(50, 10000, 10, 10320, 0));             // clusters down, sectors up
    EXPECT_FALSE(InferFatVolume(1000, 100, 1040, 420, 0));  // cluster 2 before the source
    EXPECT_FALSE(InferFatVolume(10, 10000, 50, 10320, 9940));

    // The same through the folder-start handler, with folder sectors of a memory disk.
    auto folderStart = [](uint32_t cluster) {
        std::vector<std::byte> s(512);
        std::memcpy(s.data(), ".          \x10", 12);
        std::memcpy(s.data() + 32, "..         \x10", 12);
        StoreLE<uint16_t>(s, 20, static_cast<uint16_t>(cluster >> 16));
        StoreLE<uint16_t>(s, 26, static_cast<uint16_t>(cluster));
        return s;
    };
    test::ScratchDir logs;
    for (const auto& [second, expected] :
         {std::pair<uint64_t, size_t>{10320, 1}, std::pair<uint64_t, size_t>{10120, 0}}) {
        std::vector<std::byte> disk(11000 * 512);
        const auto a = folderStart(10);
        const auto b = folderStart(50);
        std::copy(a.begin(), a.end(), disk.begin() + 10000 * 512);
        std::copy(b.begin(), b.end(), disk.begin() + static_cast<ptrdiff_t>(second * 512));
        DeepSearch search(disk, logs, false);
        search.engine.HandleFolderStart(a, 10000);
        search.engine.HandleFolderStart(b, second);
        ASSERT_EQ(search.engine.Volumes().size(), expected);
        if (expected == 1) {
            EXPECT_EQ(search.engine.Volumes()[0].sectorsPerCluster, 8u);
            EXPECT_EQ(search.engine.Volumes()[0].DataStart(), 9936u);
        }
    }
}

// Boot sector, FSInfo and both FATs gone: the folder starts give the geometry, the folders give
// names and paths, and contiguous files come back whole, where the Sleuth Kit sees no volume.
TEST(DeepFatSearch, FindsFilesOfAVolumeWhoseBootSectorAndFatsAreGone) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    const std::map<std::string, std::string> expected = {
        {"photos/2017/summer beach.jpg", "Summer beach.jpg"},
        {"photos/harbour at night.jpg", "Harbour at night.jpg"},
        {"docs/report.txt", "REPORT.TXT"},
        {"docs/minutes of the meeting.doc", "Minutes of the meeting.doc"},
        {"pages/pages number 5.txt", "Pages number 5.txt"},
        {"pages/pages number 10.txt", "Pages number 10.txt"},
        {"first.bin", "First.bin"},
        {"middle.bin", "Middle.bin"},
    };
    for (const std::string image : {"fat16_deep.img", "fat32_deep.img"}) {
        SCOPED_TRACE(image);
        FatGeometry g;
        auto bytes = WithoutBootAndFats(test::ReadWholeFile(test::FixturePath(image)), g);
        const std::string broken = out / "broken.img";
        test::WriteWholeFile(broken, bytes);
        EXPECT_EQ(test::RunCommand("fls -r '" + broken + "' 2>/dev/null"), "");

        DeepSearch search(bytes, logs);
        ASSERT_FALSE(search.engine.Volumes().empty());
        const DeepFatVolume& v = search.engine.Volumes()[0];
        EXPECT_EQ(v.sectorsPerCluster, g.sectorsPerCluster);
        EXPECT_EQ(v.dataAreaStart, g.dataAreaStart);
        EXPECT_EQ(search.engine.Dropped().Total(), 0u);

        const auto listed = ListTree(search.engine);
        for (const auto& [path, original] : expected) {
            if (!listed.count(path)) {
                ADD_FAILURE() << path;
                continue;
            }
            EXPECT_TRUE(Recovered(search.engine, listed.at(path).record, out) == Original(original))
                << path;
        }
        const auto [files, exact] = ShareRecovered(search.engine, listed, out);
        std::cout << image << " without boot sector and FATs: " << exact << " of " << files
                  << " files recovered byte-exact\n";
        // All are found (on FAT32, the Pages folder's second cluster, which lies apart from its
        // first, as a lost folder of its own). Only Around.bin, written around Middle.bin,
        // cannot be read as contiguous clusters.
        EXPECT_EQ(files, 20u);
        EXPECT_EQ(exact, files - 1);

        std::string path;
        ASSERT_EQ(
            search.engine.GetRecordPath(listed.at("photos/2017/summer beach.jpg").record, path),
            kOk);
        EXPECT_EQ(path, "Photos/2017/");
        // A picture previews through the temporary file, read from consecutive clusters.
        std::string temp;
        std::vector<std::byte> buffer(16);
        uint32_t size = 16;
        ASSERT_EQ(search.engine.ReadRecordData(listed.at("photos/harbour at night.jpg").record,
                                               temp, buffer, size, nullptr, nullptr),
                  kOk);
        EXPECT_TRUE(Text(test::ReadWholeFile(temp)) == Original("Harbour at night.jpg"));
        // The driver's merged search: where the data of a record starts.
        const FoundRecord& beach = listed.at("photos/2017/summer beach.jpg").record;
        EXPECT_EQ(search.engine.FirstDataSector(beach),
                  v.DataStart() + uint64_t{beach.key - 2} * v.sectorsPerCluster);
    }
}

// On an intact volume: the files of a deleted folder whose own entry was taken by a new file
// (the Sleuth Kit's orphans) are found in "LostFolder<cluster>" under the folder its ".."
// names; a long name whose checksum is not the short entry's is not given to it; and a deleted
// file written in two pieces around a live one comes back whole from the quick and the deep
// search alike.
TEST(DeepFatSearch, OrphanedFoldersAndFilesWrittenAroundOthers) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    for (const std::string image : {"fat16_deep.img", "fat32_deep.img"}) {
        SCOPED_TRACE(image);
        const std::string path = test::FixturePath(image);
        const std::string orphans = test::RunCommand("fls -r -d -p '" + path + "'");
        EXPECT_NE(orphans.find("$OrphanFiles/_RPHAN2.BIN"), std::string::npos);

        test::ScratchDir deepLogs;
        DeepSearch search(test::ReadWholeFile(path), deepLogs);
        ASSERT_FALSE(search.engine.Volumes().empty());
        const auto listed = ListTree(search.engine);
        std::string lost;
        for (const auto& [p, l] : listed) {
            const std::regex lostFolder("docs/lostfolder([0-9]+)");
            std::smatch m;
            if (std::regex_match(p, m, lostFolder)) {
                lost = p;
                EXPECT_EQ(m[1].str(), std::to_string(l.record.key));
            }
        }
        ASSERT_FALSE(lost.empty());
        ASSERT_TRUE(listed.count(lost + "/orphan one.txt"));
        ASSERT_TRUE(listed.count(lost + "/_rphan2.bin"));
        EXPECT_TRUE(Recovered(search.engine, listed.at(lost + "/orphan one.txt").record, out) ==
                    Original("Orphan one.txt"));
        EXPECT_TRUE(Recovered(search.engine, listed.at(lost + "/_rphan2.bin").record, out) ==
                    Original("ORPHAN2.BIN"));
        EXPECT_TRUE(listed.count("docs/reused.txt"));
        // A resumed deep scan reopens the log and lists what was found before.
        std::string logName;
        for (const auto& entry : std::filesystem::directory_iterator(deepLogs.Path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("Pro_Fat_0_", 0) == 0 && name.find("_Relation") == std::string::npos &&
                name.find("_DirInfo") == std::string::npos)
                logName = name;
        }
        ASSERT_FALSE(logName.empty());
        {
            DeepSearch resumed(std::vector<std::byte>(512 * 64), deepLogs, false);
            ASSERT_EQ(resumed.engine.OpenLog(logName), kOk);
            EXPECT_EQ(ListTree(resumed.engine).size(), listed.size());
        }
        const auto [files, exact] = ShareRecovered(search.engine, listed, out);
        std::cout << image << " intact: " << exact << " of " << files
                  << " files recovered byte-exact\n";
        EXPECT_EQ(exact, files);
        EXPECT_FALSE(listed.count("docs/orphan"));

        // Around.bin: the Sleuth Kit, the deep search and the quick scan read the same bytes.
        const std::string inode = test::RunCommand(
            "fls -d '" + path + "' | sed -n 's/^r\\/r \\* \\([0-9]*\\):\tAround.bin$/\\1/p'");
        ASSERT_FALSE(inode.empty());
        EXPECT_TRUE(test::RunCommand("icat -r '" + path + "' " + inode) == Original("Around.bin"));
        ASSERT_TRUE(listed.count("around.bin"));
        EXPECT_TRUE(Recovered(search.engine, listed.at("around.bin").record, out) ==
                    Original("Around.bin"));
        auto quick = CreateEngine(SourceRef::Image(path, 5), false);
        ASSERT_NE(quick, nullptr);
        dynamic_cast<QuickFatScan&>(*quick).SetLogFolder(logs.Path().string());
        ASSERT_EQ(quick->Scan(std::nullopt), kOk);
        const auto quickListed = ListTree(*quick);
        ASSERT_TRUE(quickListed.count("around.bin"));
        EXPECT_TRUE(Recovered(*quick, quickListed.at("around.bin").record, out) ==
                    Original("Around.bin"));
    }
}

// A deleted file with a short name only, in the slot of a deleted file's short entry, after
// that file's long-name entries: the Sleuth Kit gives it the stale long name; the quick and the
// deep search give it its own short name, with the same size and the same bytes.
TEST(DeepFatSearch, StaleLongNamesNameNoOtherFile) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    const std::string path = test::FixturePath("fat_stale_names.img");
    const std::string notes =
        Text(test::ReadWholeFile(test::FixturePath("fat_stale_names_originals/NOTES.TXT")));
    const auto fls = test::FlsDeletedFiles(path);
    ASSERT_EQ(fls.size(), 1u);
    EXPECT_EQ(fls.begin()->first, "trip/holiday photo.jpg");
    const std::string inode =
        test::RunCommand("fls -rd '" + path + "' | sed -n 's/^r\\/r \\* \\([0-9]*\\):.*$/\\1/p'");
    EXPECT_TRUE(test::RunCommand("icat -r '" + path + "' " + inode) == notes);

    auto quick = CreateEngine(SourceRef::Image(path, 5), false);
    ASSERT_NE(quick, nullptr);
    dynamic_cast<QuickFatScan&>(*quick).SetLogFolder(logs.Path().string());
    ASSERT_EQ(quick->Scan(std::nullopt), kOk);
    test::ScratchDir deepLogs;
    DeepSearch deep(test::ReadWholeFile(path), deepLogs);
    for (FoundFiles* engine :
         {static_cast<FoundFiles*>(quick.get()), static_cast<FoundFiles*>(&deep.engine)}) {
        const auto listed = ListTree(*engine);
        ASSERT_TRUE(listed.count("trip/_otes.txt"))
            << (listed.empty() ? "" : listed.begin()->first);
        EXPECT_FALSE(listed.count("trip/holiday photo.jpg"));
        const FoundRecord& r = listed.at("trip/_otes.txt").record;
        EXPECT_EQ(r.size, fls.begin()->second.size);
        EXPECT_TRUE(Recovered(*engine, r, out) == notes);
    }
}

// A long name cut by a sector end is joined whether the sector after the cut comes after the
// folder's first sector or was met before it.
TEST(DeepFatSearch, LongNamesAcrossSectorsInBothArrivalOrders) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    const auto bytes = test::ReadWholeFile(test::FixturePath("fat16_deep.img"));
    // The Pages folder's first sector ends inside the long name of its fifth file.
    uint64_t first = 0;
    for (uint64_t s = 0; s + 1 < bytes.size() / 512 && first == 0; ++s) {
        const auto sector = std::span(bytes).subspan(s * 512, 512);
        if (IsDotPair(sector) && FatEntryView(sector.subspan(480)).IsLongName()) first = s;
    }
    ASSERT_NE(first, 0u);
    const auto firstSector = std::span(bytes).subspan(first * 512, 512);
    const auto nextSector = std::span(bytes).subspan((first + 1) * 512, 512);
    for (const bool nextFirst : {false, true}) {
        SCOPED_TRACE(nextFirst ? "second sector first" : "in order");
        DeepSearch search(bytes, logs, false);
        if (nextFirst) search.engine.HandleDirectorySector(nextSector, first + 1);
        search.engine.HandleFolderStart(firstSector, first);
        if (!nextFirst) search.engine.HandleDirectorySector(nextSector, first + 1);
        search.engine.Finish();
        std::set<std::string> names;
        std::vector<FoundRecord> found;
        ASSERT_EQ(search.engine.FindByExtensions("*.txt|", found), kOk);
        for (const FoundRecord& r : found) names.insert(std::string(r.Name()));
        EXPECT_TRUE(names.count("Pages number 4.txt"));
        EXPECT_TRUE(names.count("Pages number 5.txt"));
        EXPECT_TRUE(names.count("Pages number 9.txt"));
        // The folder's own entry was not handed over: it is lost, under the root its ".."
        // names.
        const auto listed = ListTree(search.engine);
        ASSERT_EQ(listed.size(), names.size() + 1);
        const auto folder = listed.begin()->second.record;
        EXPECT_EQ(folder.Name(), "LostFolder" + std::to_string(folder.key));
    }
}

// Directory sectors that no volume explains are kept only up to a limit, and the search says
// what it dropped.
TEST(DeepFatSearch, WhatIsKeptBetweenSightingsIsBounded) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    const auto bytes = test::ReadWholeFile(test::FixturePath("fat16_deep.img"));
    // A directory sector without a dot pair: the Pages folder's second one.
    std::vector<std::byte> sector;
    for (uint64_t s = 0; s + 1 < bytes.size() / 512 && sector.empty(); ++s) {
        const auto at = std::span(bytes).subspan(s * 512, 512);
        if (IsDotPair(at) && FatEntryView(at.subspan(480)).IsLongName())
            sector.assign(at.begin() + 512, at.begin() + 1024);
    }
    ASSERT_TRUE(LooksLikeFatDirSector(sector));
    DeepSearch search(std::vector<std::byte>(1 << 20), logs, false);
    const uint64_t count = DeepFatSearch::kMaxSavedSectors + 100;
    for (uint64_t s = 0; s < count; ++s) search.engine.HandleDirectorySector(sector, 4 * s + 1);
    search.engine.Finish();
    EXPECT_EQ(search.engine.Dropped().savedSectors, 100u);
    EXPECT_GT(search.engine.Dropped().unplacedFiles, 0u);
    EXPECT_EQ(search.engine.GetRecordCount(), 0u);
}

// Damaged copies of the fixtures, with and without their boot sectors and FATs: the pass, the
// listing and copies always end.
TEST(DeepFatSearch, DamagedVolumesNeverCrashOrHang) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir logs;
    test::ScratchDir out;
    std::mt19937 rng(25);
    for (const auto& [image, rounds] : {std::pair{"fat16_deep.img", 12}, {"fat32_deep.img", 3}}) {
        const auto pristine = test::ReadWholeFile(test::FixturePath(image));
        FatGeometry g;
        const auto bare = WithoutBootAndFats(pristine, g);
        const size_t metadata = g.dataAreaStart * 512 + 64 * size_t{g.ClusterBytes()};
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(std::string(image) + " round " + std::to_string(round));
            auto bytes = round % 2 == 0 ? pristine : bare;
            const int hits = 1 + static_cast<int>(rng() % 200);
            for (int i = 0; i < hits; ++i) {
                const size_t at = rng() % metadata;
                const size_t run = 1 + rng() % 96;
                for (size_t k = 0; k < run && at + k < bytes.size(); ++k)
                    bytes[at + k] = static_cast<std::byte>(rng() % 4 == 0 ? 0 : rng());
            }
            DeepSearch search(std::move(bytes), logs);
            const auto listed = ListTree(search.engine, 3000);
            int copies = 0;
            for (const auto& [path, l] : listed) {
                if (l.record.isFolder != 0 || l.record.size > (1 << 20) || ++copies > 6) continue;
                Recovered(search.engine, l.record, out);
            }
        }
    }
}

}  // namespace
}  // namespace keltra
