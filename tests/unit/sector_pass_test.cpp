#include "engines/deep/sector_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "support/test_support.h"

namespace keltra {
namespace {

constexpr int kSector = 512;
constexpr uint64_t kChunk = 128;  // sectors of 512 bytes in 64 KiB

// Every sector holds its own number in its first 8 bytes.
std::vector<std::byte> NumberedSectors(uint64_t count) {
    std::vector<std::byte> bytes(count * kSector);
    for (uint64_t s = 0; s < count; ++s) std::memcpy(&bytes[s * kSector], &s, sizeof s);
    return bytes;
}

uint64_t SectorNumberAt(std::span<const std::byte> sectors, size_t index) {
    uint64_t n = 0;
    std::memcpy(&n, &sectors[index * kSector], sizeof n);
    return n;
}

// A mark made of a sector's contents, so that a mark handed out with another sector shows.
uint8_t MarkOf(uint64_t sectorNumber) {
    return static_cast<uint8_t>(sectorNumber * 7 + 1);
}

void MarkByNumber(std::span<const std::byte> sectors, std::span<uint8_t> marks) {
    ASSERT_EQ(marks.size(), sectors.size() / kSector);
    for (size_t i = 0; i < marks.size(); ++i) {
        ASSERT_EQ(marks[i], 0) << "marks start cleared";
        marks[i] = MarkOf(SectorNumberAt(sectors, i));
    }
}

// Every sector of a chunk came with its own mark.
void ExpectOwnMarks(std::span<const std::byte> sectors, std::span<const uint8_t> marks) {
    ASSERT_EQ(marks.size(), sectors.size() / kSector);
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(marks[i], MarkOf(SectorNumberAt(sectors, i))) << i;
    }
}

struct SeenChunk {
    uint64_t firstSector;
    size_t sectors;
    bool operator==(const SeenChunk&) const = default;
};

// The chunks a plain single-threaded loop examines for a run, with the examiner's skips.
std::vector<SeenChunk> PlainLoop(uint64_t first, uint64_t length, uint64_t offset,
                                 uint64_t sourceSectors,
                                 const std::function<uint64_t(uint64_t)>& skipAt) {
    std::vector<SeenChunk> seen;
    while (offset < length) {
        const uint64_t chunk = std::min(kChunk, length - offset);
        const uint64_t lba = first + offset;
        const uint64_t readable = lba >= sourceSectors ? 0 : std::min(chunk, sourceSectors - lba);
        uint64_t skip = 0;
        if (readable > 0) {
            seen.push_back({lba, readable});
            skip = skipAt(lba);
        }
        offset += chunk + skip;
    }
    return seen;
}

// A reader that counts its reads and may take its time over each.
class CountingReader : public SectorReader {
  public:
    CountingReader(std::vector<std::byte> bytes, std::chrono::milliseconds delay,
                   std::atomic<int>& reads)
        : inner_(std::move(bytes)), delay_(delay), reads_(reads) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        ++reads_;
        std::this_thread::sleep_for(delay_);
        return inner_.ReadAt(offset, buffer, done);
    }

  private:
    test::MemoryReader inner_;
    std::chrono::milliseconds delay_;
    std::atomic<int>& reads_;
};

class SectorPassSources : public testing::TestWithParam<bool> {};

// From memory, and from an image file.
TEST_P(SectorPassSources, ChunksArriveInOrderWithSkipsAsAPlainLoopWouldSeeThem) {
    constexpr uint64_t kSectors = 5000;
    test::ScratchDir dir;
    SectorSource source;
    if (GetParam()) {
        test::WriteWholeFile(dir / "image.img", NumberedSectors(kSectors));
        ASSERT_EQ(OpenImageSource(source, dir / "image.img"), kOk);
    } else {
        OpenReaderSource(source, std::make_unique<test::MemoryReader>(NumberedSectors(kSectors)),
                         kSectors);
    }
    // Skips of every size: none, inside the next chunk, over several chunks, to past the end.
    const auto skipAt = [](uint64_t lba) -> uint64_t {
        switch ((lba / 7) % 5) {
            case 0:
                return 0;
            case 1:
                return 3;
            case 2:
                return 200;
            case 3:
                return 1;
            default:
                return 0;
        }
    };
    const uint64_t first = 17, length = 4500;
    std::vector<SeenChunk> seen;
    std::vector<uint64_t> progressSeen;
    SectorPass pass(source, kSector);
    const auto outcome = pass.Run(
        {first, length, 0}, {0, length},
        [&](std::span<const std::byte> sectors, std::span<const uint8_t>, uint64_t lba) {
            seen.push_back({lba, sectors.size() / kSector});
            for (size_t i = 0; i < sectors.size() / kSector; ++i) {
                EXPECT_EQ(SectorNumberAt(sectors, i), lba + i);
            }
            return ChunkVerdict{skipAt(lba), kOk};
        },
        [&](uint64_t done, uint64_t total) {
            EXPECT_EQ(total, length);
            progressSeen.push_back(done);
            return kOk;
        });
    EXPECT_EQ(outcome.status, kOk);
    EXPECT_EQ(outcome.offset, length);
    EXPECT_EQ(outcome.sectorsDone, length) << "skips count as done, never beyond the run";
    EXPECT_EQ(seen, PlainLoop(first, length, 0, kSectors, skipAt));
    EXPECT_GT(seen.size(), 10u);
    EXPECT_EQ(progressSeen.size(), seen.size()) << "one progress call per chunk";
    EXPECT_TRUE(std::is_sorted(progressSeen.begin(), progressSeen.end()));

    // A skip that reaches past the run's end ends the run at once.
    seen.clear();
    const auto last = pass.Run(
        {0, 1000, 0}, {0, 1000},
        [&](std::span<const std::byte> sectors, std::span<const uint8_t>, uint64_t lba) {
            seen.push_back({lba, sectors.size() / kSector});
            return ChunkVerdict{5000, kOk};
        },
        nullptr);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(last.offset, 1000u);
    EXPECT_EQ(last.sectorsDone, 1000u);
}

INSTANTIATE_TEST_SUITE_P(SectorPass, SectorPassSources, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "ImageFile" : "Memory";
                         });

TEST(SectorPass, FailedReadsAreReadAgainSectorBySectorAndCounted) {
    constexpr uint64_t kSectors = 1000;
    SectorSource source;
    // Bytes from sector 300 on fail; the source also claims more sectors than it has.
    OpenReaderSource(source,
                     std::make_unique<test::MemoryReader>(NumberedSectors(kSectors), 300 * kSector),
                     kSectors);
    std::vector<SeenChunk> seen;
    SectorPass pass(source, kSector);
    // The run passes the source's end (a partition table that claims too much).
    const auto outcome = pass.Run(
        {0, 1200, 0}, {0, 1200},
        [&](std::span<const std::byte> sectors, std::span<const uint8_t>, uint64_t lba) {
            seen.push_back({lba, sectors.size() / kSector});
            return ChunkVerdict{};
        },
        nullptr);
    EXPECT_EQ(outcome.status, kOk);
    EXPECT_EQ(outcome.sectorsDone, 1200u);
    // Every chunk of the source whole, its failed sectors as zeros; nothing past its end.
    EXPECT_EQ(seen, (std::vector<SeenChunk>{{0, 128},
                                            {128, 128},
                                            {256, 128},
                                            {384, 128},
                                            {512, 128},
                                            {640, 128},
                                            {768, 128},
                                            {896, 104}}));
    EXPECT_EQ(outcome.unreadableSectors, 700u);
}

// Numbered sectors whose reads fail where they touch one of the bad ranges (first sector,
// count); counts the reads that touched one.
class BadRangesReader : public SectorReader {
  public:
    BadRangesReader(uint64_t sectors, std::vector<std::pair<uint64_t, uint64_t>> bad,
                    std::atomic<int>& badReads)
        : inner_(NumberedSectors(sectors)), bad_(std::move(bad)), badReads_(badReads) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        const uint64_t first = offset / kSector, end = (offset + buffer.size()) / kSector;
        for (const auto& [start, count] : bad_) {
            if (first < start + count && start < end) {
                ++badReads_;
                done = 0;
                return kErrReadFault;
            }
        }
        return inner_.ReadAt(offset, buffer, done);
    }

  private:
    test::MemoryReader inner_;
    std::vector<std::pair<uint64_t, uint64_t>> bad_;
    std::atomic<int>& badReads_;
};

// What a whole pass saw: each sector's number as read (a zeroed sector reads as 0).
struct SeenSectors {
    std::vector<uint64_t> numbers;
    SectorPassOutcome outcome;
};

SeenSectors PassOver(uint64_t sectors, const std::vector<std::pair<uint64_t, uint64_t>>& bad,
                     std::atomic<int>& badReads) {
    SectorSource source;
    OpenReaderSource(source, std::make_unique<BadRangesReader>(sectors, bad, badReads), sectors);
    SectorPass pass(source, kSector);
    SeenSectors seen;
    seen.numbers.assign(sectors, UINT64_MAX);
    seen.outcome = pass.Run(
        {0, sectors, 0}, {0, sectors},
        [&](std::span<const std::byte> chunk, std::span<const uint8_t>, uint64_t lba) {
            for (size_t i = 0; i < chunk.size() / kSector; ++i) {
                seen.numbers[lba + i] = SectorNumberAt(chunk, i);
            }
            return ChunkVerdict{};
        },
        nullptr);
    return seen;
}

// A bad sector here and there costs only itself, even one 4 KiB physical sector (8 logical
// ones) in a row; a large bad area is skipped over in growing steps, with a few dozen reads
// instead of one per sector, and the pass reads on normally behind it.
TEST(SectorPass, SkipsAheadOverBadAreasButReadsAroundSingleBadSectors) {
    constexpr uint64_t kSectors = 131072;  // 64 MiB
    {
        std::atomic<int> badReads{0};
        const std::vector<std::pair<uint64_t, uint64_t>> bad{{1000, 1}, {5003, 8}, {20000, 1}};
        const SeenSectors seen = PassOver(kSectors, bad, badReads);
        EXPECT_EQ(seen.outcome.status, kOk);
        EXPECT_EQ(seen.outcome.unreadableSectors, 10u);
        for (uint64_t s = 0; s < kSectors; ++s) {
            const bool isBad = s == 1000 || (s >= 5003 && s < 5011) || s == 20000;
            ASSERT_EQ(seen.numbers[s], isBad ? 0 : s) << "sector " << s;
        }
    }
    // 1 MiB of bad sectors from sector 10050.
    constexpr uint64_t kBadStart = 10050, kBadCount = 2048;
    std::atomic<int> badReads{0};
    const SeenSectors seen = PassOver(kSectors, {{kBadStart, kBadCount}}, badReads);
    EXPECT_EQ(seen.outcome.status, kOk);
    EXPECT_LT(badReads.load(), 100);
    // Everything before the area was read; what was passed over behind it is at most the
    // area's own length again; everything after that was read.
    uint64_t lastZero = 0;
    for (uint64_t s = 0; s < kSectors; ++s) {
        ASSERT_NE(seen.numbers[s], UINT64_MAX) << "sector " << s << " was not examined";
        if (s < kBadStart) {
            ASSERT_EQ(seen.numbers[s], s);
        } else if (s < kBadStart + kBadCount) {
            ASSERT_EQ(seen.numbers[s], 0u);
        }
        if (s > 0 && seen.numbers[s] == 0) lastZero = s;
    }
    EXPECT_LT(lastZero, kBadStart + 2 * kBadCount);
    EXPECT_EQ(seen.outcome.unreadableSectors, lastZero + 1 - kBadStart);
    for (uint64_t s = lastZero + 1; s < kSectors; ++s) ASSERT_EQ(seen.numbers[s], s);
}

// Reads of a source larger than several pieces: one read per piece where every read succeeds,
// whatever the examiner skips (small skips inside a piece, skips across a piece's end, skips
// over whole pieces); the chunks and their bytes exactly those of a plain loop, each sector
// with the mark made of it (also where a chunk joins two pieces).
TEST(SectorPass, ReadsWholePiecesAndStillHandsOutThePlainLoopsChunks) {
    constexpr uint64_t kPieceSectors = SectorPass::kPieceBytes / kSector;
    constexpr uint64_t kSectors = 40 * kPieceSectors + 300;
    std::atomic<int> reads{0};
    SectorSource source;
    OpenReaderSource(source,
                     std::make_unique<CountingReader>(NumberedSectors(kSectors),
                                                      std::chrono::milliseconds(0), reads),
                     kSectors);
    SectorPass pass(source, kSector, MarkByNumber);
    std::vector<SeenChunk> seen;
    const auto run = [&](uint64_t first, uint64_t length, const auto& skipAt) {
        seen.clear();
        reads = 0;
        return pass.Run(
            {first, length, 0}, {0, length},
            [&](std::span<const std::byte> sectors, std::span<const uint8_t> marks,
                uint64_t lba) {
                seen.push_back({lba, sectors.size() / kSector});
                ExpectOwnMarks(sectors, marks);
                for (size_t i = 0; i < sectors.size() / kSector; ++i) {
                    EXPECT_EQ(SectorNumberAt(sectors, i), lba + i);
                }
                return ChunkVerdict{skipAt(lba), kOk};
            },
            nullptr);
    };
    const auto none = [](uint64_t) -> uint64_t { return 0; };
    const uint64_t length = kSectors - 9;
    EXPECT_EQ(run(9, length, none).status, kOk);
    EXPECT_EQ(seen, PlainLoop(9, length, 0, kSectors, none));
    EXPECT_EQ(reads.load(), static_cast<int>((length + kPieceSectors - 1) / kPieceSectors));

    // Skips that leave the chunks off the pieces' grid, run across a piece's end, and jump over
    // more than a piece.
    const auto skips = [](uint64_t lba) -> uint64_t {
        if ((lba / kChunk) % 50 == 7) return kPieceSectors + 77;
        return (lba % 3) * 5;
    };
    EXPECT_EQ(run(9, length, skips).status, kOk);
    EXPECT_EQ(seen, PlainLoop(9, length, 0, kSectors, skips));
    EXPECT_LT(reads.load(), static_cast<int>(seen.size()) / 2);
}

// The marks are made by the reader right after its read, except when the examiner waits for
// that piece with nothing to do: then the examiner makes them itself. A slow source leaves the
// examiner waiting (it marks); a slow examiner leaves the reader ahead (it marks). Either way
// every sector comes with its own mark.
TEST(SectorPass, MarksAreMadeByWhicheverThreadWouldOtherwiseWait) {
    constexpr uint64_t kPieceSectors = SectorPass::kPieceBytes / kSector;
    constexpr uint64_t kSectors = 6 * kPieceSectors;
    for (const bool slowSource : {true, false}) {
        SCOPED_TRACE(slowSource);
        std::atomic<int> reads{0};
        SectorSource source;
        OpenReaderSource(source,
                         std::make_unique<CountingReader>(
                             NumberedSectors(kSectors),
                             std::chrono::milliseconds(slowSource ? 20 : 0), reads),
                         kSectors);
        std::mutex mutex;
        std::map<std::thread::id, int> markedBy;
        SectorPass pass(source, kSector,
                        [&](std::span<const std::byte> sectors, std::span<uint8_t> marks) {
                            MarkByNumber(sectors, marks);
                            std::lock_guard lock(mutex);
                            ++markedBy[std::this_thread::get_id()];
                        });
        const auto outcome = pass.Run(
            {0, kSectors, 0}, {0, kSectors},
            [&](std::span<const std::byte> sectors, std::span<const uint8_t> marks, uint64_t) {
                ExpectOwnMarks(sectors, marks);
                if (!slowSource) std::this_thread::sleep_for(std::chrono::milliseconds(25));
                return ChunkVerdict{};
            },
            nullptr);
        EXPECT_EQ(outcome.status, kOk);
        int total = 0;
        for (const auto& [thread, pieces] : markedBy) total += pieces;
        EXPECT_EQ(total, 6) << "each piece marked once";
        const int byExaminer = markedBy.count(std::this_thread::get_id()) != 0
                                   ? markedBy[std::this_thread::get_id()]
                                   : 0;
        if (slowSource) {
            EXPECT_GE(byExaminer, 5) << "the examiner waited for every piece but maybe the first";
        } else {
            // (Only the first piece can find the examiner waiting, unless the machine keeps the
            // reader from running for a whole piece's examination, 100 ms.)
            EXPECT_LE(byExaminer, 2) << "the reader was ahead for every piece but the first";
        }
    }
}

// Reads that fail inside a piece: that piece is read chunk by chunk, sector by sector around
// its bad sectors, the pieces around it whole; an examiner whose skips leave the chunk grid
// inside such an area still gets the plain loop's chunks, bad sectors as zeros (and marked as
// such), counted once.
TEST(SectorPass, APieceWithBadSectorsIsReadChunkByChunkAndTheRestWhole) {
    constexpr uint64_t kPieceSectors = SectorPass::kPieceBytes / kSector;
    constexpr uint64_t kSectors = 4 * kPieceSectors;
    const std::vector<std::pair<uint64_t, uint64_t>> bad{{kPieceSectors + 100, 1},
                                                         {kPieceSectors + 301, 3}};
    const auto isBad = [&](uint64_t s) {
        return std::any_of(bad.begin(), bad.end(), [&](const auto& b) {
            return s >= b.first && s < b.first + b.second;
        });
    };
    for (const uint64_t step : {uint64_t{0}, uint64_t{3}}) {
        SCOPED_TRACE(step);
        std::atomic<int> badReads{0};
        SectorSource source;
        OpenReaderSource(source, std::make_unique<BadRangesReader>(kSectors, bad, badReads),
                         kSectors);
        SectorPass pass(source, kSector, MarkByNumber);
        const auto skipAt = [&](uint64_t) { return step; };
        std::vector<SeenChunk> seen;
        uint64_t zeros = 0;
        const auto outcome = pass.Run(
            {0, kSectors, 0}, {0, kSectors},
            [&](std::span<const std::byte> sectors, std::span<const uint8_t> marks,
                uint64_t lba) {
                seen.push_back({lba, sectors.size() / kSector});
                ExpectOwnMarks(sectors, marks);
                for (size_t i = 0; i < sectors.size() / kSector; ++i) {
                    const bool zero = isBad(lba + i);
                    zeros += zero ? 1 : 0;
                    EXPECT_EQ(SectorNumberAt(sectors, i), zero ? 0 : lba + i) << lba + i;
                }
                return ChunkVerdict{skipAt(lba), kOk};
            },
            nullptr);
        EXPECT_EQ(outcome.status, kOk);
        EXPECT_EQ(seen, PlainLoop(0, kSectors, 0, kSectors, skipAt));
        EXPECT_EQ(outcome.unreadableSectors, zeros);
        if (step == 0) {
            EXPECT_EQ(zeros, 4u);
            // The failed whole read, the two failed chunk reads, the bad sectors' own reads.
            // (Off the grid, how many chunks read ahead are read again from where the examiner
            // stands depends on how far the reader had gone.)
            EXPECT_EQ(badReads.load(), 7);
        }
    }
}

TEST(SectorPass, ResumesAtTheOffsetAndReportsWhereItStopped) {
    constexpr uint64_t kSectors = 3000;
    SectorSource source;
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(NumberedSectors(kSectors)),
                     kSectors);
    SectorPass pass(source, kSector);
    std::vector<SeenChunk> seen;
    const auto examine = [&](std::span<const std::byte> sectors, std::span<const uint8_t>, uint64_t lba) {
        seen.push_back({lba, sectors.size() / kSector});
        return ChunkVerdict{};
    };
    // A first pass stopped by its progress hook after three chunks...
    int calls = 0;
    const auto first = pass.Run({100, 2000, 0}, {0, 2500}, examine, [&](uint64_t, uint64_t) {
        return ++calls == 3 ? kCancelled : kOk;
    });
    EXPECT_EQ(first.status, kCancelled);
    EXPECT_EQ(first.offset, 3 * kChunk);
    EXPECT_EQ(first.sectorsDone, 3 * kChunk);
    // ...is continued where it stopped, progress counted on from the saved value.
    seen.clear();
    const auto second =
        pass.Run({100, 2000, first.offset}, {first.sectorsDone + 500, 2500}, examine, nullptr);
    EXPECT_EQ(second.status, kOk);
    EXPECT_EQ(second.offset, 2000u);
    EXPECT_EQ(second.sectorsDone, 2500u);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().firstSector, 100 + 3 * kChunk);
    EXPECT_EQ(seen, PlainLoop(100, 2000, 3 * kChunk, kSectors, [](uint64_t) { return 0; }));

    // A finished run passes nothing.
    seen.clear();
    const auto done = pass.Run({100, 2000, 2000}, {2500, 2500}, examine, nullptr);
    EXPECT_EQ(done.status, kOk);
    EXPECT_TRUE(seen.empty());

    // The examiner can stop the pass too; the chunk it looked at counts as passed.
    const auto stopped = pass.Run(
        {0, 2000, 0}, {0, 2000},
        [](std::span<const std::byte>, std::span<const uint8_t>, uint64_t) {
            return ChunkVerdict{0, kCancelled};
        },
        nullptr);
    EXPECT_EQ(stopped.status, kCancelled);
    EXPECT_EQ(stopped.offset, kChunk);
}

TEST(SectorPass, CancelStopsTheReaderPromptly) {
    constexpr uint64_t kSectors = 128 * 1000;  // 64 MiB claimed; reads are slow
    std::atomic<int> reads{0};
    SectorSource source;
    OpenReaderSource(source,
                     std::make_unique<CountingReader>(NumberedSectors(128 * 20),
                                                      std::chrono::milliseconds(20), reads),
                     kSectors);
    SectorPass pass(source, kSector);
    int chunks = 0;
    const auto started = std::chrono::steady_clock::now();
    const auto outcome = pass.Run(
        {0, kSectors, 0}, {0, kSectors},
        [&](std::span<const std::byte>, std::span<const uint8_t>, uint64_t) {
            ++chunks;
            return ChunkVerdict{};
        },
        [&](uint64_t, uint64_t) { return chunks == 5 ? kCancelled : kOk; });
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(outcome.status, kCancelled);
    EXPECT_EQ(outcome.offset, 5 * kChunk);
    // Run returns with its reader stopped: at most the ring and the read under way beyond
    // the chunks examined, and no read after it has returned.
    const int readsAtReturn = reads.load();
    // The source has fewer bytes than it claims: the first piece's whole read fails (two
    // calls), then the pass goes chunk by chunk.
    EXPECT_LE(readsAtReturn, 2 + 5 + static_cast<int>(SectorPass::kRingBuffers) + 1);
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(reads.load(), readsAtReturn);
}

}  // namespace
}  // namespace keltra
