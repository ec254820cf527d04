// The deep exFAT search: entry sets recognised in sectors met anywhere, the cluster heap found
// from where folders lie, the folder tree rebuilt; then a camera card made with mkfs.exfat and
// exfat-fuse (tests/fixtures/make_exfat_card.sh), formatted again, with its boot regions wiped,
// and inside a disk whose table is gone, side by side with The Sleuth Kit (fls, tsk_recover).
#include "engines/exfat/deep_exfat_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "engines/deep/deep_scan.h"
#include "engines/exfat/exfat_directory_sector.h"
#include "engines/exfat/exfat_heap_inference.h"
#include "engines/exfat/exfat_sightings_file.h"
#include "engines/exfat/exfat_tree_rebuild.h"
#include "platform/little_endian.h"
#include "scanlog/scan_history.h"
#include "support/deep_exfat_feed.h"
#include "support/engine_tree.h"
#include "support/exfat_sets.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::MakeExFatSet;

constexpr uint16_t kFolder = 0x10;

std::vector<std::byte> Sector(std::initializer_list<std::vector<std::byte>> parts) {
    std::vector<std::byte> s;
    for (const auto& p : parts) s.insert(s.end(), p.begin(), p.end());
    s.resize(std::max<size_t>(512, (s.size() + 511) / 512 * 512));
    return s;
}

// A root folder's system entries: label, allocation bitmap (cluster 2), up-case table (3).
std::vector<std::byte> RootEntries() {
    std::vector<std::byte> e(96);
    e[0] = std::byte{0x83};
    e[1] = std::byte{2};
    StoreLE<uint16_t>(e, 2, u'C');
    StoreLE<uint16_t>(e, 4, u'A');
    e[32] = std::byte{0x81};
    StoreLE<uint32_t>(e, 52, 2);
    StoreLE<uint64_t>(e, 56, 184);
    e[64] = std::byte{0x82};
    StoreLE<uint32_t>(e, 84, 3);
    StoreLE<uint64_t>(e, 88, 5836);
    return e;
}

TEST(ExFatDirectorySector, VerifiedSetsRootEntriesAndWhatIsNotAFolder) {
    const auto dcim = MakeExFatSet(u"DCIM", 5, 32768, 32768, true, kFolder);
    const auto gone = test::DeletedExFatSet(MakeExFatSet(u"IMG_0002.JPG", 40, 9000, 9000, true));
    const auto root = Sector({RootEntries(), dcim, gone});
    ExFatDirectorySector d = ReadExFatDirectorySector(root, 512);
    EXPECT_TRUE(d.directory);
    EXPECT_TRUE(d.rootEntries);
    EXPECT_TRUE(d.startsWithPrimary);
    EXPECT_TRUE(d.endOfDirectory);
    ASSERT_EQ(d.sets.size(), 2u);
    EXPECT_EQ(d.sets[0].offset, 96u);
    EXPECT_EQ(d.sets[0].set.name, u"DCIM");
    EXPECT_TRUE(d.sets[1].set.deleted);
    ASSERT_TRUE(d.upcase);
    EXPECT_EQ(d.upcase->firstCluster, 3u);

    // A changed byte breaks the checksum: entries of the right types alone prove nothing.
    auto changed = Sector({dcim});
    changed[70] ^= std::byte{1};
    EXPECT_FALSE(ReadExFatDirectorySector(changed, 512).directory);
    // Names exFAT forbids, even with a checksum that matches.
    EXPECT_FALSE(ReadExFatDirectorySector(Sector({MakeExFatSet(u"../x", 9, 1, 1, true)}), 512)
                     .directory);
    EXPECT_FALSE(ReadExFatDirectorySector(Sector({MakeExFatSet(u"a/b", 9, 1, 1, true)}), 512)
                     .directory);
    // A folder without a cluster, a valid length beyond the data length.
    EXPECT_FALSE(
        ReadExFatDirectorySector(Sector({MakeExFatSet(u"F", 0, 512, 512, true, kFolder)}), 512)
            .directory);
    EXPECT_FALSE(
        ReadExFatDirectorySector(Sector({MakeExFatSet(u"f.jpg", 9, 600, 500, true)}), 512)
            .directory);
    // Text, zeros, an entry of another type after the end of the folder.
    std::vector<std::byte> text(512, std::byte{' '});
    EXPECT_FALSE(ReadExFatDirectorySector(text, 512).directory);
    EXPECT_FALSE(MayStartExFatDirectorySector(std::vector<std::byte>(512)));
    auto trailing = Sector({dcim});
    trailing[480] = std::byte{0x85};
    EXPECT_FALSE(ReadExFatDirectorySector(trailing, 512).directory);

    // Random bytes: almost all fail the first test, and none is taken for a folder.
    std::mt19937 rng(30);
    std::vector<std::byte> noise(512);
    int passedFirst = 0;
    for (int i = 0; i < 20000; ++i) {
        for (auto& b : noise) b = static_cast<std::byte>(rng());
        passedFirst += MayStartExFatDirectorySector(noise) ? 1 : 0;
        ASSERT_FALSE(ReadExFatDirectorySector(noise, 512).directory);
    }
    EXPECT_LT(passedFirst, 20000 / 10);
}

TEST(ExFatDirectorySector, SetRunningPastTheSectorEndNeedsTheBytesAfterIt) {
    const std::u16string longName(100, u'n');  // 7 name entries: 9 entries in all
    std::vector<std::byte> bytes;
    for (const char16_t* name : {u"a.jpg", u"b.jpg", u"c.jpg", u"d.jpg"}) {
        const auto filler = MakeExFatSet(name, 7, 10, 10, true);  // 3 entries each
        bytes.insert(bytes.end(), filler.begin(), filler.end());
    }
    // The long set starts 4 entries before the sector end.
    const auto set = MakeExFatSet(longName + u".jpg", 8, 10, 10, true);
    bytes.insert(bytes.end(), set.begin(), set.end());
    bytes.resize(1024);
    const ExFatDirectorySector whole = ReadExFatDirectorySector(bytes, 512);
    ASSERT_EQ(whole.sets.size(), 5u);
    EXPECT_EQ(whole.sets[4].offset, 384u);
    EXPECT_EQ(whole.sets[4].set.name.size(), 104u);
    const ExFatDirectorySector cut = ReadExFatDirectorySector(std::span(bytes).first(512), 512);
    EXPECT_EQ(cut.sets.size(), 4u);
    // The next sector begins inside the set: it continues a set begun before.
    const ExFatDirectorySector next = ReadExFatDirectorySector(std::span(bytes).subspan(512), 512);
    EXPECT_TRUE(next.directory);
    EXPECT_TRUE(next.continuesSet);
    EXPECT_FALSE(next.startsWithPrimary);
}

// Four folders of a volume with 64-sector clusters whose heap starts at sector 4096, and noise.
TEST(ExFatHeapInference, FoldersWhereTheirParentsPointGiveTheHeap) {
    const ExFatHeap truth{64, 4096, 0};
    std::vector<uint32_t> clusters{5, 6, 7, 9, 5};
    std::vector<uint64_t> starts{4100, 5000, 7777};
    for (const uint32_t c : {4u, 5u, 6u, 7u, 9u}) starts.push_back(truth.ClusterSector(c));
    std::sort(starts.begin(), starts.end());
    auto heaps = InferExFatHeaps(clusters, starts, 24, 65536);
    ASSERT_FALSE(heaps.empty());
    EXPECT_EQ(heaps[0], truth);
    EXPECT_EQ(heaps[0].folders, 4u);
    EXPECT_EQ(CountPlacedFolders(truth, clusters, starts), 5u);  // 5 named twice
    EXPECT_EQ(heaps[0].ClusterAt(4096 + 64 * 3 + 10), 5u);
    EXPECT_EQ(heaps[0].ClusterAt(4000), 0u);

    // One folder proves nothing; a heap before the earliest allowed is not taken.
    EXPECT_TRUE(InferExFatHeaps(std::vector<uint32_t>{5}, starts, 24, 65536).empty());
    EXPECT_TRUE(InferExFatHeaps(clusters, starts, 5000, 65536).empty());

    // A second volume further on, with 8-sector clusters.
    const ExFatHeap second{8, 100000, 0};
    for (const uint32_t c : {100u, 200u, 330u}) {
        clusters.push_back(c);
        starts.push_back(second.ClusterSector(c));
    }
    std::sort(starts.begin(), starts.end());
    heaps = InferExFatHeaps(clusters, starts, 24, 65536);
    ASSERT_EQ(heaps.size(), 2u);
    EXPECT_EQ(heaps[0], truth);
    EXPECT_EQ(heaps[1], second);
}

ExFatFoundSet Found(uint64_t sector, uint32_t offset, const std::vector<std::byte>& bytes) {
    return {sector, offset, *ParseExFatEntrySet(bytes)};
}

// A heap of 8-sector clusters at sector 1000: root in cluster 2, DCIM (3) named in it, 100CANON
// (4) named in DCIM, a photo in 100CANON that runs on into cluster 5 (the folder is chained and
// its first cluster ran full), a photo in cluster 9 that nothing names, a folder named in the
// root that holds nothing.
TEST(ExFatTreeRebuild, FoldersLinkToTheEntriesThatNameThemLostOnesGoUnderTheRoot) {
    const std::vector<ExFatHeap> heaps{{8, 1000, 0}};
    std::vector<ExFatDirSighting> dirs{{1000, true, true, true},
                                       {1008, true, true, false},
                                       {1016, true, false, false},
                                       {1023, false, false, false},
                                       {1024, true, true, false},
                                       {1056, true, true, false}};
    std::vector<ExFatFoundSet> sets{
        Found(1000, 96, MakeExFatSet(u"DCIM", 3, 4096, 4096, true, kFolder)),
        Found(1000, 192, MakeExFatSet(u"Empty", 7, 4096, 4096, true, kFolder)),
        Found(1008, 0, MakeExFatSet(u"100CANON", 4, 8192, 8192, false, kFolder)),
        Found(1016, 0, MakeExFatSet(u"IMG_0001.JPG", 20, 100, 100, true)),
        Found(1024, 0, MakeExFatSet(u"IMG_0002.JPG", 30, 100, 100, true)),
        Found(1056, 0, MakeExFatSet(u"lost.jpg", 40, 100, 100, true)),
    };
    ExFatTreeRebuild rebuild(heaps, dirs, sets, 512);
    const auto nodes = rebuild.Build();
    std::map<std::string, std::string> paths;  // name -> path
    for (const ExFatTreeNode& n : nodes) {
        std::string path;
        for (size_t i = &n - nodes.data(); i != SIZE_MAX; i = nodes[i].parent) {
            const std::string name =
                nodes[i].set == SIZE_MAX
                    ? "LostFolder" + std::to_string(nodes[i].cluster)
                    : std::string(sets[nodes[i].set].set.name.begin(),
                                  sets[nodes[i].set].set.name.end());
            path = path.empty() ? name : name + "/" + path;
        }
        paths[path.substr(path.rfind('/') + 1)] = path;
        if (n.parent != SIZE_MAX) {
            EXPECT_LT(n.parent, static_cast<size_t>(&n - nodes.data()));
            EXPECT_EQ(n.depth, nodes[n.parent].depth + 1);
        }
    }
    EXPECT_EQ(paths.at("IMG_0001.JPG"), "DCIM/100CANON/IMG_0001.JPG");
    EXPECT_EQ(paths.at("IMG_0002.JPG"), "DCIM/100CANON/IMG_0002.JPG");
    EXPECT_EQ(paths.at("lost.jpg"), "LostFolder9/lost.jpg");
    EXPECT_EQ(paths.count("Empty"), 0u);
    EXPECT_EQ(nodes.size(), 6u);
    EXPECT_EQ(rebuild.Unplaced(), 0u);

    // Without the first cluster running full, cluster 5 is a folder of its own.
    dirs[3].endOfDirectory = true;
    const auto split = ExFatTreeRebuild(heaps, dirs, sets, 512).Build();
    const auto second = std::find_if(split.begin(), split.end(),
                                     [](const ExFatTreeNode& n) { return n.set == 4; });
    ASSERT_NE(second, split.end());
    ASSERT_NE(second->parent, SIZE_MAX);
    EXPECT_EQ(split[second->parent].set, SIZE_MAX);
    EXPECT_EQ(split[second->parent].cluster, 5u);

    // Folders that name each other (a damaged disk) end under the root; no heap, no file.
    std::vector<ExFatFoundSet> loop{
        Found(1008, 0, MakeExFatSet(u"A", 4, 4096, 4096, true, kFolder)),
        Found(1016, 0, MakeExFatSet(u"B", 3, 4096, 4096, true, kFolder)),
        Found(1016, 96, MakeExFatSet(u"x.jpg", 50, 10, 10, true)),
    };
    const std::vector<ExFatDirSighting> loopDirs{{1008, true, true, false},
                                                 {1016, true, true, false}};
    const auto looped = ExFatTreeRebuild(heaps, loopDirs, loop, 512).Build();
    ASSERT_EQ(looped.size(), 3u);
    EXPECT_EQ(looped[0].parent, SIZE_MAX);
    ExFatTreeRebuild none({}, loopDirs, loop, 512);
    EXPECT_TRUE(none.Build().empty());
    EXPECT_EQ(none.Unplaced(), 1u);
}

// A rename that changed only the case of a name leaves the old set deleted beside the new one:
// one file, its live set. Names compare through the volume's up-case table: without it only a-z
// fold, so "été.jpg" and "ÉTÉ.JPG" stay two names; with a table that folds é they are one file.
// A different first cluster or length is a different file whatever the names.
TEST(ExFatTreeRebuild, AFileMetTwiceUnderNamesExFatHoldsEqualIsOneFile) {
    const std::vector<ExFatHeap> heaps{{8, 1000, 0}};
    const std::vector<ExFatDirSighting> dirs{{1000, true, true, true}};
    const std::vector<ExFatFoundSet> sets{
        Found(1000, 96, test::DeletedExFatSet(MakeExFatSet(u"img_0001.jpg", 20, 100, 100, true))),
        Found(1000, 192, MakeExFatSet(u"IMG_0001.JPG", 20, 100, 100, true)),
        Found(1000, 288, test::DeletedExFatSet(MakeExFatSet(u"Img_0001.Jpg", 21, 100, 100, true))),
        Found(1000, 384, test::DeletedExFatSet(MakeExFatSet(u"\u00E9t\u00E9.jpg", 30, 50, 50, true))),
        Found(1000, 480, MakeExFatSet(u"\u00C9T\u00C9.JPG", 30, 50, 50, true)),
    };
    ExFatTreeRebuild rebuild(heaps, dirs, sets, 512);
    std::multiset<size_t> kept;
    for (const ExFatTreeNode& n : rebuild.Build()) kept.insert(n.set);
    EXPECT_EQ(kept, (std::multiset<size_t>{1, 2, 3, 4}));

    // The stored form of a table: characters up-cased from U+0000 on; a-z and é fold.
    std::vector<std::byte> stored;
    for (char16_t c = 0; c <= 0xE9; ++c) {
        char16_t upper = c;
        if (c >= u'a' && c <= u'z') upper = static_cast<char16_t>(c - u'a' + u'A');
        if (c == 0xE9) upper = 0xC9;
        stored.push_back(std::byte(upper & 0xFF));
        stored.push_back(std::byte(upper >> 8));
    }
    ExFatUpcase table;
    table.Load(stored);
    rebuild.UseUpcase(table);
    kept.clear();
    for (const ExFatTreeNode& n : rebuild.Build()) kept.insert(n.set);
    EXPECT_EQ(kept, (std::multiset<size_t>{1, 2, 4}));
}

// ---- the camera card ----

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (size_t n = 0; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string Original(const std::string& path) {
    return test::Sha256OfFile(test::FixturePath("exfat_card_originals/" + path));
}

// What The Sleuth Kit gives back of the card's files: names fls lists (anywhere, orphans too)
// and files tsk_recover writes with an original's bytes.
struct Oracle {
    size_t named = 0;
    size_t exact = 0;
};
Oracle SleuthKit(const std::string& image, const std::vector<std::string>& files,
                 const test::ScratchDir& dir) {
    Oracle o;
    const std::string listing = Capture("fls -r '" + image + "' 2>/dev/null");
    const std::string out = dir / "tsk";
    fs::create_directories(out);
    std::system(("tsk_recover -e '" + image + "' '" + out + "' >/dev/null 2>&1").c_str());
    std::multiset<std::string> recovered;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (entry.is_regular_file()) recovered.insert(test::Sha256OfFile(entry.path().string()));
    }
    for (const std::string& f : files) {
        const std::string name = f.substr(f.rfind('/') + 1);
        o.named += listing.find(":\t" + name + "\n") != std::string::npos ? 1 : 0;
        o.exact += recovered.count(Original(f)) != 0 ? 1 : 0;
    }
    return o;
}

// Opens the search on the image with its logs in `logs` (a new log, or the stopped one named
// `resume`), as the deep scan does before its pass; `sectors` is the image's size.
void StartSearch(DeepExFatSearch& search, const std::string& image, const std::string& logs,
                 const std::optional<std::string>& resume, uint64_t& sectors) {
    search.SetLogFolder(logs);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, image), kOk);
    sectors = source.totalSectors;
    ASSERT_EQ(search.OpenSource(std::move(source), 512, 0, sectors, 3), kOk);
    ASSERT_EQ(search.OpenLog(resume), kOk);
    ASSERT_EQ(search.ReadBootRegion(), kOk);
}

// Hands every sector of the image to the search, then ends the pass.
void FeedWhole(DeepExFatSearch& search, const std::string& image) {
    SectorSource pass;
    ASSERT_EQ(OpenImageSource(pass, image), kOk);
    test::FeedDeepExFat(search, pass);
}

struct CardCase {
    const char* image;
    uint64_t volumeStart;      // where the card's volume starts in the image
    bool rootGone;             // formatted again with the same layout: the old root is new now
};

class DeepExFatCard : public testing::TestWithParam<CardCase> {};

// Every photo (the deleted ones too) is found by name in its folder and comes back byte-exact;
// folders whose names only the old root held are lost folders. The cluster heap is the card's.
TEST_P(DeepExFatCard, EveryPhotoByNameInItsFolderAndByteExact) {
    const CardCase c = GetParam();
    const std::string image = test::FixturePath(c.image);
    const std::vector<std::string> files = Lines(test::FixturePath("exfat_card_files.txt"));
    ASSERT_EQ(files.size(), 13u);
    test::ScratchDir dir;
    DeepExFatSearch search;
    uint64_t sectors = 0;
    ASSERT_NO_FATAL_FAILURE(StartSearch(search, image, dir / "logs", std::nullopt, sectors));
    ASSERT_NO_FATAL_FAILURE(FeedWhole(search, image));

    ASSERT_FALSE(search.Heaps().empty());
    EXPECT_EQ(search.Heaps()[0], (ExFatHeap{64, c.volumeStart + 4096, 0}));
    // The card's own up-case table, read from where its root names it.
    EXPECT_TRUE(search.UpcaseFound());
    EXPECT_EQ(search.Upcase().Upper(u'\u00E9'), u'\u00C9');
    EXPECT_EQ(search.Upcase().Upper(u'\u0434'), u'\u0414');

    const auto tree = test::ListTree(search);
    size_t named = 0;
    size_t exact = 0;
    for (const std::string& f : files) {
        std::string want = f;
        if (c.rootGone) {
            // The top folder's name lived in the old root only.
            want = "LostFolder[0-9]+" + std::regex_replace(f.substr(f.find('/')),
                                                           std::regex(R"([().])"), R"(\$&)");
        } else {
            want = std::regex_replace(f, std::regex(R"([().])"), R"(\$&)");
        }
        const std::regex pattern(want);
        const auto it = std::find_if(tree.begin(), tree.end(), [&](const auto& entry) {
            return std::regex_match(entry.first, pattern);
        });
        if (it == tree.end()) {
            ADD_FAILURE() << c.image << ": not found: " << f;
            continue;
        }
        ++named;
        EXPECT_EQ(it->second.record.origin, static_cast<uint32_t>(RecordOrigin::DeepExFat));
        const std::string target = dir / "out.jpg";
        fs::remove(target);
        EXPECT_EQ(search.RecoverRecord(it->second.record, target, 0), kOk) << f;
        const bool same = test::Sha256OfFile(target) == Original(f);
        EXPECT_TRUE(same) << f;
        exact += same ? 1 : 0;
    }
    const Oracle tsk = SleuthKit(image, files, dir);
    std::printf("deep exFAT, %s: %zu of %zu photos by name in their folder, %zu byte-exact; The "
                "Sleuth Kit: %zu named (as orphans, without their folders), %zu byte-exact\n",
                c.image, named, files.size(), exact, tsk.named, tsk.exact);
    EXPECT_GE(named, tsk.named);
    EXPECT_GE(exact, tsk.exact);
}

INSTANTIATE_TEST_SUITE_P(Cards, DeepExFatCard,
                         testing::Values(CardCase{"exfat_card_same.img", 0, true},
                                         CardCase{"exfat_card_other.img", 0, false},
                                         CardCase{"exfat_card_noboot.img", 0, false},
                                         CardCase{"exfat_card_mbr.img", 2048, false}),
                         [](const auto& info) {
                             std::string name = info.param.image;
                             name = name.substr(11, name.size() - 15);  // "exfat_card_" ".img"
                             return name;
                         });

// Where the card's root folder and its up-case table lie, from the boot sector of the card
// before its boot regions were wiped.
struct CardLayout {
    uint64_t rootAt = 0;  // bytes
    uint64_t tableAt = 0;
    uint64_t clusterBytes = 0;
};
CardLayout CardLayoutOf() {
    CardLayout l;
    const auto boot = test::ReadWholeFile(test::FixturePath("exfat_card.img"));
    if (boot.size() <= 512) return l;
    const uint64_t heap = Le32(boot, 0x58);
    const uint32_t root = Le32(boot, 0x60);
    l.clusterBytes = uint64_t{512} << Byte(boot, 0x6D);
    l.rootAt = heap * 512 + (root - 2) * l.clusterBytes;
    for (uint64_t e = l.rootAt; e < l.rootAt + l.clusterBytes; e += 32) {
        if (Byte(boot, e) == 0x82) {
            l.tableAt = heap * 512 + (Le32(boot, e + 20) - 2) * l.clusterBytes;
            break;
        }
    }
    return l;
}

// Hands the sectors [first, end) of the image to the search as the pass would.
void FeedRange(DeepExFatSearch& search, const std::string& image, uint64_t first, uint64_t end) {
    SectorSource pass;
    ASSERT_EQ(OpenImageSource(pass, image), kOk);
    std::vector<std::byte> buffer(kReadPieceBytes);
    for (uint64_t at = first; at < end; at += kReadPieceBytes / 512) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(kReadPieceBytes / 512, end - at));
        uint32_t read = 0;
        ASSERT_EQ(ReadSectors(pass, count, buffer, at, 512, read), kOk);
        search.ExamineSectors(std::span<const std::byte>(buffer).first(size_t{read} * 512), at);
    }
}

// An up-case table whose bytes no longer match the checksum its entry keeps is not used: names
// then fold a-z only, and the photos are found all the same.
TEST(DeepExFatSearchUpcase, ATableThatFailsItsChecksumIsNotUsed) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    fs::copy_file(test::FixturePath("exfat_card_noboot.img"), image);
    const CardLayout layout = CardLayoutOf();
    ASSERT_NE(layout.tableAt, 0u);
    {
        std::fstream card(image, std::ios::in | std::ios::out | std::ios::binary);
        card.seekp(static_cast<std::streamoff>(layout.tableAt + 200));
        card.put('\x7F');
    }

    DeepExFatSearch search;
    uint64_t sectors = 0;
    ASSERT_NO_FATAL_FAILURE(StartSearch(search, image, dir / "logs", std::nullopt, sectors));
    ASSERT_NO_FATAL_FAILURE(FeedWhole(search, image));
    EXPECT_FALSE(search.UpcaseFound());
    EXPECT_EQ(search.Upcase().Upper(u'\u00E9'), u'\u00E9');
    EXPECT_EQ(search.Upcase().Upper(u'q'), u'Q');
    EXPECT_EQ(test::ListTree(search).count("DCIM/101CANON/IMG_0104.JPG"), 1u);
}

// A pass stopped just after the root folder and continued later never meets the root again:
// the table its first part saw is kept beside the log, so the continued pass still reads the
// card's own table. A sightings file of an earlier version (without tables) loads as before.
TEST(DeepExFatSearchUpcase, AContinuedPassKeepsTheTableTheStoppedPartMet) {
    test::ScratchDir dir;
    const std::string image = test::FixturePath("exfat_card_noboot.img");
    const CardLayout layout = CardLayoutOf();
    ASSERT_NE(layout.tableAt, 0u);
    const uint64_t stopAt = (layout.rootAt + layout.clusterBytes) / 512;
    std::string logName;
    uint64_t sectors = 0;
    {
        DeepExFatSearch first;
        ASSERT_NO_FATAL_FAILURE(StartSearch(first, image, dir / "logs", std::nullopt, sectors));
        FeedRange(first, image, 0, stopAt);
        // The heap is not known yet from the few folders met: the table is only sighted.
        first.Finish();
    }
    // The log itself; the files beside it add a suffix to its name.
    for (const auto& entry : fs::directory_iterator(dir / "logs")) {
        const std::string name = entry.path().filename().string();
        if (logName.empty() || name.size() < logName.size()) logName = name;
    }
    const std::string sightings = ExFatSightingsPath((fs::path(dir / "logs") / logName).string());
    ASSERT_TRUE(fs::exists(sightings));
    const std::vector<std::byte> kept = test::ReadWholeFile(sightings);
    std::vector<ExFatDirSighting> dirs;
    std::vector<ExFatFoundSet> sets;
    std::vector<ExFatUpcaseSighting> tables;
    ASSERT_TRUE(LoadExFatSightings(sightings, dirs, sets, tables));
    ASSERT_EQ(tables.size(), 1u);

    DeepExFatSearch continued;
    ASSERT_NO_FATAL_FAILURE(StartSearch(continued, image, dir / "logs", logName, sectors));
    FeedRange(continued, image, stopAt, sectors);
    continued.Finish();
    EXPECT_TRUE(continued.UpcaseFound());
    EXPECT_EQ(continued.Upcase().Upper(u'\u00E9'), u'\u00C9');
    EXPECT_EQ(test::ListTree(continued).count("DCIM/101CANON/IMG_0104.JPG"), 1u);

    // The same file as an earlier version wrote it: the sets end the file.
    ASSERT_GT(kept.size(), 4u + 24u);
    const std::string earlier = dir / "earlier";
    {
        std::ofstream out(earlier, std::ios::binary);
        out.write(reinterpret_cast<const char*>(kept.data()),
                  static_cast<std::streamsize>(kept.size() - 4 - 24));
    }
    std::vector<ExFatDirSighting> earlierDirs;
    std::vector<ExFatFoundSet> earlierSets;
    std::vector<ExFatUpcaseSighting> earlierTables;
    ASSERT_TRUE(LoadExFatSightings(earlier, earlierDirs, earlierSets, earlierTables));
    EXPECT_EQ(earlierDirs.size(), dirs.size());
    EXPECT_EQ(earlierSets.size(), sets.size());
    EXPECT_TRUE(earlierTables.empty());
    // Cut inside the tables: refused, nothing taken.
    {
        std::ofstream out(earlier, std::ios::binary);
        out.write(reinterpret_cast<const char*>(kept.data()),
                  static_cast<std::streamsize>(kept.size() - 3));
    }
    earlierDirs.clear();
    EXPECT_FALSE(LoadExFatSightings(earlier, earlierDirs, earlierSets, earlierTables));
    EXPECT_TRUE(earlierDirs.empty());
}

// ---- through the deep scan ----

std::string CopyOf(const test::ScratchDir& dir, const std::string& fixture) {
    const std::string image = dir / fixture;
    fs::copy_file(test::FixturePath(fixture), image);
    return image;
}

// The deep scan of an intact volume passes only its free clusters: the entries of a deleted
// folder lying there are the quick scan's finds again and are not listed twice, and no live
// file is listed at all.
TEST(DeepExFatScan, IntactVolumeListsNoLiveFileAndNothingTwice) {
    const test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string image = CopyOf(dir, "exfat.img");
    DeepScan deep;
    ASSERT_EQ(deep.Open(SourceRef::Image(image, 1)), kOk);
    ASSERT_EQ(deep.Scan(std::nullopt), kOk);
    ASSERT_TRUE(deep.FreeSpaceOnly());
    std::set<std::string> live;
    std::istringstream fls(Capture("fls -r -u '" + image + "'"));
    for (std::string line; std::getline(fls, line);) {
        if (line.find("r/r") != std::string::npos) live.insert(line.substr(line.find('\t') + 1));
    }
    ASSERT_GE(live.size(), 10u);
    std::map<std::string, int> listed;
    test::WalkTree(deep, [&](const std::string&, const FoundRecord& r) {
        if (r.isFolder != 0 || r.origin == static_cast<uint32_t>(RecordOrigin::Carving)) return;
        EXPECT_EQ(live.count(std::string(r.Name())), 0u) << r.Name();
        ++listed[std::string(r.Name())];
    });
    EXPECT_EQ(listed.at("Harbour view.jpg"), 1);  // inside the deleted folder
    for (const auto& [name, times] : listed) EXPECT_EQ(times, 1) << name;
}

// A card formatted again with another cluster size, and the card without boot regions inside a
// disk without a table: the deep scan lists the photos by name in their folders, not carved.
TEST(DeepExFatScan, FormattedCardsGiveThePhotosByNameAndNoCarvedCopies) {
    const std::vector<std::string> files = Lines(test::FixturePath("exfat_card_files.txt"));
    for (const std::string fixture : {"exfat_card_other.img", "exfat_card_mbr.img"}) {
        const test::ScopedAppDataFolder appData;
        test::ScratchDir dir;
        const std::string image = CopyOf(dir, fixture);
        DeepScan deep;
        ASSERT_EQ(deep.Open(SourceRef::Image(image, 1)), kOk);
        ASSERT_EQ(deep.Scan(std::nullopt), kOk);
        std::vector<FoundRecord> found;
        ASSERT_EQ(deep.FindByExtensions("*.jpg|", found), kOk);
        std::multiset<std::string> named;
        for (const FoundRecord& r : found) {
            EXPECT_EQ(r.origin, static_cast<uint32_t>(RecordOrigin::DeepExFat))
                << fixture << ": " << r.Name();
            named.insert(std::string(r.Name()));
        }
        std::multiset<std::string> want;
        for (const std::string& f : files) want.insert(f.substr(f.rfind('/') + 1));
        EXPECT_EQ(named, want) << fixture;
        const auto tree = test::ListTree(deep);
        ASSERT_EQ(tree.count("DCIM/101CANON/IMG_0104.JPG"), 1u) << fixture;
        const std::string target = dir / "out.jpg";
        ASSERT_EQ(deep.RecoverRecord(tree.at("DCIM/101CANON/IMG_0104.JPG").record, target, 0),
                  kOk);
        EXPECT_EQ(test::Sha256OfFile(target), Original("DCIM/101CANON/IMG_0104.JPG"));
    }
}

}  // namespace
}  // namespace keltra
