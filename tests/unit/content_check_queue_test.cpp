// The content checks of a quick scan made in disk order: the files come out in the order they
// were queued with the verdicts checking each one at once would give, while the source is read
// in ascending order, only the first sectors and gaps shorter than a page between them; files
// whose first cluster is guessed get the key and verdict trying each place in turn would give.
#include "engines/content_check_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace keltra {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint64_t kSectors = 65536;  // 32 MiB

// A source whose sector n begins with byte 0xFF when n is a multiple of 3 (a "good" first
// sector), else with 0x00.
std::vector<std::byte> MarkedSectors() {
    std::vector<std::byte> bytes(kSectors * kSector);
    for (uint64_t n = 0; n < kSectors; n += 3) bytes[n * kSector] = std::byte{0xFF};
    return bytes;
}

struct Queued {
    std::string name;
    uint64_t sector;
    bool decided;  // queued with its verdict already set (0)
};

struct Emitted {
    std::string name;
    uint64_t parentKey;
    uint32_t intact;
};

class ContentCheckQueueTest : public ::testing::Test {
  protected:
    void Open(uint64_t faultFromByte = UINT64_MAX) {
        auto reader = std::make_unique<test::MemoryReader>(MarkedSectors(), faultFromByte);
        reader_ = reader.get();
        OpenReaderSource(source_, std::move(reader), kSectors);
    }

    // Queues the files with parent keys 1, 2, 3, ... and flushes; the check passes a sector
    // that begins with 0xFF and records the sectors it was given.
    std::vector<Emitted> Run(ContentCheckQueue& queue, const std::vector<Queued>& files) {
        uint64_t key = 0;
        for (const Queued& f : files) {
            FoundRecord r = EmptyRecord();
            r.SetName(f.name);
            r.key = static_cast<uint32_t>(++key);
            if (f.decided) {
                r.contentIntact = 0;
                queue.AddDecided(r, key);
            } else {
                const size_t dot = f.name.rfind('.');
                queue.AddToCheck(r, key, f.sector, f.name.substr(dot + 1));
            }
        }
        std::vector<Emitted> out;
        queue.Flush(
            [&](std::span<const std::byte> bytes, std::string_view extension, uint64_t sector) {
                EXPECT_EQ(bytes.size(), kSector);
                EXPECT_EQ(extension, "jpg");  // the table's own spelling, whatever the name's
                checked_.push_back(sector);
                return bytes[0] == std::byte{0xFF};
            },
            [&](const FoundRecord& r, uint64_t parentKey) {
                EXPECT_EQ(r.key, parentKey);
                out.push_back({std::string(r.Name()), parentKey, r.contentIntact});
            });
        return out;
    }

    SectorSource source_;
    test::MemoryReader* reader_ = nullptr;
    std::vector<uint64_t> checked_;
};

TEST_F(ContentCheckQueueTest, ScatteredFilesComeOutInQueueOrderWithTheirOwnVerdicts) {
    Open();
    // 600 files whose first sectors lie 20 sectors apart, queued in shuffled order, mixed with
    // files whose verdict is known, whose extension no recogniser knows, and whose sector lies
    // outside the volume [1000, 40000).
    std::vector<uint64_t> sectors;
    for (uint64_t i = 0; i < 600; ++i) sectors.push_back(1000 + i * 20);
    std::shuffle(sectors.begin(), sectors.end(), std::mt19937(33));
    std::vector<Queued> files;
    for (int i = 0; i < 600; ++i) {
        const uint64_t sector = sectors[static_cast<size_t>(i)];
        files.push_back({"IMG_" + std::to_string(i) + (i % 2 ? ".JPG" : ".jpg"), sector, false});
        if (i % 50 == 0) files.push_back({"known" + std::to_string(i) + ".jpg", sector, true});
        if (i % 40 == 0) files.push_back({"notes" + std::to_string(i) + ".txt", sector, false});
        if (i % 60 == 0) files.push_back({"far" + std::to_string(i) + ".jpg", 50000u + static_cast<uint64_t>(i), false});
        if (i % 70 == 0) files.push_back({"before" + std::to_string(i) + ".jpg", 999, false});
    }
    ContentCheckQueue queue(source_, kSector, 1000, 40000);
    const std::vector<Emitted> out = Run(queue, files);

    ASSERT_EQ(out.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const Queued& f = files[i];
        SCOPED_TRACE(f.name);
        EXPECT_EQ(out[i].name, f.name);
        EXPECT_EQ(out[i].parentKey, i + 1);
        const bool inVolume = f.sector >= 1000 && f.sector < 40000;
        const bool checkable = !f.decided && f.name.find(".txt") == std::string::npos && inVolume;
        const uint32_t expected = f.decided ? 0 : checkable ? (f.sector % 3 == 0 ? 1 : 0) : 1;
        EXPECT_EQ(out[i].intact, expected);
    }
    // Checked in ascending order, each checkable file once, nothing outside the volume read.
    EXPECT_TRUE(std::is_sorted(checked_.begin(), checked_.end()));
    EXPECT_EQ(checked_.size(), 600u);
    EXPECT_TRUE(std::is_sorted(reader_->offsets.begin(), reader_->offsets.end()));
    for (const uint64_t offset : reader_->offsets) {
        EXPECT_GE(offset, 1000u * kSector);
        EXPECT_LT(offset, 40000u * kSector);
    }
    // The first sectors lie 10 KiB apart, more than a page: each is read alone, one sector.
    static_assert(20 * kSector > ContentCheckQueue::kMergeGapBytes);
    EXPECT_EQ(queue.SourceReads(), 600u);
    EXPECT_EQ(reader_->calls, queue.SourceReads());
    for (const uint64_t size : reader_->sizes) EXPECT_EQ(size, kSector);
}

TEST_F(ContentCheckQueueTest, JoinsFirstSectorsOnlyAcrossGapsShorterThanAPage) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    // Two files on one sector, then gaps of 0, 6, 7 (joined) and 8 sectors (a page: not), and a
    // last file 100 sectors further.
    const std::vector<Emitted> out = Run(queue, {{"a.jpg", 3000, false},
                                                 {"b.jpg", 3000, false},
                                                 {"c.jpg", 3001, false},
                                                 {"d.jpg", 3008, false},
                                                 {"e.jpg", 3016, false},
                                                 {"f.jpg", 3025, false},
                                                 {"g.jpg", 3126, false}});
    ASSERT_EQ(out.size(), 7u);
    const std::vector<uint32_t> intact = {1, 1, 0, 0, 0, 0, 1};
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].intact, intact[i]) << out[i].name;
    EXPECT_EQ((std::vector<uint64_t>{3000 * kSector, 3025 * kSector, 3126 * kSector}),
              reader_->offsets);
    EXPECT_EQ((std::vector<uint64_t>{17 * kSector, kSector, kSector}), reader_->sizes);
    EXPECT_EQ((std::vector<uint64_t>{3000, 3000, 3001, 3008, 3016, 3025, 3126}), checked_);
}

TEST_F(ContentCheckQueueTest, ADenseRunIsReadInBoundedPieces) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    // 3,000 one-cluster files of 4 sectors, back to back: 6,000 KiB of first sectors and gaps.
    std::vector<Queued> files;
    for (uint64_t i = 0; i < 3000; ++i) files.push_back({"f.jpg", 100 + i * 4, false});
    const std::vector<Emitted> out = Run(queue, files);
    ASSERT_EQ(out.size(), files.size());
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i].intact, files[i].sector % 3 == 0 ? 1u : 0u) << i;
    }
    uint64_t bytes = 0;
    for (const uint64_t size : reader_->sizes) {
        EXPECT_LE(size, ContentCheckQueue::kMaxReadBytes);
        bytes += size;
    }
    // As many files per read as its bound allows; nothing read twice, nothing past the last
    // first sector of a read.
    const uint64_t perRead = (ContentCheckQueue::kMaxReadBytes / kSector - 1) / 4 + 1;
    const uint64_t calls = (3000 + perRead - 1) / perRead;
    EXPECT_EQ(reader_->calls, calls);
    EXPECT_EQ(bytes, (3000 * 4 - 3 * calls) * kSector);
}

TEST_F(ContentCheckQueueTest, TheVolumesLastSectorIsCheckedAndNothingPastIt) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, 3003);
    const std::vector<Emitted> out = Run(
        queue, {{"last.jpg", 3002, false}, {"end.jpg", 3003, false}, {"prev.jpg", 2997, false}});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].intact, 0u);  // read: 3002 is not a multiple of 3
    EXPECT_EQ(out[1].intact, 1u);  // outside the volume: not read
    EXPECT_EQ(out[2].intact, 1u);
    EXPECT_EQ((std::vector<uint64_t>{2997, 3002}), checked_);
    ASSERT_EQ(reader_->calls, 1u);
    EXPECT_EQ(reader_->offsets[0] + reader_->sizes[0], 3003 * kSector);
}

TEST_F(ContentCheckQueueTest, FarApartSectorsAreReadAloneAndTheQueueEmptiesOnFlush) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    // Two files 10 MiB apart, queued in descending order.
    const std::vector<Emitted> out =
        Run(queue, {{"b.jpg", 30000, false}, {"a.jpg", 9000, false}});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "b.jpg");
    EXPECT_EQ(out[0].intact, 1u);  // 30000 is a multiple of 3
    EXPECT_EQ(out[1].intact, 1u);
    EXPECT_EQ((std::vector<uint64_t>{9000, 30000}), checked_);
    EXPECT_EQ(reader_->calls, 2u);
    EXPECT_TRUE(queue.Empty());
    // A second flush hands on nothing again.
    EXPECT_TRUE(Run(queue, {}).empty());
}

TEST_F(ContentCheckQueueTest, ABadSectorCostsOnlyTheFilesItHolds) {
    // Every read from sector 2000 on fails.
    Open(2000 * kSector);
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    const std::vector<Emitted> out = Run(queue, {{"a.jpg", 1994, false},
                                                 {"b.jpg", 1995, false},
                                                 {"c.jpg", 2003, false},
                                                 {"d.jpg", 2005, false}});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].intact, 0u);  // read and checked: 1994 is not a multiple of 3
    EXPECT_EQ(out[1].intact, 1u);  // read and checked
    // Beyond the fault: each tried alone, unreadable, so no evidence of damage.
    EXPECT_EQ(out[2].intact, 1u);
    EXPECT_EQ(out[3].intact, 1u);
    EXPECT_EQ((std::vector<uint64_t>{1994, 1995}), checked_);
}

// A file whose first cluster is guessed: the places it may begin at (key = sector + 1), tried
// in turn.
struct Guessed {
    std::string name;
    std::vector<uint64_t> places;
    uint32_t fallbackKey;
    std::optional<uint64_t> fallbackSector;
};

struct Result {
    uint32_t key;
    uint32_t intact;
    bool operator==(const Result&) const = default;
};

class GuessQueueTest : public ContentCheckQueueTest {
  protected:
    // Queues the files (guessed ones, and plain checks where `places` holds one sector and
    // the fallback key is 0) and flushes; the results in queue order.
    std::vector<Result> Flush(ContentCheckQueue& queue, const std::vector<Guessed>& files) {
        for (const Guessed& f : files) {
            FoundRecord r = EmptyRecord();
            r.SetName(f.name);
            const std::string extension = f.name.substr(f.name.rfind('.') + 1);
            if (f.fallbackKey == 0) {
                r.key = static_cast<uint32_t>(f.places[0] + 1);
                queue.AddToCheck(r, 0, f.places[0], extension);
                continue;
            }
            std::vector<ContentCheckQueue::Place> places;
            for (const uint64_t s : f.places) places.push_back({s, static_cast<uint32_t>(s + 1)});
            queue.AddToGuess(r, 0, places, extension, f.fallbackKey, f.fallbackSector);
        }
        std::vector<Result> out;
        queue.Flush(
            [&](std::span<const std::byte> bytes, std::string_view, uint64_t sector) {
                checked_.push_back(sector);
                return bytes[0] == std::byte{0xFF};
            },
            [&](const FoundRecord& r, uint64_t) { out.push_back({r.key, r.contentIntact}); });
        return out;
    }
};

TEST_F(GuessQueueTest, TheFirstPlaceThatMatchesWinsAndTheSearchEndsAtAnUnreadablePlace) {
    Open(5000 * kSector);  // every sector from 5000 on fails
    ContentCheckQueue queue(source_, kSector, 0, 6000);
    const std::vector<Result> out =
        Flush(queue, {// Found at its second place; its third is never read.
                      {"a.jpg", {4, 6, 9}, 77, 4},
                      // Not found: the fallback key and the verdict of its first place, which
                      // is not read a second time.
                      {"b.JPG", {4, 7, 8}, 78, 4},
                      // An unreadable place ends the search: 12 would match but is not tried;
                      // no fallback sector, so nothing says it is damaged.
                      {"c.jpg", {10, 5001, 12}, 79, std::nullopt},
                      // A place outside the volume ends it too; the fallback is checked.
                      {"d.jpg", {13, 7000, 15}, 80, 14},
                      // The fallback sector is unreadable: no evidence of damage.
                      {"e.jpg", {5003, 30}, 81, 5003},
                      // An extension no recogniser knows: the check decides the places (it is
                      // the caller's), the fallback is intact without a read.
                      {"f.xyz", {16, 17}, 82, 16}});
    EXPECT_EQ(out, (std::vector<Result>{
                       {7, 1}, {78, 0}, {79, 1}, {80, 0}, {81, 1}, {82, 1}}));
    std::sort(checked_.begin(), checked_.end());
    EXPECT_EQ(checked_, (std::vector<uint64_t>{4, 4, 6, 7, 8, 10, 13, 14, 16, 17}));
}

TEST_F(GuessQueueTest, VerdictsAndKeysAreThoseOfTryingEachFileWhenMet) {
    const uint64_t fault = 52000;
    Open(fault * kSector);
    const uint64_t first = 500;
    const uint64_t end = 58000;
    ContentCheckQueue queue(source_, kSector, first, end);
    std::mt19937 random(33);
    auto sector = [&] { return std::uniform_int_distribution<uint64_t>(0, 60000)(random); };
    std::vector<Guessed> files;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = std::to_string(i) + (i % 7 == 0 ? ".txt" : i % 2 ? ".JPG" : ".jpg");
        if (i % 5 == 0) {
            files.push_back({name, {sector()}, 0, std::nullopt});
            continue;
        }
        Guessed f{name, {}, static_cast<uint32_t>(100000 + i), std::nullopt};
        const int count = std::uniform_int_distribution<int>(1, 17)(random);
        for (int n = 0; n < count; ++n) f.places.push_back(sector());
        const int fallback = std::uniform_int_distribution<int>(0, 9)(random);
        if (fallback < 7) f.fallbackSector = f.places[0];
        if (fallback == 7) f.fallbackSector = sector();
        files.push_back(f);
    }
    const std::vector<Result> out = Flush(queue, files);

    // Each file tried on its own, in the order it was met.
    auto readable = [&](uint64_t s) { return s >= first && s < end && s < fault; };
    auto matches = [](uint64_t s) { return s % 3 == 0; };
    auto plain = [&](const std::string& name, uint64_t s) -> uint32_t {
        const bool known = name.find(".txt") == std::string::npos;
        return known && readable(s) && !matches(s) ? 0 : 1;
    };
    uint64_t tried = 0;
    ASSERT_EQ(out.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const Guessed& f = files[i];
        Result expected{f.fallbackKey, 1};
        if (f.fallbackKey == 0) {
            expected = {static_cast<uint32_t>(f.places[0] + 1), plain(f.name, f.places[0])};
            tried += readable(f.places[0]) && f.name.find(".txt") == std::string::npos;
        } else {
            bool found = false;
            for (const uint64_t s : f.places) {
                if (!readable(s)) break;
                ++tried;
                if (matches(s)) {
                    expected = {static_cast<uint32_t>(s + 1), 1};
                    found = true;
                    break;
                }
            }
            if (!found && f.fallbackSector) {
                expected.intact = plain(f.name, *f.fallbackSector);
                tried += readable(*f.fallbackSector) && f.name.find(".txt") == std::string::npos;
            }
        }
        ASSERT_EQ(out[i], expected) << f.name;
    }
    // No more checks than trying each file when met makes: a fallback at the first place costs
    // no second check.
    EXPECT_LE(checked_.size(), tried);
}

TEST_F(ContentCheckQueueTest, FillsUpAtItsBound) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    FoundRecord r = EmptyRecord();
    r.SetName("x.jpg");
    for (size_t i = 0; i + 1 < ContentCheckQueue::kMaxFiles; ++i) queue.AddToCheck(r, 0, i, "jpg");
    EXPECT_FALSE(queue.Full());
    queue.AddDecided(r, 0);
    EXPECT_TRUE(queue.Full());

    // Guessed files fill it by their places too.
    ContentCheckQueue guesses(source_, kSector, 0, kSectors);
    const std::vector<ContentCheckQueue::Place> places(257, {3, 4});
    size_t added = 0;
    while (!guesses.Full()) {
        guesses.AddToGuess(r, 0, places, "jpg", 1, std::nullopt);
        ++added;
    }
    EXPECT_EQ(added, (ContentCheckQueue::kMaxPlaces + 256) / 257);
    EXPECT_LT(added, ContentCheckQueue::kMaxFiles);
}

}  // namespace
}  // namespace keltra
