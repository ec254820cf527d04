#include <gtest/gtest.h>

#include <filesystem>

#include "platform/disk_names.h"
#include "storage/disk_image_writer.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::vector<std::byte> Pattern(size_t n) {
    std::vector<std::byte> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<std::byte>(i * 13 + i / 512 + 1);
    return v;
}

// Unreadable sectors, first to last inclusive.
struct BadSectorRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

// A medium whose sectors in [badFirst, badLast] cannot be read: any read that touches one fails
// as a whole, as a disk's would.
class FaultyReader : public SectorReader {
  public:
    FaultyReader(std::vector<std::byte> bytes, std::vector<BadSectorRange> bad)
        : bytes_(std::move(bytes)), bad_(std::move(bad)) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        const uint64_t first = offset / 512, last = (offset + buffer.size() - 1) / 512;
        for (const BadSectorRange& r : bad_) {
            if (first <= r.last && r.first <= last) return kErrIoDevice;
        }
        const uint64_t n = std::min<uint64_t>(buffer.size(), bytes_.size() - offset);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
        done = static_cast<size_t>(n);
        return kOk;
    }

  private:
    std::vector<std::byte> bytes_;
    std::vector<BadSectorRange> bad_;
};

struct Call {
    int percent;
    uint64_t done;
    uint64_t total;
    int secondsLeft;
};

struct Recorder {
    std::vector<Call> calls;
    size_t stopAt = SIZE_MAX;  // answer kCancelled at this call (0-based)
};

int Record(void* user, int percent, uint64_t done, uint64_t total, int secondsLeft) {
    auto& r = *static_cast<Recorder*>(user);
    r.calls.push_back({percent, done, total, secondsLeft});
    return r.calls.size() - 1 == r.stopAt ? kCancelled.value() : 0;
}

// A clock that moves one second each time it is read.
uint64_t FakeClock() {
    static uint64_t nowMs = 0;
    return nowMs += 1000;
}

TEST(DiskImage, CopiesInChunksWithProgressAndAnEstimateEveryFiveSeconds) {
    const auto bytes = Pattern(1000 * 512);
    SectorSource source;
    OpenReaderSource(source, std::make_unique<FaultyReader>(bytes, std::vector<BadSectorRange>{}),
                     1000);
    test::ScratchDir dir;
    const std::string image = dir / "copy.img";
    Recorder rec;
    DiskImageWriter writer(&Record, &rec);
    writer.SetClock(&FakeClock);
    ASSERT_EQ(writer.CopyFrom(source, 512, 0, 0, image), kOk);
    EXPECT_EQ(test::ReadWholeFile(image), bytes);
    EXPECT_EQ(writer.SectorsWritten(), 1000u);

    // Seven full 64 KiB chunks and one of 104 sectors; a call after each.
    ASSERT_EQ(rec.calls.size(), 8u);
    EXPECT_EQ(rec.calls[0].done, 128u);
    EXPECT_EQ(rec.calls[0].percent, 12);
    EXPECT_EQ(rec.calls[7].percent, 100);
    EXPECT_EQ(rec.calls[7].done, 1000u);
    EXPECT_EQ(rec.calls[7].total, 1000u);
    // The clock reads 1 s at the start and one more second after each chunk: the first
    // estimate comes after the fifth chunk (5 s), (512,000 - 327,680) / 65,536 B/s = 2 s, and is
    // kept until five more seconds have passed.
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rec.calls[i].secondsLeft, -1) << i;
    for (size_t i = 4; i < 8; ++i) EXPECT_EQ(rec.calls[i].secondsLeft, 2) << i;
}

TEST(DiskImage, AReadFaultEndsTheCopy) {
    const auto bytes = Pattern(1000 * 512);
    const std::vector<BadSectorRange> bad{{300, 303}, {999, 999}};
    SectorSource source;
    OpenReaderSource(source, std::make_unique<FaultyReader>(bytes, bad), 1000);
    test::ScratchDir dir;
    const std::string image = dir / "bad.img";

    Recorder rec;
    DiskImageWriter strict(&Record, &rec);
    EXPECT_EQ(strict.CopyFrom(source, 512, 0, 0, image), kErrReadFault);
    // The two chunks before the fault are in the image; the faulty chunk is not.
    EXPECT_EQ(strict.SectorsWritten(), 256u);
    EXPECT_EQ(fs::file_size(image), 256u * 512);
    EXPECT_EQ(rec.calls.size(), 2u);
}

TEST(DiskImage, LongerFilesAreCutAndCancelKeepsWhatWasCopied) {
    const auto bytes = Pattern(1000 * 512);
    SectorSource source;
    OpenReaderSource(source, std::make_unique<FaultyReader>(bytes, std::vector<BadSectorRange>{}),
                     1000);
    test::ScratchDir dir;
    const std::string image = dir / "old.img";
    test::WriteWholeFile(image, std::vector<std::byte>(2 << 20, std::byte{0xFF}));

    DiskImageWriter writer(nullptr, nullptr);
    ASSERT_EQ(writer.CopyFrom(source, 512, 0, 0, image), kOk);
    EXPECT_EQ(test::ReadWholeFile(image), bytes);

    test::WriteWholeFile(image, std::vector<std::byte>(2 << 20, std::byte{0xFF}));
    Recorder rec;
    rec.stopAt = 2;
    DiskImageWriter cancelled(&Record, &rec);
    EXPECT_EQ(cancelled.CopyFrom(source, 512, 0, 0, image), kCancelled);
    EXPECT_EQ(rec.calls.size(), 3u);
    const auto partial = test::ReadWholeFile(image);
    ASSERT_EQ(partial.size(), 3u * 65536);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), bytes.begin()));
}

TEST(DiskImage, RefusesRangesPastTheEndAndTargetsThatAreNotPlainFiles) {
    test::ScratchDir dir;
    const std::string sourcePath = dir / "source.img";
    test::WriteWholeFile(sourcePath, Pattern(100 * 512));
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, sourcePath), kOk);
    DiskImageWriter writer(nullptr, nullptr);
    EXPECT_EQ(writer.CopyFrom(source, 512, 90, 11, dir / "a.img"), kErrInvalidParameter);
    EXPECT_EQ(writer.CopyFrom(source, 512, 101, 0, dir / "a.img"), kErrInvalidParameter);
    EXPECT_FALSE(fs::exists(dir / "a.img"));
    EXPECT_EQ(writer.CopyFrom(source, 512, 0, 0, dir.Path().string()), kErrInvalidParameter);
    EXPECT_EQ(writer.CopyFrom(source, 512, 0, 0, sourcePath), kErrInvalidParameter);
    EXPECT_EQ(test::ReadWholeFile(sourcePath), Pattern(100 * 512));
    EXPECT_EQ(writer.CopyFrom(source, 512, 0, 0, "/dev/null"), kErrInvalidParameter);
    EXPECT_EQ(writer.CopyFrom(source, 512, 0, 0, dir / "no/such/folder.img"), kErrFileNotFound);
}

TEST(DiskImage, CopiesOfLoopDevicesMatchTheirBytes) {
    const std::string fixture = test::FixturePath("mbr.img");
    test::LoopDevice loop(fixture, true);
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    test::ScratchDir dir;

    const auto whole = test::RunKeltra({"image", loop.Device(), dir / "whole.img"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_NE(whole.out.find("Copied 286720 sectors"), std::string::npos) << whole.out;
    EXPECT_EQ(test::Sha256OfFile(dir / "whole.img"), test::Sha256OfFile(loop.Device()));

    // The NTFS partition, by its node where the kernel made one, else by its place on the disk.
    const auto disk = DiskNumberOfDevice(loop.Device());
    ASSERT_TRUE(disk);
    const std::string partition = fs::exists(loop.Device() + "p2")
                                      ? loop.Device() + "p2"
                                      : "disk:" + std::to_string(*disk) + ":239616:32768";
    const auto part = test::RunKeltra({"image", partition, dir / "p2.img"});
    ASSERT_EQ(part.exitCode, 0) << part.err;
    const auto all = test::ReadWholeFile(fixture);
    const auto p2 = test::ReadWholeFile(dir / "p2.img");
    ASSERT_EQ(p2.size(), 32768u * 512);
    EXPECT_TRUE(std::equal(p2.begin(), p2.end(), all.begin() + 239616 * 512));

    // A range within the source, straight through the writer by disk number.
    DiskImageWriter writer(nullptr, nullptr);
    ASSERT_EQ(writer.Copy(*disk, 2048, 32768, dir / "p1.img"), kOk);
    const auto p1 = test::ReadWholeFile(dir / "p1.img");
    ASSERT_EQ(p1.size(), 32768u * 512);
    EXPECT_TRUE(std::equal(p1.begin(), p1.end(), all.begin() + 2048 * 512));
    const auto ranged = test::RunKeltra(
        {"image", loop.Device(), dir / "r.img", "--start", "2048", "--count", "32768"});
    ASSERT_EQ(ranged.exitCode, 0) << ranged.err;
    EXPECT_EQ(test::ReadWholeFile(dir / "r.img"), p1);
}

TEST(CliImage, BadArgumentsGiveOneLineAndAnExitCode) {
    test::ScratchDir dir;
    const std::string source = dir / "s.img";
    test::WriteWholeFile(source, Pattern(64 * 512));
    const auto past = test::RunKeltra({"image", source, dir / "o.img", "--start", "64"});
    EXPECT_EQ(past.exitCode, 1);
    EXPECT_NE(past.err.find("past the end"), std::string::npos) << past.err;
    const auto tooMany =
        test::RunKeltra({"image", source, dir / "o.img", "--start", "10", "--count", "60"});
    EXPECT_EQ(tooMany.exitCode, 1);
    const auto device = test::RunKeltra({"image", source, "/dev/null"});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.err.find("not a regular file"), std::string::npos) << device.err;
    const auto itself = test::RunKeltra({"image", source, source});
    EXPECT_EQ(itself.exitCode, 1);
    EXPECT_NE(itself.err.find("the source itself"), std::string::npos) << itself.err;
    EXPECT_EQ(test::ReadWholeFile(source), Pattern(64 * 512));
    EXPECT_FALSE(fs::exists(dir / "o.img"));
    EXPECT_EQ(test::RunKeltra({"image", source}).exitCode, 2);

    const auto ok =
        test::RunKeltra({"image", source, dir / "o.img", "--start", "10", "--count", "4"});
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    const auto all = Pattern(64 * 512);
    EXPECT_EQ(test::ReadWholeFile(dir / "o.img"),
              std::vector<std::byte>(all.begin() + 10 * 512, all.begin() + 14 * 512));
}

}  // namespace
}  // namespace keltra
