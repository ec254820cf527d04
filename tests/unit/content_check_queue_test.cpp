// The content checks of a quick scan made in disk order: the files come out in the order they
// were queued with the verdicts checking each one at once would give, while the source is read
// in ascending order in a few joint reads.
#include "engines/content_check_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
    // The first sectors lie closer than the join gap: reads of at most 1 MiB each (2,048
    // sectors, 103 files), not one per file.
    static_assert(20 * kSector < ContentCheckQueue::kMergeGapBytes);
    const uint64_t perRead = (ContentCheckQueue::kMaxReadBytes / kSector - 1) / 20 + 1;
    EXPECT_EQ(queue.SourceReads(), (600 + perRead - 1) / perRead);
    EXPECT_EQ(reader_->calls, queue.SourceReads());
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

TEST_F(ContentCheckQueueTest, FillsUpAtItsBound) {
    Open();
    ContentCheckQueue queue(source_, kSector, 0, kSectors);
    FoundRecord r = EmptyRecord();
    r.SetName("x.jpg");
    for (size_t i = 0; i + 1 < ContentCheckQueue::kMaxFiles; ++i) queue.AddToCheck(r, 0, i, "jpg");
    EXPECT_FALSE(queue.Full());
    queue.AddDecided(r, 0);
    EXPECT_TRUE(queue.Full());
}

}  // namespace
}  // namespace keltra
