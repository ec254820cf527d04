// Thousands of randomly damaged copies of a small NTFS volume, kept in memory: random bytes
// over MFT records and anywhere else, run lists pointing past the end, an attribute list that
// loops, truncated images. Scanning, listing, previewing, recovering and the free-range walk
// must end on every one of them without a crash (the sanitizer build checks the memory).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "engines/ntfs/quick_ntfs_scan.h"
#include "platform/little_endian.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

struct Patch {
    uint64_t offset;
    std::vector<std::byte> bytes;
};

// The base image with patches laid over it, cut at `length`.
class DamagedReader : public SectorReader {
  public:
    DamagedReader(std::shared_ptr<const std::vector<std::byte>> base, std::vector<Patch> patches,
                  uint64_t length)
        : base_(std::move(base)), patches_(std::move(patches)), length_(length) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= length_) return kOk;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length_ - offset));
        std::memcpy(buffer.data(), base_->data() + offset, n);
        for (const Patch& p : patches_) {
            const uint64_t from = std::max(p.offset, offset);
            const uint64_t to = std::min(p.offset + p.bytes.size(), offset + n);
            if (from >= to) continue;
            std::memcpy(buffer.data() + (from - offset), p.bytes.data() + (from - p.offset),
                        static_cast<size_t>(to - from));
        }
        done = n;
        return kOk;
    }

  private:
    std::shared_ptr<const std::vector<std::byte>> base_;
    std::vector<Patch> patches_;
    uint64_t length_;
};

std::vector<std::byte> RandomBytes(std::mt19937_64& rng, size_t n) {
    std::vector<std::byte> out(n);
    for (auto& b : out) b = static_cast<std::byte>(rng());
    return out;
}

// Walks the whole tree, previews every file into a small buffer and recovers the small ones.
void UseEverything(QuickNtfsScan& engine, const std::string& out) {
    std::vector<std::pair<FoundRecord, int>> folders;
    std::vector<FoundRecord> children;
    engine.ListFolder(nullptr, 0, children);
    std::vector<std::byte> buffer(65536);
    size_t visited = 0;
    int copied = 0;
    auto use = [&](const std::vector<FoundRecord>& list, int depth) {
        for (const FoundRecord& r : list) {
            if (++visited > 2000) return;
            if (r.isFolder != 0) {
                if (depth < 16) folders.push_back({r, depth + 1});
                continue;
            }
            std::string temp;
            uint32_t size = static_cast<uint32_t>(buffer.size());
            engine.ReadRecordData(r, temp, buffer, size, nullptr, nullptr);
            ASSERT_LE(size, buffer.size());
            if (r.size < 256 * 1024 && copied++ < 8) {
                engine.RecoverRecord(r, out + "/f" + std::to_string(copied), 0);
            }
        }
    };
    use(children, 0);
    while (!folders.empty() && visited <= 2000) {
        const auto [folder, depth] = folders.back();
        folders.pop_back();
        children.clear();
        engine.ListFolder(&folder, depth, children);
        use(children, depth);
    }
    uint32_t count = 0;
    engine.CountFolderFiles(nullptr, 0, count);
    std::vector<FoundRecord> found;
    engine.FindByExtensions("*.bin|*.txt|*.jpg|", found);
}

void WalkFreeRanges(QuickNtfsScan& engine, uint64_t sectors) {
    if (engine.LoadVolumeBitmap() != kOk) return;
    uint64_t position = 0;
    for (int steps = 0; steps < 100000; ++steps) {
        uint64_t length = 0;
        const uint64_t before = position;
        engine.NextFreeRange(position, length);
        ASSERT_GE(position, std::min(before, sectors));
        ASSERT_LE(position + length, std::max(sectors, position));
        if (length == 0) return;
        position += length;
    }
    FAIL() << "the free ranges never ended";
}

TEST(NtfsDamagedVolumes, NeverCrashOrHang) {
    const auto image = std::make_shared<const std::vector<std::byte>>(
        test::ReadWholeFile(test::FixturePath("ntfs_small.img")));
    ASSERT_GT(image->size(), 1024u * 1024);
    const uint64_t clusterBytes = 512 * Byte(*image, 13);
    const uint64_t mft = Le64(*image, 48) * clusterBytes;
    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    std::mt19937_64 rng(20261207);
    int scanned = 0;
    int withRecords = 0;
    for (int round = 0; round < 2500; ++round) {
        std::vector<Patch> patches;
        uint64_t length = image->size();
        switch (round % 6) {
            case 0:  // random bytes over a few MFT records
                for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k) {
                    const uint64_t at = mft + (rng() % 80) * 1024 + rng() % 1024;
                    patches.push_back({at, RandomBytes(rng, 1 + rng() % 256)});
                }
                break;
            case 1:  // single bytes changed inside the records of the files and folders
                for (int k = 0; k < 1 + static_cast<int>(rng() % 16); ++k) {
                    const uint64_t at = mft + (64 + rng() % 8) * 1024 + rng() % 1024;
                    patches.push_back({at, RandomBytes(rng, 1)});
                }
                break;
            case 2:  // a truncated image
                length = rng() % image->size();
                break;
            case 3: {  // the $MFT's or $Bitmap's run list pointing far past the end
                const uint64_t record = mft + (rng() % 2 == 0 ? 0 : 6 * 1024);
                for (uint64_t off = 56; off + 72 < 1024; off += 8) {
                    if (Le32(*image, record + off) == 0x80) {
                        const uint64_t runs = record + off + Le16(*image, record + off + 32);
                        auto bytes = RandomBytes(rng, 12);
                        bytes[0] = std::byte{0x44};
                        bytes[9] = std::byte{0};
                        patches.push_back({runs, bytes});
                        break;
                    }
                }
                break;
            }
            case 4: {  // an attribute list in a file's record that names itself over and over
                const uint64_t record = mft + (64 + rng() % 5) * 1024;
                std::vector<std::byte> list(24 + 8 * 32);
                StoreLE<uint32_t>(list, 0, 0x20);
                StoreLE<uint32_t>(list, 4, static_cast<uint32_t>(list.size()));
                StoreLE<uint32_t>(list, 16, 8 * 32);
                StoreLE<uint16_t>(list, 20, 24);
                for (int e = 0; e < 8; ++e) {
                    const size_t at = 24 + e * 32;
                    StoreLE<uint32_t>(list, at, e % 2 == 0 ? 0x80 : 0x30);
                    StoreLE<uint16_t>(list, at + 4, 32);
                    StoreLE<uint64_t>(list, at + 8, rng() % 3);
                    StoreLE<uint64_t>(list, at + 16, 64 + rng() % 5);
                }
                patches.push_back({record + 0x98, list});
                break;
            }
            default:  // random bytes anywhere
                for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k) {
                    const uint64_t at = rng() % image->size();
                    patches.push_back({at, RandomBytes(rng, 1 + rng() % 512)});
                }
                break;
        }
        SectorSource source;
        OpenReaderSource(source, std::make_unique<DamagedReader>(image, patches, length),
                         length / 512);
        QuickNtfsScan engine;
        const uint64_t sectors = length / 512;
        if (engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1) != kOk) continue;
        const std::string logs = scratch / ("logs" + std::to_string(round));
        engine.SetLogFolder(logs);
        engine.Scan(std::nullopt);
        ++scanned;
        if (engine.GetRecordCount() > 0) ++withRecords;
        const std::string out = scratch / ("out" + std::to_string(round));
        fs::create_directories(out);
        UseEverything(engine, out);
        WalkFreeRanges(engine, sectors);
        if (HasFatalFailure()) FAIL() << "round " << round;
        fs::remove_all(logs);
        fs::remove_all(out);
    }
    EXPECT_GT(scanned, 1500);
    EXPECT_GT(withRecords, 1000) << "most damage leaves something to find";
}

}  // namespace
}  // namespace keltra
