// An image made by a rescue copy, scanned and recovered with its map beside it: what the map
// does not mark copied reads as the disk read, unreadable, so a found file that lies partly in
// it is told as damaged and never handed over zero-filled as if it were whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "storage/copied_areas_reader.h"
#include "storage/rescue_map_file.h"
#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using S = AreaStatus;

TEST(CopiedAreasReader, ReadsStopWhereTheMapStopsMarkingBytesCopied) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    std::vector<std::byte> bytes(64 * 512);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i % 251 + 1);
    test::WriteWholeFile(image, bytes);
    RescueMap map(bytes.size());
    map.Mark(0, bytes.size(), S::kFinished);
    map.Mark(10 * 512, 2 * 512, S::kBad);
    map.Mark(40 * 512, 8 * 512, S::kNonTried);

    // A map of another size is no map of this image; no map, nothing.
    EXPECT_FALSE(CopiedAreasReader::MapOfImage(image, bytes.size()));
    ASSERT_EQ(SaveRescueMap(RescueMapPath(image), map, {}), kOk);
    EXPECT_FALSE(CopiedAreasReader::MapOfImage(image, bytes.size() + 512));
    auto found = CopiedAreasReader::MapOfImage(image, bytes.size());
    ASSERT_TRUE(found);

    FileHandle handle;
    ASSERT_EQ(FileHandle::OpenForReading(image, handle), kOk);
    CopiedAreasReader reader(std::move(handle), std::move(*found));
    std::vector<std::byte> buffer(16 * 512);
    size_t done = 0;
    // Up to the bad sectors, then nothing more from there on.
    EXPECT_EQ(reader.ReadAt(2 * 512, buffer, done), kOk);
    EXPECT_EQ(done, 8u * 512);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 8 * 512, bytes.begin() + 2 * 512));
    EXPECT_EQ(reader.ReadAt(10 * 512, buffer, done), kErrIoDevice);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(reader.ReadAt(11 * 512 + 100, buffer, done), kErrIoDevice);
    EXPECT_EQ(reader.ReadAt(12 * 512, buffer, done), kOk);
    EXPECT_EQ(done, buffer.size());
    EXPECT_EQ(reader.ReadAt(44 * 512, buffer, done), kErrIoDevice);

    // Through a source: the sectors before the bad ones, then a read fault.
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, image), kOk);
    uint32_t read = 0;
    EXPECT_EQ(ReadSectors(source, 16, buffer, 0, 512, read), kErrReadFault);
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(ReadSectors(source, 16, buffer, 12, 512, read), kOk);
}

// A deep scan of the photo volume's rescue copy, one sector inside a deleted photo unreadable:
// the scan names the map and counts the sector; the recovery says the photo is damaged and
// copies the other files whole.
TEST(RescueImageScan, FilesTouchingUnreadableSectorsAreToldAsDamaged) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("photos_fat.img"));
    ASSERT_FALSE(bytes.empty());
    const std::string damaged = "Camera roll/Holiday_001.JPG";
    const std::vector<std::byte> photo = test::ReadWholeFile(test::PhotoOriginal(damaged));
    ASSERT_GT(photo.size(), 2048u);
    const auto at = std::search(bytes.begin(), bytes.end(), photo.begin(), photo.end());
    ASSERT_NE(at, bytes.end());
    const uint64_t bad = static_cast<uint64_t>(at - bytes.begin()) + 1024;
    ASSERT_EQ(bad % 512, 0u);
    // As the copy left it: zeros where the disk could not be read.
    std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(bad), 512, std::byte{0});
    test::WriteWholeFile(image, bytes);
    RescueMap map(bytes.size());
    map.Mark(0, bytes.size(), S::kFinished);
    map.Mark(bad, 512, S::kBad);
    ASSERT_EQ(SaveRescueMap(RescueMapPath(image), map, {}), kOk);

    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const auto scanned = test::RunKeltra({"scan", image, "--deep"}, {env});
    ASSERT_EQ(scanned.exitCode, 0) << scanned.err;
    EXPECT_NE(scanned.err.find("1 sector of '" + image + "' could not be read: the rescue map '" +
                               RescueMapPath(image) + "' marks"),
              std::string::npos)
        << scanned.err;

    const std::string out = dir / "out";
    const auto recovered = test::RunKeltra(
        {"recover", image, "--deep", "--keep-paths", "--to", out, "--types", "photo"}, {env});
    EXPECT_EQ(recovered.exitCode, 3) << recovered.err;
    EXPECT_NE(recovered.err.find("failed: " + out + "/" + damaged + ": damaged: part of it lies "
                                                                    "in sectors that could not "
                                                                    "be read"),
              std::string::npos)
        << recovered.err;
    // Never the zero-filled bytes as the photo; the other photos whole.
    EXPECT_FALSE(fs::exists(out + "/" + damaged) &&
                 fs::file_size(out + "/" + damaged) == photo.size());
    for (const char* whole : {"Photos/2017/Beach day.jpg", "Photos/Company logo.png"}) {
        EXPECT_EQ(test::Sha256OfFile(out + "/" + whole),
                  test::Sha256OfFile(test::PhotoOriginal(whole)))
            << whole;
    }
}

}  // namespace
}  // namespace keltra
