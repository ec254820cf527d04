#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "storage/rescue_map.h"
#include "storage/rescue_map_file.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using S = AreaStatus;

// A map as GNU ddrescue 1.27 writes it, with a decimal number, no pass on the current line of an
// older version's map, and a gap (not tried) between two areas.
constexpr char kDdrescueMap[] =
    "# Mapfile. Created by GNU ddrescue version 1.27\n"
    "# Command line: ddrescue -d /dev/sdb card.img card.map\n"
    "# current_pos  current_status\n"
    "0x00100000     *\n"
    "#      pos        size  status\n"
    "0x00000000  0x00100000  +\n"
    "1048576     0x00000200  -   # a bad sector\n"
    "0x00100200  0x0007FE00  *\n"
    "0x00200000  0x00100000  +\n";

TEST(RescueMap, ReadsDdrescueMapsAndWritesTheirFormat) {
    std::string error;
    const auto map = RescueMap::Parse(kDdrescueMap, error);
    ASSERT_TRUE(map) << error;
    EXPECT_EQ(map->currentPos, 0x100000u);
    EXPECT_EQ(map->currentPhase, RescuePhase::kTrimming);
    EXPECT_EQ(map->currentPass, 1);
    EXPECT_EQ(map->Size(), 0x300000u);
    const std::vector<RescueArea> expected{{0, 0x100000, S::kFinished},
                                           {0x100000, 0x200, S::kBad},
                                           {0x100200, 0x7FE00, S::kNonTrimmed},
                                           {0x180000, 0x80000, S::kNonTried},
                                           {0x200000, 0x100000, S::kFinished}};
    EXPECT_EQ(map->Areas(), expected);
    EXPECT_EQ(map->BytesWith(S::kFinished), 0x200000u);
    EXPECT_EQ(map->AreasWith(S::kFinished), 2u);

    const std::string text = map->Format({"made by a test"});
    EXPECT_EQ(text,
              "# made by a test\n"
              "# current_pos  current_status  current_pass\n"
              "0x00100000     *               1\n"
              "#      pos        size  status\n"
              "0x00000000  0x00100000  +\n"
              "0x00100000  0x00000200  -\n"
              "0x00100200  0x0007FE00  *\n"
              "0x00180000  0x00080000  ?\n"
              "0x00200000  0x00100000  +\n");
    const auto again = RescueMap::Parse(text, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Areas(), expected);

    // What cannot be a map is refused with its line.
    for (const auto& [bad, line] : std::vector<std::pair<std::string, std::string>>{
             {"0x0 ?\n0x0 0x400 +\n0x200 0x400 -\n", "line 3"},
             {"0x0 ?\n0x0 0x400 x\n", "line 2"},
             {"0x0 ?\n0x0 -0x400 +\n", "line 2"},
             {"# only comments\n", "no current"},
             {"0x0 Q\n", "line 1"},
             {"0x0 ? 1\n0x10 0xFFFFFFFFFFFFFFFF +\n", "line 2"}}) {
        error.clear();
        EXPECT_FALSE(RescueMap::Parse(bad, error)) << bad;
        EXPECT_NE(error.find(line), std::string::npos) << bad << " -> " << error;
    }
}

// Random marks against a per-block reference: the areas, the counts and the searches agree.
TEST(RescueMap, MarksSplitAndJoinAreasAndKeepTheirCounts) {
    constexpr uint64_t kBlocks = 200, kBlock = 512;
    constexpr std::array<S, 5> kStatuses{S::kNonTried, S::kNonTrimmed, S::kNonScraped, S::kBad,
                                         S::kFinished};
    std::mt19937 random(32);
    RescueMap map(kBlocks * kBlock);
    std::vector<S> reference(kBlocks, S::kNonTried);
    for (int round = 0; round < 2000; ++round) {
        const uint64_t first = random() % kBlocks;
        const uint64_t count = 1 + random() % std::min<uint64_t>(20, kBlocks - first);
        const S status = kStatuses[random() % kStatuses.size()];
        map.Mark(first * kBlock, count * kBlock, status);
        std::fill_n(reference.begin() + static_cast<ptrdiff_t>(first), count, status);

        std::vector<RescueArea> expected;
        for (uint64_t b = 0; b < kBlocks; ++b) {
            if (!expected.empty() && expected.back().status == reference[b]) {
                expected.back().size += kBlock;
            } else {
                expected.push_back({b * kBlock, kBlock, reference[b]});
            }
        }
        ASSERT_EQ(map.Areas(), expected) << "round " << round;
        for (S s : kStatuses) {
            uint64_t bytes = 0;
            size_t areas = 0;
            for (const RescueArea& a : expected) {
                if (a.status == s) bytes += a.size, ++areas;
            }
            ASSERT_EQ(map.BytesWith(s), bytes);
            ASSERT_EQ(map.AreasWith(s), areas);
        }
        const uint64_t probe = (random() % kBlocks) * kBlock + 100;
        const S s = kStatuses[random() % kStatuses.size()];
        const auto next = map.NextArea(probe, s);
        const auto previous = map.PreviousArea(probe, s);
        std::optional<RescueArea> wantNext, wantPrevious;
        for (const RescueArea& a : expected) {
            if (a.status != s) continue;
            if (!wantNext && a.End() > probe) {
                wantNext = RescueArea{std::max(a.pos, probe), a.End() - std::max(a.pos, probe), s};
            }
            if (a.pos < probe) wantPrevious = RescueArea{a.pos, std::min(a.End(), probe) - a.pos, s};
        }
        ASSERT_EQ(next, wantNext);
        ASSERT_EQ(previous, wantPrevious);
        ASSERT_EQ(map.StatusAt(probe), reference[probe / kBlock]);
    }
    // Marks past the end are clipped.
    map.Mark(kBlocks * kBlock - kBlock, 10 * kBlock, S::kBad);
    EXPECT_EQ(map.Size(), kBlocks * kBlock);
    EXPECT_EQ(map.Areas().back().End(), kBlocks * kBlock);
}

TEST(RescueMap, CellsShowTheWorstStatusOfTheirPart) {
    RescueMap map(1000 * 512);
    map.Mark(0, 1000 * 512, S::kFinished);
    map.Mark(10 * 512, 512, S::kBad);
    map.Mark(500 * 512, 100 * 512, S::kNonTried);
    map.Mark(550 * 512, 512, S::kNonScraped);
    const auto cells = map.Cells(10);  // 100 sectors each
    const std::vector<S> expected{S::kBad,      S::kFinished, S::kFinished, S::kFinished,
                                  S::kFinished, S::kNonScraped, S::kFinished, S::kFinished,
                                  S::kFinished, S::kFinished};
    EXPECT_EQ(cells, expected);
    // More cells than sectors: each sector's status in its cells.
    const auto fine = RescueMap(4 * 512).Cells(8);
    EXPECT_EQ(fine, std::vector<S>(8, S::kNonTried));
}

TEST(RescueMap, FilesAreReplacedWholeAndReadBack) {
    test::ScratchDir dir;
    const std::string path = RescueMapPath(dir / "card.img");
    EXPECT_EQ(path, dir / "card.img.map");
    std::optional<RescueMap> loaded;
    std::string error;
    ASSERT_EQ(LoadRescueMap(path, loaded, error), kOk);
    EXPECT_FALSE(loaded);

    RescueMap map(64 * 512);
    map.Mark(512, 512, S::kBad);
    // A link planted at the temporary name is replaced, not written through.
    const std::string victim = dir / "victim";
    test::WriteWholeFile(victim, std::as_bytes(std::span("keep", 4)));
    std::filesystem::create_symlink(victim, path + ".new");
    ASSERT_EQ(SaveRescueMap(path, map, {"a comment"}), kOk);
    EXPECT_EQ(test::ReadWholeFile(victim).size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
    ASSERT_EQ(LoadRescueMap(path, loaded, error), kOk) << error;
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Areas(), map.Areas());

    test::WriteWholeFile(path, std::as_bytes(std::span("0x0 ?\n0x0 0x200 %\n", 18)));
    EXPECT_EQ(LoadRescueMap(path, loaded, error), kErrFileCorrupt);
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

}  // namespace
}  // namespace keltra
