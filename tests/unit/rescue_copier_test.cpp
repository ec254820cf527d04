#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "storage/rescue_copier.h"
#include "storage/rescue_map_file.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using S = AreaStatus;

constexpr uint64_t kSector = 512;

std::vector<std::byte> Pattern(size_t n) {
    std::vector<std::byte> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<std::byte>(i * 7 + i / 512 * 3 + 1);
    return v;
}

// A failing medium in memory: a read that touches a bad sector fails as a whole, as a disk's
// does. Sectors in `flaky` fail their first N reads and then read. After `goneAfter` reads the
// medium is unplugged. Every read is logged.
class FailingMedium : public SectorReader {
  public:
    FailingMedium(std::vector<std::byte> bytes, std::set<uint64_t> bad)
        : bytes_(std::move(bytes)), bad_(std::move(bad)) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        reads.emplace_back(offset, buffer.size());
        if (reads.size() > goneAfter) return kErrNotReady;
        bool failed = false;
        for (uint64_t s = offset / kSector; s * kSector < offset + buffer.size(); ++s) {
            if (bad_.count(s) != 0) failed = true;
            if (auto f = flaky.find(s); f != flaky.end() && f->second > 0) {
                --f->second;
                failed = true;
            }
        }
        if (failed) return kErrIoDevice;
        const uint64_t n = std::min<uint64_t>(buffer.size(), bytes_.size() - offset);
        std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), n, buffer.begin());
        done = static_cast<size_t>(n);
        return kOk;
    }
    // Reads that touched [first, last] sectors.
    size_t ReadsInto(uint64_t first, uint64_t last) const {
        size_t n = 0;
        for (const auto& [offset, size] : reads) {
            if (offset / kSector <= last && first <= (offset + size - 1) / kSector) ++n;
        }
        return n;
    }

    std::vector<std::pair<uint64_t, size_t>> reads;
    std::map<uint64_t, int> flaky;
    size_t goneAfter = SIZE_MAX;

  private:
    std::vector<std::byte> bytes_;
    std::set<uint64_t> bad_;
};

// 8 MiB with single bad sectors, three in a row, and a 1 MiB stretch.
constexpr uint64_t kSectors = 16384;
std::set<uint64_t> BadSectors() {
    std::set<uint64_t> bad{5, 1000, 1001, 1002, 9000, kSectors - 100};
    for (uint64_t s = 4096; s < 4096 + 2048; ++s) bad.insert(s);
    return bad;
}

std::vector<RescueArea> Truth(const std::set<uint64_t>& bad, uint64_t sectors) {
    RescueMap map(sectors * kSector);
    map.Mark(0, sectors * kSector, S::kFinished);
    for (uint64_t s : bad) map.Mark(s * kSector, kSector, S::kBad);
    return map.Areas();
}

std::vector<std::byte> WithZeros(std::vector<std::byte> bytes, const std::set<uint64_t>& bad) {
    for (uint64_t s : bad) {
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(s * kSector), kSector, std::byte{0});
    }
    return bytes;
}

struct Watcher {
    std::vector<std::pair<RescuePhase, int>> phases;
    uint64_t calls = 0;
    uint64_t stopAt = UINT64_MAX;
};

int Watch(void* user, const RescueProgress& p, const RescueMap&) {
    auto& w = *static_cast<Watcher*>(user);
    if (w.phases.empty() || w.phases.back() != std::pair(p.phase, p.pass)) {
        w.phases.emplace_back(p.phase, p.pass);
    }
    return ++w.calls == w.stopAt ? kCancelled.value() : 0;
}

RescueMap SavedMap(const std::string& image) {
    std::optional<RescueMap> map;
    std::string error;
    EXPECT_EQ(LoadRescueMap(RescueMapPath(image), map, error), kOk) << error;
    return map.value_or(RescueMap());
}

TEST(RescueCopier, CopiesEveryReadableSectorAndMapsExactlyTheBadOnes) {
    const auto bytes = Pattern(kSectors * kSector);
    const auto bad = BadSectors();
    FailingMedium medium(bytes, bad);
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    Watcher watcher;
    RescueCopier copier(&Watch, &watcher);
    ASSERT_EQ(copier.Run(medium, kSector, 0, bytes.size(), image, "card"), kOk);
    EXPECT_EQ(test::ReadWholeFile(image), WithZeros(bytes, bad));
    EXPECT_EQ(copier.Map().Areas(), Truth(bad, kSectors));
    EXPECT_EQ(SavedMap(image).Areas(), Truth(bad, kSectors));
    EXPECT_EQ(SavedMap(image).currentPhase, RescuePhase::kFinished);
    EXPECT_FALSE(copier.Continued());
    EXPECT_EQ(copier.Progress().badBytes, bad.size() * kSector);
    EXPECT_EQ(copier.Progress().badAreas, 5u);
    EXPECT_EQ(copier.Progress().untriedBytes, 0u);

    // The phases in their order.
    const std::vector<std::pair<RescuePhase, int>> phases{{RescuePhase::kCopying, 1},
                                                          {RescuePhase::kCopying, 2},
                                                          {RescuePhase::kCopying, 3},
                                                          {RescuePhase::kTrimming, 1},
                                                          {RescuePhase::kScraping, 1},
                                                          {RescuePhase::kRetrying, 1}};
    EXPECT_EQ(watcher.phases, phases);

    // The 1 MiB stretch is not hammered while good areas wait: the first pass touches it a few
    // times only, skipping further on each error.
    const size_t firstPassReads = [&] {
        FailingMedium probe(bytes, bad);
        Watcher stopAtPassTwo;
        RescueCopier c(
            [](void*, const RescueProgress& p, const RescueMap&) {
                return p.phase == RescuePhase::kCopying && p.pass == 2 ? kCancelled.value() : 0;
            },
            &stopAtPassTwo);
        EXPECT_EQ(c.Run(probe, kSector, 0, bytes.size(), dir / "probe.img", "card"), kCancelled);
        return probe.ReadsInto(4096, 4096 + 2047);
    }();
    // 16 clusters; the skip doubles from 64 KiB up to 1% of the medium (82 KiB here).
    EXPECT_LE(firstPassReads, 8u);
    // Altogether each bad sector is read a few times at most: once or twice in the copy,
    // trimming or scraping, and once in the retry pass.
    EXPECT_LE(medium.ReadsInto(4096, 4096 + 2047), 2048u * 3);
}

TEST(RescueCopier, RetriesRecoverFlakySectorsInTheOrderAsked) {
    const auto bytes = Pattern(256 * kSector);
    test::ScratchDir dir;
    for (const int retries : {0, 1, 3}) {
        FailingMedium medium(bytes, {});
        // These read on their fifth try: the copy, trimming or scraping, and three retries.
        medium.flaky = {{10, 4}, {11, 4}, {200, 4}};
        RescueOptions options;
        options.retries = retries;
        RescueCopier copier(nullptr, nullptr, options);
        const std::string image = dir / ("r" + std::to_string(retries) + ".img");
        ASSERT_EQ(copier.Run(medium, kSector, 0, bytes.size(), image, "card"), kOk);
        EXPECT_EQ(copier.Progress().badBytes, retries == 3 ? 0u : 3 * kSector) << retries;
        if (retries == 3) {
            EXPECT_EQ(test::ReadWholeFile(image), bytes);
        }
    }
    // --reverse: the retry passes go from the end backwards.
    FailingMedium medium(bytes, {20, 100, 150});
    RescueOptions options;
    options.reverseRetries = true;
    RescueCopier copier(nullptr, nullptr, options);
    const size_t before = [&] {
        FailingMedium m(bytes, {20, 100, 150});
        RescueOptions none;
        none.retries = 0;
        RescueCopier c(nullptr, nullptr, none);
        EXPECT_EQ(c.Run(m, kSector, 0, bytes.size(), dir / "n.img", "card"), kOk);
        return m.reads.size();
    }();
    ASSERT_EQ(copier.Run(medium, kSector, 0, bytes.size(), dir / "rev.img", "card"), kOk);
    ASSERT_EQ(medium.reads.size(), before + 3);
    EXPECT_EQ(medium.reads[before].first, 150 * kSector);
    EXPECT_EQ(medium.reads[before + 1].first, 100 * kSector);
    EXPECT_EQ(medium.reads[before + 2].first, 20 * kSector);
}

// Stopped anywhere and continued, the image and the map end as an uninterrupted copy's do;
// what the map calls copied is never read again.
TEST(RescueCopier, StoppedAndContinuedEndsAsAnUninterruptedCopy) {
    const auto bytes = Pattern(kSectors * kSector);
    const auto bad = BadSectors();
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    for (const uint64_t stopAt : {1ull, 3ull, 40ull, 140ull, 1500ull, 2300ull, 3500ull}) {
        SCOPED_TRACE(stopAt);
        fs::remove(image);
        fs::remove(RescueMapPath(image));
        FailingMedium first(bytes, bad);
        Watcher watcher;
        watcher.stopAt = stopAt;
        RescueCopier stopped(&Watch, &watcher);
        ASSERT_EQ(stopped.Run(first, kSector, 0, bytes.size(), image, "card"), kCancelled);
        const RescueMap saved = SavedMap(image);
        EXPECT_EQ(saved.Areas(), stopped.Map().Areas());

        FailingMedium second(bytes, bad);
        RescueCopier continued(nullptr, nullptr);
        ASSERT_EQ(continued.Run(second, kSector, 0, bytes.size(), image, "card"), kOk);
        EXPECT_TRUE(continued.Continued());
        EXPECT_EQ(test::ReadWholeFile(image), WithZeros(bytes, bad));
        EXPECT_EQ(SavedMap(image).Areas(), Truth(bad, kSectors));
        // Of each copied area only its edge sectors may be read again (to check the source).
        for (const RescueArea& a : saved.Areas()) {
            if (a.status != S::kFinished || a.size < 4 * kSector) continue;
            EXPECT_EQ(second.ReadsInto(a.pos / kSector + 1, a.End() / kSector - 2), 0u)
                << a.pos << "+" << a.size;
        }
    }
}

TEST(RescueCopier, RefusesTheMapOfAnotherSourceAndKeepsGoodData) {
    const auto bytes = Pattern(1024 * kSector);
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    {
        FailingMedium medium(bytes, {7});
        RescueCopier copier(nullptr, nullptr);
        ASSERT_EQ(copier.Run(medium, kSector, 0, bytes.size(), image, "card"), kOk);
    }
    const auto mapText = test::ReadWholeFile(RescueMapPath(image));
    const auto imageBytes = test::ReadWholeFile(image);

    // Another size (the range of another partition, another card).
    FailingMedium same(bytes, {7});
    RescueCopier copier(nullptr, nullptr);
    EXPECT_EQ(copier.Run(same, kSector, 0, bytes.size() - kSector, image, "card"),
              kErrInvalidParameter);
    EXPECT_NE(copier.Problem().find("another source"), std::string::npos) << copier.Problem();
    // Another source of the same size.
    auto other = bytes;
    std::reverse(other.begin(), other.end());
    FailingMedium stranger(other, {});
    EXPECT_EQ(copier.Run(stranger, kSector, 0, other.size(), image, "card"),
              kErrInvalidParameter);
    EXPECT_NE(copier.Problem().find("not copied from this source"), std::string::npos)
        << copier.Problem();
    EXPECT_EQ(test::ReadWholeFile(image), imageBytes);
    EXPECT_EQ(test::ReadWholeFile(RescueMapPath(image)), mapText);

    // The same source, worse now: nothing it no longer gives is lost from the image.
    FailingMedium worse(bytes, {7, 0, 1, 2, 100, 101, 500, 1023});
    ASSERT_EQ(copier.Run(worse, kSector, 0, bytes.size(), image, "card"), kOk);
    EXPECT_TRUE(copier.Continued());
    EXPECT_EQ(test::ReadWholeFile(image), imageBytes);
    EXPECT_EQ(copier.Map().BytesWith(S::kBad), kSector);

    // An image shorter than its map, a map without its image, a map that is not one.
    test::WriteWholeFile(image, std::span(imageBytes).first(100 * kSector));
    EXPECT_EQ(copier.Run(same, kSector, 0, bytes.size(), image, "card"), kErrInvalidParameter);
    EXPECT_NE(copier.Problem().find("do not belong together"), std::string::npos);
    fs::remove(image);
    EXPECT_EQ(copier.Run(same, kSector, 0, bytes.size(), image, "card"), kErrFileNotFound);
    EXPECT_NE(copier.Problem().find("not its image"), std::string::npos);
    EXPECT_FALSE(fs::exists(image));
    test::WriteWholeFile(RescueMapPath(image), std::as_bytes(std::span("garbage\n", 8)));
    EXPECT_EQ(copier.Run(same, kSector, 0, bytes.size(), image, "card"), kErrFileCorrupt);
    EXPECT_NE(copier.Problem().find("line 1"), std::string::npos) << copier.Problem();
    // Not a regular file.
    EXPECT_EQ(copier.Run(same, kSector, 0, bytes.size(), dir.Path().string(), "card"),
              kErrInvalidParameter);
}

TEST(RescueCopier, AVanishedSourceEndsTheCopyWithItsMapSaved) {
    const auto bytes = Pattern(kSectors * kSector);
    const auto bad = BadSectors();
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    FailingMedium medium(bytes, bad);
    medium.goneAfter = 100;
    RescueCopier copier(nullptr, nullptr);
    EXPECT_EQ(copier.Run(medium, kSector, 0, bytes.size(), image, "card"), kErrNotReady);
    EXPECT_EQ(medium.reads.size(), 101u);  // no read after the one that found it gone
    const RescueMap saved = SavedMap(image);
    EXPECT_EQ(saved.Areas(), copier.Map().Areas());
    EXPECT_GT(saved.BytesWith(S::kFinished), 0u);
    // Plugged in again, the copy goes on to the end.
    FailingMedium back(bytes, bad);
    ASSERT_EQ(copier.Run(back, kSector, 0, bytes.size(), image, "card"), kOk);
    EXPECT_EQ(test::ReadWholeFile(image), WithZeros(bytes, bad));
    EXPECT_EQ(copier.Map().Areas(), Truth(bad, kSectors));
}

TEST(RescueCopier, ARangeOfTheSourceIsMappedFromItsOwnStart) {
    const auto bytes = Pattern(1024 * kSector);
    FailingMedium medium(bytes, {300, 301});
    test::ScratchDir dir;
    RescueCopier copier(nullptr, nullptr);
    ASSERT_EQ(copier.Run(medium, kSector, 256 * kSector, 128 * kSector, dir / "p.img", "p"), kOk);
    const std::vector<RescueArea> expected{{0, 44 * kSector, S::kFinished},
                                           {44 * kSector, 2 * kSector, S::kBad},
                                           {46 * kSector, 82 * kSector, S::kFinished}};
    EXPECT_EQ(copier.Map().Areas(), expected);
    const auto image = test::ReadWholeFile(dir / "p.img");
    ASSERT_EQ(image.size(), 128 * kSector);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 44 * kSector,
                           bytes.begin() + 256 * kSector));
    // An old, longer file at the name holds nothing of itself afterwards.
    test::WriteWholeFile(dir / "old.img", std::vector<std::byte>(4096 * kSector, std::byte{0xEE}));
    ASSERT_EQ(copier.Run(medium, kSector, 256 * kSector, 128 * kSector, dir / "old.img", "p"),
              kOk);
    EXPECT_EQ(test::ReadWholeFile(dir / "old.img"), image);
}

}  // namespace
}  // namespace keltra
