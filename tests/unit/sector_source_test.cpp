#include "storage/sector_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "storage/sector_read_cache.h"
#include "support/test_support.h"

namespace keltra {
namespace {

std::vector<std::byte> Pattern(size_t n) {
    std::vector<std::byte> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<std::byte>(i * 7 + i / 512);
    return v;
}

TEST(SectorSource, ImageBoundsAndPartialSector) {
    test::ScratchDir dir;
    const std::string path = dir / "small.img";
    test::WriteWholeFile(path, Pattern(1000));
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, path), kOk);
    EXPECT_EQ(source.totalSectors, 1u);  // the trailing 488 bytes are not addressable

    std::vector<std::byte> buf(1024);
    uint32_t read = 99;
    EXPECT_EQ(ReadSectors(source, 1, buf, 0, 512, read), kOk);
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(std::vector<std::byte>(buf.begin(), buf.begin() + 512),
              std::vector<std::byte>(Pattern(512)));

    read = 99;
    EXPECT_EQ(ReadSectors(source, 1, buf, 1, 512, read), kErrInvalidParameter);
    EXPECT_EQ(read, 99u) << "a refused read leaves the count untouched";
    EXPECT_EQ(ReadSectors(source, 2, buf, 0, 512, read), kErrInvalidParameter);
    EXPECT_EQ(ReadSectors(source, 1, std::span(buf).first(100), 0, 512, read),
              kErrInvalidParameter);

    EXPECT_EQ(ReadSectors(source, 0, buf, 1, 512, read), kOk);
    EXPECT_EQ(read, 0u);
}

TEST(SectorSource, ReadsLargerThanOnePieceArriveWhole) {
    test::ScratchDir dir;
    const std::string path = dir / "big.img";
    const auto bytes = Pattern(300 * 1024);
    test::WriteWholeFile(path, bytes);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, path), kOk);
    std::vector<std::byte> buf(200 * 1024);
    uint32_t read = 0;
    ASSERT_EQ(ReadSectors(source, 400, buf, 100, 512, read), kOk);
    EXPECT_EQ(read, 400u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 100 * 512));
}

TEST(SectorSource, AFaultEndsTheReadWithWholeSectorsCounted) {
    SectorSource source;
    // 64 sectors of data; reads fail from byte 70,000 (sector 136 is never reached; the read of
    // the second 64 KiB piece stops inside sector 136... of a 1,000-sector claim).
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(Pattern(512 * 1000), 70000),
                     1000);
    std::vector<std::byte> buf(512 * 200);
    uint32_t read = 0;
    EXPECT_EQ(ReadSectors(source, 200, buf, 0, 512, read), kErrReadFault);
    EXPECT_EQ(read, 70000u / 512);

    // A source whose data ends before its claimed size: the empty read is a fault too.
    OpenReaderSource(source, std::make_unique<test::MemoryReader>(Pattern(512 * 10)), 20);
    EXPECT_EQ(ReadSectors(source, 20, buf, 0, 512, read), kErrReadFault);
    EXPECT_EQ(read, 10u);
}

TEST(SectorReadCache, ForwardReadsShareWindowsAndFaultsComeOutAsReadSectorsGivesThem) {
    const auto bytes = Pattern(512 * 4000);
    auto reader = std::make_unique<test::MemoryReader>(bytes, 512 * 2600 + 100);
    uint64_t& calls = reader->calls;
    SectorSource source;
    OpenReaderSource(source, std::move(reader), 4000);
    SectorReadCache cache(source, 512);
    std::vector<std::byte> one(512);
    uint32_t read = 0;
    // The first sectors of small files met in order: a window serves hundreds of them.
    for (uint64_t s = 0; s < 2000; s += 3) {
        ASSERT_EQ(cache.Read(s, 1, one, read), kOk);
        ASSERT_EQ(read, 1u);
        ASSERT_TRUE(std::equal(one.begin(), one.end(), bytes.begin() + s * 512)) << s;
    }
    EXPECT_LE(calls, 6u);
    // Going back to sectors read before costs nothing.
    calls = 0;
    for (const uint64_t s : {100u, 1000u, 100u, 1999u}) {
        ASSERT_EQ(cache.Read(s, 1, one, read), kOk);
        ASSERT_TRUE(std::equal(one.begin(), one.end(), bytes.begin() + s * 512)) << s;
    }
    EXPECT_EQ(calls, 0u);
    // Around a sector that cannot be read, every answer is what ReadSectors gives.
    for (uint64_t s = 2590; s < 2610; ++s) {
        std::vector<std::byte> direct(1024), cached(1024);
        uint32_t directRead = 7, cachedRead = 7;
        const Status d = ReadSectors(source, 2, direct, s, 512, directRead);
        const Status c = cache.Read(s, 2, cached, cachedRead);
        EXPECT_EQ(c, d) << s;
        EXPECT_EQ(cachedRead, directRead) << s;
        EXPECT_TRUE(std::equal(cached.begin(), cached.begin() + 512 * cachedRead, direct.begin()))
            << s;
    }
    EXPECT_EQ(cache.Read(3999, 2, one, read), kErrInvalidParameter);
}

TEST(SectorSource, SourcesAreNeverOpenedForWriting) {
    test::ScratchDir dir;
    const std::string path = dir / "ro.img";
    test::WriteWholeFile(path, Pattern(4096));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, path), kOk);
    EXPECT_EQ(::fcntl(source.handle.Descriptor(), F_GETFL) & O_ACCMODE, O_RDONLY);
}

TEST(SectorSource, LoopDeviceReportsItsSectorsAndEndsAtTheLast) {
    const std::string image = test::FixturePath("fat12.img");
    test::LoopDevice loop(image);
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    SectorSource source;
    ASSERT_EQ(OpenDeviceSource(source, loop.Device()), kOk);
    EXPECT_EQ(::fcntl(source.handle.Descriptor(), F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(source.totalSectors, std::filesystem::file_size(image) / 512);
    std::vector<std::byte> buf(512);
    uint32_t read = 0;
    EXPECT_EQ(ReadSectors(source, 1, buf, source.totalSectors - 1, 512, read), kOk);
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(ReadSectors(source, 1, buf, source.totalSectors, 512, read), kErrInvalidParameter);
    DiskGeometry geometry;
    ASSERT_EQ(source.handle.Geometry(geometry), kOk);
    EXPECT_EQ(geometry.bytesPerSector, 512u);
}

}  // namespace
}  // namespace keltra
