// Carving a whole image made of the sample files of tests/data/signatures, each at a sector
// boundary, between gaps of random bytes and of zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include "engines/carving/signature_carver.h"
#include "engines/deep/carve_pass.h"
#include "engines/extension_categories.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kSector = 512;

// The extension each sample is carved under; samples not named here are of formats that are
// recognised but never carved (rar and cabinet archives, executables, fonts, databases).
const std::map<std::string, std::string> kCarvedAs = {
    {"exif.jpg", "jpg"},     {"jfif.jpg", "jpg"},     {"sample.3gp", "3gp"},
    {"sample.7z", "7z"},     {"sample.avi", "avi"},   {"sample.bmp", "bmp"},
    {"sample.doc", "fla"},   {"sample.docx", "docx"}, {"sample.flv", "flv"},
    {"sample.gif", "gif"},   {"sample.gz", "gz"},     {"sample.ico", "ico"},
    {"sample.m1v", "mpeg"},  {"sample.mid", "mid"},   {"sample.mkv", "mkv"},
    {"sample.mmf", "mmf"},   {"sample.mov", "mov"},   {"sample.mp2", "mp2"},
    {"sample.mp3", "mp3"},   {"sample.mp4", "mp4"},   {"sample.mpg", "mpeg"},
    {"sample.mts", "mts"},   {"sample.mxf", "mxf"},   {"sample.pdf", "pdf"},
    {"sample.png", "png"},   {"sample.ppt", "fla"},   {"sample.pptx", "pptx"},
    {"sample.psd", "psd"},   {"sample.rm", "rmvb"},   {"sample.swf", "swf"},
    {"sample.tif", "tif"},   {"sample.ts", "ts"},     {"sample.wav", "wav"},
    {"sample.wma", "wmv"},   {"sample.wmv", "wmv"},   {"sample.xls", "fla"},
    {"sample.xlsx", "xlsx"}, {"sample.zip", "zip"},   {"signed.mp4", "mp4"},
};

// Samples whose end the end rule knows (a footer, a size in the header, or the file's own
// structure): their recovered bytes equal the original. The others run on to the next file and
// hold the original as a prefix.
const std::set<std::string> kExactEnd = {
    "exif.jpg",    "jfif.jpg",   "sample.3gp",  "sample.7z",  "sample.avi",  "sample.bmp",
    "sample.docx", "sample.flv", "sample.gif",  "sample.gz",  "sample.ico",  "sample.m1v",
    "sample.mid",  "sample.mkv", "sample.mov",  "sample.mp3", "sample.mp4",  "sample.mpg",
    "sample.pdf",  "sample.png", "sample.pptx", "sample.psd", "sample.swf",  "sample.tif",
    "sample.ts",   "sample.wav", "sample.wma",  "sample.wmv", "sample.xlsx", "sample.zip",
    "signed.mp4",  "sample.mmf", "sample.mts",  "sample.mxf", "sample.doc",  "sample.xls",
    "sample.ppt",  "sample.mp2",
};

struct Placed {
    std::string file;
    uint64_t sector;
    std::vector<std::byte> bytes;
};

struct CorpusImage {
    std::vector<std::byte> bytes;
    std::vector<Placed> files;
};

// Every sample of a folder of tests/data in name order, each starting on a sector, the gaps
// before them alternating between random bytes and zeros of 1 to 5 sectors.
CorpusImage MakeCorpusImage(const std::string& folder = "signatures") {
    CorpusImage image;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(test::TestDataPath(folder))) {
        const auto ext = entry.path().extension();
        if (ext != ".sh" && ext != ".py") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::mt19937 random(12345);
    image.bytes.resize(8 * kSector);
    for (size_t i = 0; i < names.size(); ++i) {
        const uint64_t gap = (1 + (i * 7) % 5) * kSector;
        const size_t at = image.bytes.size();
        image.bytes.resize(at + gap);
        if (i % 2 == 0) {
            for (size_t b = at; b < at + gap; ++b) image.bytes[b] = std::byte(random() & 0xFF);
        }
        Placed placed{names[i], image.bytes.size() / kSector,
                      test::ReadWholeFile(test::TestDataPath(folder + "/" + names[i]))};
        image.bytes.insert(image.bytes.end(), placed.bytes.begin(), placed.bytes.end());
        image.bytes.resize((image.bytes.size() + kSector - 1) / kSector * kSector);
        image.files.push_back(std::move(placed));
    }
    const size_t at = image.bytes.size();
    image.bytes.resize(at + 8 * kSector);
    for (size_t b = at; b < image.bytes.size(); ++b) image.bytes[b] = std::byte(random() & 0xFF);
    return image;
}

bool StartsWith(std::span<const std::byte> whole, std::span<const std::byte> prefix) {
    return whole.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

TEST(CarveCorpus, EveryCarvableSampleIsFoundOnceAtItsFirstSector) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const CorpusImage image = MakeCorpusImage();
    const std::string imagePath = dir / "corpus.img";
    test::WriteWholeFile(imagePath, image.bytes);

    SignatureCarver engine;
    engine.SetLogFolder(dir.Path().string());
    ASSERT_EQ(engine.Open(SourceRef::Image(imagePath, 1)), kOk);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, imagePath), kOk);
    ASSERT_EQ(CarveWholeRange(engine, source, kSector, {0, source.totalSectors}, nullptr, nullptr),
              kOk);
    std::vector<FoundRecord> found;
    ASSERT_EQ(engine.ListFolder(nullptr, 0, found), kOk);
    std::map<uint64_t, std::vector<FoundRecord>> bySector;
    for (const FoundRecord& r : found) bySector[r.location].push_back(r);

    int carvable = 0, recalled = 0, exact = 0, prefix = 0;
    std::ostringstream table;
    for (const Placed& placed : image.files) {
        const auto expected = kCarvedAs.find(placed.file);
        const auto at = bySector.find(placed.sector);
        if (expected == kCarvedAs.end()) {
            EXPECT_EQ(at, bySector.end()) << placed.file << " is not a carved format";
            continue;
        }
        ++carvable;
        SCOPED_TRACE(placed.file);
        ASSERT_NE(at, bySector.end()) << "not found";
        ASSERT_EQ(at->second.size(), 1u) << "found more than once";
        const FoundRecord& record = at->second[0];
        EXPECT_EQ(record.Name(), std::to_string(placed.sector) + "." + expected->second);
        ++recalled;

        const std::string out = dir / ("out/" + std::string(record.Name()));
        ASSERT_EQ(engine.RecoverRecord(record, out, 0), kOk);
        const auto copied = test::ReadWholeFile(out);
        const bool same = copied == placed.bytes;
        const bool isPrefix = StartsWith(copied, placed.bytes);
        exact += same ? 1 : 0;
        prefix += isPrefix ? 1 : 0;
        EXPECT_EQ(record.contentIntact, 1u);
        if (kExactEnd.count(placed.file) != 0) {
            EXPECT_TRUE(same) << "recovered " << copied.size() << " bytes of "
                              << placed.bytes.size();
        } else {
            EXPECT_TRUE(isPrefix) << "the original is not a prefix of the recovered bytes";
        }
        table << placed.file << " -> " << record.Name() << " " << record.size << "/"
              << placed.bytes.size()
              << (same       ? " exact"
                  : isPrefix ? " prefix"
                             : " DIFFERENT")
              << "\n";
    }
    // Whatever else was carved lies inside a sample (a picture inside a video, say).
    int inside = 0;
    for (const FoundRecord& r : found) {
        const bool isSampleStart =
            std::any_of(image.files.begin(), image.files.end(),
                        [&](const Placed& p) { return p.sector == r.location; });
        if (!isSampleStart) {
            ++inside;
            table << "also carved: " << r.Name() << " " << r.size << "\n";
        }
    }
    RecordProperty("recall", std::to_string(recalled) + "/" + std::to_string(carvable));
    std::cout << table.str() << "carvable " << carvable << ", found " << recalled << ", exact "
              << exact << ", prefix " << prefix << ", other finds " << inside << "\n";
    EXPECT_EQ(recalled, carvable);
}

// The files of today's phones, cameras and the web (tests/data/formats): each found once at
// its first sector, under the extension of its format (a camera's RAW file by its maker's name,
// not as a TIFF), and recovered byte-exact.
TEST(CarveCorpus, TodaysFormatsAreFoundOnceNamedRightAndWhole) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const CorpusImage image = MakeCorpusImage("formats");
    const std::string imagePath = dir / "formats.img";
    test::WriteWholeFile(imagePath, image.bytes);

    SignatureCarver engine;
    engine.SetLogFolder(dir.Path().string());
    ASSERT_EQ(engine.Open(SourceRef::Image(imagePath, 1)), kOk);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, imagePath), kOk);
    ASSERT_EQ(CarveWholeRange(engine, source, kSector, {0, source.totalSectors}, nullptr, nullptr),
              kOk);
    std::vector<FoundRecord> found;
    ASSERT_EQ(engine.ListFolder(nullptr, 0, found), kOk);
    std::map<uint64_t, std::vector<FoundRecord>> bySector;
    for (const FoundRecord& r : found) bySector[r.location].push_back(r);

    const std::map<std::string, std::string> renamed = {
        {"classic.mov", "mov"}, {"program.vob", "mpeg"}, {"program.mpg", "mpeg"},
        {"click.wav", "wav"},   {"tiny.gif", "gif"},     {"icon.png", "png"},
    };
    for (const Placed& placed : image.files) {
        SCOPED_TRACE(placed.file);
        const auto at = bySector.find(placed.sector);
        ASSERT_NE(at, bySector.end()) << "not found";
        ASSERT_EQ(at->second.size(), 1u) << "found more than once";
        const FoundRecord& record = at->second[0];
        const auto r = renamed.find(placed.file);
        const std::string ext = r != renamed.end() ? r->second : fs::path(placed.file).extension().string().substr(1);
        EXPECT_EQ(record.Name(), std::to_string(placed.sector) + "." + ext);
        EXPECT_NE(CategoryOf(record.Name()), FileCategory::Others);
        EXPECT_EQ(record.contentIntact, 1u);
        const std::string out = dir / ("out/" + std::string(record.Name()));
        ASSERT_EQ(engine.RecoverRecord(record, out, 0), kOk);
        EXPECT_TRUE(test::ReadWholeFile(out) == placed.bytes)
            << "recovered " << record.size << " bytes of " << placed.bytes.size();
    }
    // Nothing else: no file is found inside another (a RAW file's preview, a movie's frames).
    for (const FoundRecord& r : found) {
        EXPECT_TRUE(std::any_of(image.files.begin(), image.files.end(),
                                [&](const Placed& p) { return p.sector == r.location; }))
            << "also carved: " << r.Name();
    }
}

TEST(CarveCorpus, CarveOnlyCommandScansAndRecoversAnImage) {
    test::ScratchDir dir;
    const CorpusImage image = MakeCorpusImage();
    const std::string imagePath = dir / "corpus.img";
    test::WriteWholeFile(imagePath, image.bytes);
    const std::string xdg = "XDG_DATA_HOME=" + (dir / "xdg");

    const auto scan = test::RunKeltra({"scan", imagePath, "--carve-only", "--json"}, {xdg});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    std::set<std::string> listed;
    std::istringstream lines(scan.out);
    for (std::string line; std::getline(lines, line);) {
        listed.insert(nlohmann::json::parse(line).at("name").get<std::string>());
    }
    for (const Placed& placed : image.files) {
        const auto expected = kCarvedAs.find(placed.file);
        if (expected == kCarvedAs.end()) continue;
        EXPECT_EQ(listed.count(std::to_string(placed.sector) + "." + expected->second), 1u)
            << placed.file;
    }

    const std::string to = dir / "recovered";
    const auto recover = test::RunKeltra(
        {"recover", imagePath, "--carve-only", "--types", "photo", "--to", to}, {xdg});
    ASSERT_EQ(recover.exitCode, 0) << recover.err;
    for (const Placed& placed : image.files) {
        if (placed.file != "jfif.jpg" && placed.file != "sample.png") continue;
        const std::string name = std::to_string(placed.sector) + "." + kCarvedAs.at(placed.file);
        EXPECT_EQ(test::ReadWholeFile(to + "/photo/" + name), placed.bytes) << name;
    }

    // --deep and --carve-only do not go together.
    EXPECT_EQ(test::RunKeltra({"scan", imagePath, "--carve-only", "--deep"}, {xdg}).exitCode, 2);
}

}  // namespace
}  // namespace keltra
