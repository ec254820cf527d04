// What names a file of today's formats, and what must not: random sectors, a scanner's TIFF that
// names a camera maker, the content check of the file-system engines under each extension of a
// container family, and the category and file-type option of every new extension.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/signature_table.h"
#include "engines/extension_categories.h"
#include "support/sector_image.h"
#include "support/test_support.h"

namespace keltra {
namespace {

constexpr size_t kSector = test::SectorImage::kSector;

bool IsNewType(FileTypeCode code) {
    return code > kTypeNone;
}

class FormatRecognition : public ::testing::Test {
  protected:
    CarveSession session;
};

// 64 MiB of random sectors: no recogniser of the new formats answers, not even on sectors that
// begin with one of their magic numbers and go on at random.
TEST_F(FormatRecognition, RandomSectorsStartNoFileOfTheNewFormats) {
    using namespace std::string_view_literals;
    std::mt19937_64 rng(29);
    std::vector<std::byte> sector(kSector);
    const std::vector<std::string_view> magics = {
        "OggS"sv,
        "fLaC\x00\x00\x00\x22"sv,
        "FORM"sv,
        "\x00\x00\x00\x0CjP  \x0D\x0A\x87\x0A"sv,
        "\xFF\x4F\xFF\x51"sv,
        "P6\n"sv,
        "P5 "sv,
        "FOVb"sv,
        "\x00MRM"sv,
        "FUJIFILMCCD-RAW "sv,
        "IIU\x00"sv,
        "IIRO"sv,
        "gimp xcf v011\x00"sv,
        "\xFF\x0A"sv,
        "\x1F\x07\x00\xBF"sv,
    };
    int found = 0;
    for (int i = 0; i < 131072; ++i) {
        for (size_t k = 0; k < kSector; k += 8) {
            const uint64_t v = rng();
            std::memcpy(sector.data() + k, &v, 8);
        }
        if (i % 2 == 1) {
            const std::string_view m = magics[static_cast<size_t>(i / 2) % magics.size()];
            std::memcpy(sector.data(), m.data(), m.size());
            // Where the magic alone is all a format has, the bytes after it must still hold. A
            // FLAC file's eight bytes of magic and block header leave a few of its checks to
            // random bytes (one sector in a few hundred of these passes).
            if (m == "FOVb"sv || m == "\x00MRM"sv || m == "FUJIFILMCCD-RAW "sv ||
                m == "IIU\x00"sv || m == "IIRO"sv || m == "fLaC\x00\x00\x00\x22"sv) {
                continue;
            }
        }
        const Recognition r = RecogniseSector(session, sector);
        if (r.row != nullptr && IsNewType(r.code)) {
            ++found;
            ADD_FAILURE() << "sector " << i << " taken for ." << r.row->extension;
        }
    }
    EXPECT_EQ(found, 0);
}

// A TIFF that names a camera maker is no RAW file unless it holds sensor data: a film
// scanner's stays .tif; and each RAW sample is named by its maker even when its header is a
// plain TIFF's.
TEST_F(FormatRecognition, CameraRawFilesAreNamedByTheirMakerOnlyWithSensorData) {
    struct Case {
        const char* file;
        const char* extension;
    };
    for (const Case& c : {Case{"scanner.tif", "tif"}, Case{"nikon.nef", "nef"},
                          Case{"coolpix.nrw", "nrw"}, Case{"sony.sr2", "sr2"},
                          Case{"phone.dng", "dng"}, Case{"leica.rwl", "rwl"},
                          Case{"kodak.dcr", "dcr"}}) {
        SCOPED_TRACE(c.file);
        const auto file = test::ReadWholeFile(test::TestDataPath(std::string("formats/") + c.file));
        test::SectorImage image(1);
        image.Put(1, file);
        const SectorSource source = image.Source();
        std::string name;
        FileTypeCode type = kTypeNone;
        uint64_t size = 0;
        ASSERT_EQ(CarveAtSector(session, kSector, source, image.Sector(1), 1, 0,
                                image.SectorCount(), -1, 0, name, type, size),
                  kOk);
        EXPECT_EQ(name, std::string("1.") + c.extension);
        EXPECT_EQ(FirstRowWithCode(type)->extension, c.extension);
        EXPECT_EQ(size, file.size());
    }
}

// The file-system engines' content check: a file passes under any extension of its container
// family (a NEF renamed .tif, an M4A named .mp4, a Vorbis file named .oga), and fails under
// another family's.
TEST_F(FormatRecognition, ContentCheckAcceptsTheExtensionsOfTheFileFamily) {
    struct Case {
        const char* file;
        std::vector<const char*> pass;
        std::vector<const char*> fail;
    };
    const std::vector<Case> cases = {
        {"nikon.nef", {"nef", "NEF", "tif", "dng", "arw"}, {"jpg", "heic", "raf"}},
        {"canon.cr2", {"cr2", "tiff"}, {"cr3", "crw"}},
        {"phone.heic", {"heic", "heif", "mp4", "mov"}, {"jpg", "avif2", "png"}},
        {"sound.m4a", {"m4a", "mp4", "3gp"}, {"mp3", "ogg"}},
        {"sound.ogg", {"ogg", "oga", "opus", "ogv"}, {"flac", "wav"}},
        {"sound.flac", {"flac"}, {"oga", "wav"}},
        {"sound.aifc", {"aiff", "aifc"}, {"wav"}},
        {"fuji.raf", {"raf"}, {"tif", "jpg"}},
        {"photo.webp", {"webp"}, {"wav", "avi"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = test::ReadWholeFile(test::TestDataPath(std::string("formats/") + c.file));
        test::SectorImage image(1);
        image.Put(1, file);
        const SectorSource source = image.Source();
        const auto first = std::span(file).first(std::min(file.size(), kSector));
        for (const char* ext : c.pass) EXPECT_EQ(CheckFileContent(first, ext, source, kSector, 1), 1) << ext;
        for (const char* ext : c.fail) {
            // An extension the table does not know passes whatever the bytes.
            const int expected = FirstRowWithExtension(ext) == nullptr ? 1 : 0;
            EXPECT_EQ(CheckFileContent(first, ext, source, kSector, 1), expected) << ext;
        }
    }
}

// Every extension the new formats are carved under is a photo, sound or video, and has an
// option on the deep scan's file-type page (so that what is found is listed).
TEST_F(FormatRecognition, EveryNewExtensionHasACategoryAndAFileTypeOption) {
    std::ifstream skin(test::TestDataPath("../../skin/skin.ui"));
    ASSERT_TRUE(skin.good());
    std::stringstream text;
    text << skin.rdbuf();
    const std::string ui = text.str();
    std::set<std::string> options;
    const std::regex userdata(R"(name="userdata" stdset="0">\s*<string>([^<]*)</string>)");
    for (auto it = std::sregex_iterator(ui.begin(), ui.end(), userdata); it != std::sregex_iterator();
         ++it) {
        std::stringstream list((*it)[1].str());
        for (std::string ext; std::getline(list, ext, '|');) options.insert(ext);
    }
    for (const SignatureRow& row : FileSignatureTable()) {
        if (row.recognise == nullptr || !IsNewType(row.code)) continue;
        const std::string ext(row.extension);
        SCOPED_TRACE(ext);
        EXPECT_NE(CategoryOf("x." + ext), FileCategory::Others);
        EXPECT_NE(CategoryOf("x." + ext), FileCategory::Document);
        EXPECT_EQ(options.count(ext), 1u);
    }
}

}  // namespace
}  // namespace keltra
