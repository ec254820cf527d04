// Hundreds of randomly damaged copies of a small NTFS volume without its boot sectors, kept in
// memory, each searched by the deep NTFS search through a whole pass: random bytes over MFT
// records, stray FILE records anywhere, $MFT run lists pointing past the end, folder chains
// that loop, truncated images. The pass, the folders, listing, preview and recovery must end
// on every copy without a crash and in bounded time (the sanitizer build checks the memory).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>

#include "engines/ntfs/deep_ntfs_search.h"
#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/ntfs_record_pass.h"
#include "support/test_support.h"

namespace keltra {
namespace {

void Scribble(std::vector<std::byte>& image, std::mt19937_64& rng, uint64_t at, size_t n) {
    for (size_t i = 0; i < n && at + i < image.size(); ++i) {
        image[at + i] = static_cast<std::byte>(rng());
    }
}

// A FILE record header that passes the deep scan's test, over random contents.
void StrayRecord(std::vector<std::byte>& image, std::mt19937_64& rng, uint64_t at) {
    if (at + 1024 > image.size()) return;
    Scribble(image, rng, at, 1024);
    std::memcpy(image.data() + at, "FILE", 4);
    StoreLE<uint16_t>(image, at + 20, static_cast<uint16_t>(rng() % 80));
    StoreLE<uint16_t>(image, at + 22, 0);
    StoreLE<uint32_t>(image, at + 24, static_cast<uint32_t>(rng() % 1100));
    StoreLE<uint32_t>(image, at + 28, 1024);
    StoreLE<uint32_t>(image, at + 32, 0);
    StoreLE<uint32_t>(image, at + 44, static_cast<uint32_t>(rng() % 4 == 0 ? 0 : rng() % 200));
    std::memcpy(image.data() + at + 510, image.data() + at + 48, 2);
}

TEST(DeepNtfsDamagedVolumes, NeverCrashOrHang) {
    auto base = test::ReadWholeFile(test::FixturePath("ntfs_small.img"));
    ASSERT_GT(base.size(), 1024u * 1024);
    const uint64_t mft = Le64(base, 48) * 512 * Byte(base, 13);
    const uint64_t backup = Le64(base, 40) * 512;
    std::memset(base.data(), 0, 512);
    if (backup + 512 <= base.size()) std::memset(base.data() + backup, 0, 512);

    test::ScopedAppDataFolder appData;
    test::ScratchDir scratch;
    std::mt19937_64 rng(20261207);
    const auto started = std::chrono::steady_clock::now();
    uint64_t listed = 0;
    for (int round = 0; round < 240; ++round) {
        auto image = base;
        switch (round % 6) {
            case 0:  // random bytes over a few MFT records
                for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k) {
                    Scribble(image, rng, mft + (rng() % 64) * 1024 + rng() % 1024, 1 + rng() % 256);
                }
                break;
            case 1:  // single bytes changed inside the records of $MFT, files and folders
                for (int k = 0; k < 1 + static_cast<int>(rng() % 16); ++k) {
                    const uint64_t record = rng() % 3 == 0 ? 0 : 16 + rng() % 32;
                    Scribble(image, rng, mft + record * 1024 + rng() % 1024, 1);
                }
                break;
            case 2:  // a truncated image
                image.resize(512 + rng() % image.size());
                break;
            case 3: {  // the $MFT's run list pointing anywhere, far past the end included
                for (uint64_t off = 56; off + 72 < 1024; off += 8) {
                    if (Le32(image, mft + off) != 0x80) continue;
                    const uint64_t runs = mft + off + Le16(image, mft + off + 32);
                    Scribble(image, rng, runs, 12);
                    image[runs] = std::byte{static_cast<uint8_t>(0x11 + 0x11 * (rng() % 4))};
                    break;
                }
                break;
            }
            case 4:  // stray FILE records anywhere, some claiming to be record 0
                for (int k = 0; k < 1 + static_cast<int>(rng() % 12); ++k) {
                    StrayRecord(image, rng, (rng() % (image.size() / 512)) * 512);
                }
                break;
            case 5:  // folder chains that loop: parents of the records' names changed
                for (uint64_t n = 16; n < 64; ++n) {
                    const uint64_t r = mft + n * 1024;
                    for (uint64_t off = 56; off + 32 < 1024; off += 8) {
                        if (Le32(image, r + off) == 0x30 && rng() % 2 == 0) {
                            StoreLE<uint32_t>(image, r + off + 24,
                                              static_cast<uint32_t>(rng() % 70));
                        }
                    }
                }
                break;
        }
        const uint64_t sectors = image.size() / 512;
        SectorSource source;
        OpenReaderSource(source, std::make_unique<test::MemoryReader>(image), sectors);
        SectorSource pass;
        OpenReaderSource(pass, std::make_unique<test::MemoryReader>(image), sectors);
        DeepNtfsSearch engine;
        const Status opened = engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1);
        if (opened != kOk) continue;
        engine.SetLogFolder(scratch / ("logs" + std::to_string(round)));
        ASSERT_EQ(engine.OpenLog(std::nullopt), kOk);
        test::RunNtfsRecordPass(engine, pass, 0, sectors);
        const auto tree = test::ListTree(engine);
        listed += tree.size();
        std::vector<std::byte> buffer(65536);
        int copied = 0;
        for (const auto& [path, l] : tree) {
            if (l.record.isFolder != 0) continue;
            std::string temp;
            uint32_t size = static_cast<uint32_t>(buffer.size());
            engine.ReadRecordData(l.record, temp, buffer, size, nullptr, nullptr);
            ASSERT_LE(size, buffer.size());
            engine.FirstDataSector(l.record);
            if (l.record.size < 256 * 1024 && copied++ < 4) {
                engine.RecoverRecord(
                    l.record,
                    scratch / ("out/" + std::to_string(round) + "f" + std::to_string(copied)), 0);
            }
        }
    }
    EXPECT_GT(listed, 240u) << "most copies still list files";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(3));
}

}  // namespace
}  // namespace keltra
