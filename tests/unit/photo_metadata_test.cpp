// What carved pictures say of themselves: the EXIF date taken and camera, read from real
// files made by exiftool, and the command line's use of them (scan --json, recover
// --name-by-date) on a disk image whose only files are carved pictures.
#include "engines/photo/photo_metadata.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::vector<std::byte> Sample(const std::string& name) {
    std::vector<std::byte> bytes = test::ReadWholeFile(test::TestDataPath("pictures/" + name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

TEST(ExifDate, ReadsTheExifFormAndRefusesBlankOrImpossibleDates) {
    const std::optional<DateTaken> d = ParseExifDate("2023:07:14 18:03:22");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->IsoText(), "2023-07-14T18:03:22");
    EXPECT_EQ(d->NameText(), "2023-07-14 18-03-22");
    EXPECT_TRUE(ParseExifDate("2024-02-29T00:00:00"));   // leap day
    for (const char* bad :
         {"0000:00:00 00:00:00", "    :  :     :  :  ", "2023:02:29 10:00:00", "2023:13:01 10:00:00",
          "2023:04:31 10:00:00", "2023:07:14 24:00:00", "2023:07:14 18:60:00", "2023:07:14",
          "2023:07:14 18:03:2x", "+023:07:14 18:03:22", ""}) {
        EXPECT_FALSE(ParseExifDate(bad)) << bad;
    }
}

TEST(PhotoMetadata, ReadsDateTakenAndCameraFromRealFiles) {
    const PhotoMetadata jpeg = ReadPhotoMetadata(Sample("taken.jpg"));
    ASSERT_TRUE(jpeg.taken);
    EXPECT_EQ(jpeg.taken->IsoText(), "2023-07-14T18:03:22");  // the original date, not ModifyDate
    EXPECT_EQ(jpeg.camera, "Canon EOS 5D Mark IV");

    const PhotoMetadata tiff = ReadPhotoMetadata(Sample("taken.tif"));
    ASSERT_TRUE(tiff.taken);
    EXPECT_EQ(tiff.taken->IsoText(), "2021-12-31T23:59:59");
    EXPECT_EQ(tiff.camera, "NIKON D750");

    const PhotoMetadata raw = ReadPhotoMetadata(Sample("preview.nef"));
    ASSERT_TRUE(raw.taken);
    EXPECT_EQ(raw.taken->IsoText(), "2022-05-06T07:08:09");
    EXPECT_EQ(raw.camera, "NIKON D750");

    const PhotoMetadata digitized = ReadPhotoMetadata(Sample("digitized.jpg"));
    ASSERT_TRUE(digitized.taken);
    EXPECT_EQ(digitized.taken->IsoText(), "2019-02-28T07:00:01");
    EXPECT_EQ(digitized.camera, "");

    const PhotoMetadata blank = ReadPhotoMetadata(Sample("blank_date.jpg"));
    EXPECT_FALSE(blank.taken);
    EXPECT_EQ(blank.camera, "Generic Cam");

    const PhotoMetadata plain = ReadPhotoMetadata(Sample("plain.jpg"));
    EXPECT_FALSE(plain.taken);
    EXPECT_EQ(plain.camera, "");
}

TEST(PhotoMetadata, DamagedOrForeignBytesGiveNothingAndNeverThrow) {
    const std::vector<std::byte> jpeg = Sample("taken.jpg");
    // Cut inside the EXIF block, and every shorter head: the library must not read past them.
    for (size_t n = 0; n < 400; n += 7) {
        const PhotoMetadata cut = ReadPhotoMetadata(std::span(jpeg).first(n));
        EXPECT_FALSE(cut.taken && cut.taken->IsoText() != "2023-07-14T18:03:22") << n;
    }
    // A whole head keeps what it holds even with the picture data cut off.
    EXPECT_TRUE(ReadPhotoMetadata(std::span(jpeg).first(jpeg.size() / 2 + 600)).taken);
    std::vector<std::byte> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = std::byte(i * 131 % 251);
    EXPECT_FALSE(ReadPhotoMetadata(noise).taken);
    // A TIFF header whose first IFD lies far outside the bytes.
    std::vector<std::byte> tiff = {std::byte{'I'}, std::byte{'I'}, std::byte{42}, std::byte{0},
                                   std::byte{0xff}, std::byte{0xff}, std::byte{0xff},
                                   std::byte{0x7f}};
    EXPECT_FALSE(ReadPhotoMetadata(tiff).taken);
    EXPECT_TRUE(EmbeddedPreviewJpeg(tiff).empty());
}

TEST(PhotoMetadata, EmbeddedPreviewIsAJpegOnlyWhereOneIsKept) {
    const std::vector<std::byte> preview = EmbeddedPreviewJpeg(Sample("taken.jpg"));
    ASSERT_GT(preview.size(), 100u);
    EXPECT_EQ(preview[0], std::byte{0xff});
    EXPECT_EQ(preview[1], std::byte{0xd8});
    EXPECT_TRUE(EmbeddedPreviewJpeg(Sample("plain.jpg")).empty());
    // A RAW file: its largest preview, not the reduced picture of IFD0.
    const std::vector<std::byte> rawPreview = EmbeddedPreviewJpeg(Sample("preview.nef"));
    ASSERT_GT(rawPreview.size(), 1000u);
    EXPECT_EQ(rawPreview[0], std::byte{0xff});

}

TEST(PhotoMetadata, DatedNameKeepsTheFoundExtension) {
    PhotoMetadata m;
    EXPECT_EQ(NameByDateTaken(m, "2048.jpg"), "");
    m.taken = ParseExifDate("2023:07:14 18:03:22");
    EXPECT_EQ(NameByDateTaken(m, "2048.jpg"), "2023-07-14 18-03-22.jpg");
    EXPECT_EQ(NameByDateTaken(m, "2048.tif"), "2023-07-14 18-03-22.tif");
    EXPECT_EQ(NameByDateTaken(m, "2048"), "2023-07-14 18-03-22");
}

// An image of no file system: the pictures at 64 KiB steps, so that the deep scan carves them.
struct CarvedImage {
    std::string path;
    std::map<uint64_t, std::string> sampleAt;  // start sector -> sample name
};

CarvedImage MakeCarvedImage(const test::ScratchDir& dir) {
    CarvedImage image{dir / "pictures.img", {}};
    std::vector<std::byte> bytes(64 * 1024);
    for (const char* name : {"taken.jpg", "same_second.jpg", "digitized.jpg", "blank_date.jpg",
                             "plain.jpg", "taken.tif"}) {
        const std::vector<std::byte> sample = Sample(name);
        image.sampleAt[bytes.size() / 512] = name;
        bytes.insert(bytes.end(), sample.begin(), sample.end());
        bytes.resize((bytes.size() / 65536 + 2) * 65536);
    }
    test::WriteWholeFile(image.path, bytes);
    return image;
}

TEST(PhotoMetadataCli, ScanJsonTellsDateTakenAndCameraOfCarvedPictures) {
    test::ScratchDir dir;
    const CarvedImage image = MakeCarvedImage(dir);
    const auto run = test::RunKeltra({"scan", image.path, "--deep", "--json"},
                                     {"XDG_DATA_HOME=" + (dir / "xdg")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::map<std::string, nlohmann::json> bySample;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        const uint64_t sector = std::stoull(j["name"].get<std::string>());
        ASSERT_TRUE(image.sampleAt.contains(sector)) << line;
        bySample[image.sampleAt.at(sector)] = j;
    }
    ASSERT_EQ(bySample.size(), image.sampleAt.size()) << run.out;
    EXPECT_EQ(bySample["taken.jpg"]["taken"], "2023-07-14T18:03:22");
    EXPECT_EQ(bySample["taken.jpg"]["camera"], "Canon EOS 5D Mark IV");
    EXPECT_EQ(bySample["taken.tif"]["taken"], "2021-12-31T23:59:59");
    EXPECT_EQ(bySample["taken.tif"]["camera"], "NIKON D750");
    EXPECT_EQ(bySample["digitized.jpg"]["taken"], "2019-02-28T07:00:01");
    EXPECT_TRUE(bySample["digitized.jpg"]["camera"].is_null());
    EXPECT_TRUE(bySample["blank_date.jpg"]["taken"].is_null());
    EXPECT_EQ(bySample["blank_date.jpg"]["camera"], "Generic Cam");
    EXPECT_TRUE(bySample["plain.jpg"]["taken"].is_null());
    EXPECT_TRUE(bySample["plain.jpg"]["camera"].is_null());
}

TEST(PhotoMetadataCli, RecoverNamesCarvedPicturesByDateTakenAndNumbersCollisions) {
    test::ScratchDir dir;
    const CarvedImage image = MakeCarvedImage(dir);
    const std::string to = dir / "out";
    const auto run = test::RunKeltra({"recover", image.path, "--deep", "--name-by-date", "--to", to},
                                     {"XDG_DATA_HOME=" + (dir / "xdg")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::map<std::string, std::string> files;  // name -> content hash
    for (const auto& entry : fs::recursive_directory_iterator(to)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), to).string()] = test::Sha256OfFile(entry.path());
        }
    }
    auto hash = [](const char* sample) {
        return test::Sha256OfFile(test::TestDataPath(std::string("pictures/") + sample));
    };
    // Two pictures of one second: the first listed keeps the name, the second is numbered.
    ASSERT_TRUE(files.contains("photo/2023-07-14 18-03-22.jpg")) << run.out;
    ASSERT_TRUE(files.contains("photo/2023-07-14 18-03-22(1).jpg")) << run.out;
    const std::multiset<std::string> sameSecond = {files["photo/2023-07-14 18-03-22.jpg"],
                                                   files["photo/2023-07-14 18-03-22(1).jpg"]};
    EXPECT_EQ(sameSecond, (std::multiset<std::string>{hash("taken.jpg"), hash("same_second.jpg")}));
    EXPECT_EQ(files["photo/2019-02-28 07-00-01.jpg"], hash("digitized.jpg"));
    EXPECT_EQ(files["photo/2021-12-31 23-59-59.tif"].empty(), false);
    // Without a date the carved name stays.
    for (const auto& [sector, sample] : image.sampleAt) {
        const std::string carved = "photo/" + std::to_string(sector) + ".jpg";
        const bool undated = sample == "blank_date.jpg" || sample == "plain.jpg";
        EXPECT_EQ(files.contains(carved), undated) << carved << " (" << sample << ")";
    }
    EXPECT_EQ(files.size(), image.sampleAt.size());

    // Without the option nothing is renamed.
    const std::string plainTo = dir / "plain";
    const auto plain = test::RunKeltra({"recover", image.path, "--deep", "--to", plainTo},
                                       {"XDG_DATA_HOME=" + (dir / "xdg")});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_FALSE(fs::exists(plainTo + "/photo/2019-02-28 07-00-01.jpg"));
}

}  // namespace
}  // namespace keltra
