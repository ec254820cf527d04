#include "engines/carving/signature_carver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engines/deep/carve_pass.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using namespace std::string_view_literals;
constexpr int kSector = 512;

std::vector<std::byte> Bytes(std::string_view text) {
    std::vector<std::byte> v(text.size());
    std::memcpy(v.data(), text.data(), text.size());
    return v;
}

void Put(std::vector<std::byte>& image, size_t at, std::span<const std::byte> bytes) {
    if (image.size() < at + bytes.size()) image.resize(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutLe32(std::vector<std::byte>& image, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::byte>(v >> (8 * i));
}

// A JPEG header sector (an APP0 segment, a scan header, scan data) whose end marker lies 3
// bytes into the next sector, zeros after it.
void PutJpeg(std::vector<std::byte>& image, uint64_t sector) {
    const size_t at = sector * kSector;
    image.resize(std::max(image.size(), at + 2 * kSector));
    Put(image, at, Bytes("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00"sv));
    Put(image, at + 20, Bytes("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00"sv));
    for (size_t i = at + 30; i < at + kSector; ++i) image[i] = std::byte{0x55};
    image[at + kSector] = std::byte{0x11};
    image[at + kSector + 1] = std::byte{0xFF};
    image[at + kSector + 2] = std::byte{0xD9};
}

// A BMP header whose size field says `size`.
void PutBmp(std::vector<std::byte>& image, uint64_t sector, uint32_t size) {
    const size_t at = sector * kSector;
    image.resize(std::max(image.size(), at + kSector));
    Put(image, at, Bytes("BM"));
    PutLe32(image, at + 2, size);
    PutLe32(image, at + 14, 40);
    for (size_t i = at + 54; i < at + kSector; ++i) image[i] = std::byte{0x42};
}

// An engine on a memory image: it reads through the same bytes as the pass.
struct Carver {
    explicit Carver(std::vector<std::byte> image, const std::string& folder) {
        const uint64_t sectors = image.size() / kSector;
        const std::string path = folder + "/image.img";
        test::WriteWholeFile(path, image);
        engine.SetLogFolder(folder);
        EXPECT_EQ(engine.Open(SourceRef::Image(path, 7)), kOk);
        OpenReaderSource(source, std::make_unique<test::MemoryReader>(std::move(image)), sectors);
    }
    std::vector<FoundRecord> Root() {
        std::vector<FoundRecord> out;
        EXPECT_EQ(engine.ListFolder(nullptr, 0, out), kOk);
        return out;
    }
    SignatureCarver engine;
    SectorSource source;
};

struct CopySeen {
    int calls = 0;
    int lastPercent = -1;
    Status lastError = kOk;
};

int OnCopy(void* user, int percent, int, Status error, const std::string&) {
    auto* seen = static_cast<CopySeen*>(user);
    ++seen->calls;
    seen->lastPercent = percent;
    seen->lastError = error;
    return 0;
}

TEST(FileTypeRecovery, CarvesRecordsAndSkipsByTheSizeRule) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(64 * kSector);
    PutJpeg(image, 10);
    PutBmp(image, 20, 5000);
    Carver c(image, dir.Path().string());

    uint64_t skip = 1, found = 4;
    const auto sector = [&](uint64_t n) { return std::span(image).subspan(n * kSector, kSector); };
    EXPECT_EQ(c.engine.CarveSector(kSector, sector(3), 3, 0, 64, -1, c.source, skip, found),
              kErrInvalidParameter);
    EXPECT_EQ(skip, 1u);
    EXPECT_EQ(found, 4u);

    ASSERT_EQ(c.engine.CarveSector(kSector, sector(10), 10, 0, 64, -1, c.source, skip, found), kOk);
    EXPECT_EQ(skip, 2u) << "a sector and 3 bytes: two sectors";
    EXPECT_EQ(found, 5u);
    ASSERT_EQ(c.engine.CarveSector(kSector, sector(20), 20, 0, 64, -1, c.source, skip, found), kOk);
    EXPECT_EQ(skip, 1u) << "a BMP's size comes from its header: the next sector is examined";

    const auto root = c.Root();
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0].Name(), "10.jpg");
    EXPECT_EQ(root[1].Name(), "20.bmp");
    const FoundRecord& jpg = root[0];
    EXPECT_EQ(jpg.sourceTag, 7);
    EXPECT_EQ(jpg.origin, 4u);
    EXPECT_EQ(jpg.isFolder, 0u);
    EXPECT_EQ(jpg.contentIntact, 1u);
    EXPECT_EQ(jpg.recordIndex, 1u);
    EXPECT_EQ(jpg.key, 0u);
    EXPECT_EQ(jpg.clusterBytes, -1);
    EXPECT_EQ(jpg.size, uint64_t{kSector + 3});
    EXPECT_EQ(jpg.location, 10u);
    EXPECT_EQ(root[1].size, 5000u);
    EXPECT_EQ(root[1].recordIndex, 2u);
    EXPECT_EQ(c.engine.GetRecordCount(), 2u);

    // One flat root: a folder or a depth lists and counts nothing; no folder paths.
    std::vector<FoundRecord> none;
    EXPECT_EQ(c.engine.ListFolder(&jpg, 0, none), kOk);
    EXPECT_EQ(c.engine.ListFolder(nullptr, 1, none), kOk);
    EXPECT_TRUE(none.empty());
    uint32_t count = 99;
    EXPECT_EQ(c.engine.CountFolderFiles(&jpg, 0, count), kOk);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(c.engine.CountFolderFiles(nullptr, 0, count), kOk);
    EXPECT_EQ(count, 2u);
    std::string path = "x";
    EXPECT_EQ(c.engine.GetRecordPath(jpg, path), kOk);
    EXPECT_TRUE(path.empty());
    std::vector<FoundRecord> jpegs;
    EXPECT_EQ(c.engine.FindByExtensions("*.jpg|", jpegs), kOk);
    ASSERT_EQ(jpegs.size(), 1u);
    EXPECT_EQ(jpegs[0].location, 10u);
}

// A JPEG whose scan breaks off: carved all the same, marked not intact, and still listed and
// found (unlike a file-system engine's photo whose bytes are of another type).
TEST(FileTypeRecovery, DamagedFilesAreKeptListedAndMarked) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(16 * kSector);
    PutJpeg(image, 2);
    PutJpeg(image, 8);
    // The second one's header segment runs into bytes that are no marker.
    Put(image, 8 * kSector + 4, Bytes("\x00\x20"sv));
    Carver c(image, dir.Path().string());
    uint64_t skip = 1, found = 0;
    const auto sector = [&](uint64_t n) { return std::span(image).subspan(n * kSector, kSector); };
    ASSERT_EQ(c.engine.CarveSector(kSector, sector(2), 2, 0, 16, -1, c.source, skip, found), kOk);
    ASSERT_EQ(c.engine.CarveSector(kSector, sector(8), 8, 0, 16, -1, c.source, skip, found), kOk);
    const auto root = c.Root();
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[1].Name(), "8.jpg");
    EXPECT_EQ(root[1].size, uint64_t{kSector + 3}) << "the end marker still ends it";
    EXPECT_EQ(root[1].contentIntact, 0u);
    std::vector<FoundRecord> jpegs;
    EXPECT_EQ(c.engine.FindByExtensions("*.jpg|", jpegs), kOk);
    EXPECT_EQ(jpegs.size(), 2u);
}

TEST(FileTypeRecovery, CopiesFromTheLocationAndStopsAtTheSourceEnd) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(40 * kSector);
    PutJpeg(image, 4);
    PutBmp(image, 8, 0);
    // A BMP whose size field runs 30 sectors past the end of the 40-sector image.
    PutBmp(image, 30, 40 * kSector);
    Carver c(image, dir.Path().string());
    uint64_t skip = 1, found = 0;
    for (uint64_t s : {4, 8, 30}) {
        ASSERT_EQ(c.engine.CarveSector(kSector, std::span(image).subspan(s * kSector, kSector), s,
                                       0, 40, -1, c.source, skip, found),
                  kOk);
    }
    const auto root = c.Root();
    ASSERT_EQ(root.size(), 3u);
    const FoundRecord &bmpPastEnd = root[0], &jpg = root[1], &emptyBmp = root[2];
    ASSERT_EQ(jpg.Name(), "4.jpg");

    CopySeen seen;
    c.engine.SetCallbacks(nullptr, OnCopy, &seen, 100);
    const std::string out = dir / "out/sub/4.jpg";
    ASSERT_EQ(c.engine.RecoverRecord(jpg, out, 0), kOk);
    const auto copied = test::ReadWholeFile(out);
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), image.begin() + 4 * kSector));
    EXPECT_EQ(copied.size(), jpg.size);
    EXPECT_EQ(seen.lastPercent, 100);

    seen = {};
    ASSERT_EQ(c.engine.RecoverRecord(emptyBmp, dir / "out/8.bmp", 0), kOk);
    EXPECT_EQ(std::filesystem::file_size(dir / "out/8.bmp"), 0u);

    // What lies before the end is recovered, then the error is told once at 100.
    seen = {};
    EXPECT_EQ(c.engine.RecoverRecord(bmpPastEnd, dir / "out/30.bmp", 0), kErrInvalidParameter);
    EXPECT_EQ(std::filesystem::file_size(dir / "out/30.bmp"), 10u * kSector);
    EXPECT_EQ(seen.lastPercent, 100);
    EXPECT_EQ(seen.lastError, kErrInvalidParameter);
}

TEST(FileTypeRecovery, ReopenedLogListsEarlierFilesOnceAndContinuesTheIndices) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(64 * kSector);
    PutJpeg(image, 5);
    PutJpeg(image, 40);
    const std::string imagePath = dir / "image.img";
    std::string logName;
    {
        Carver c(image, dir.Path().string());
        logName = c.engine.LogName();
        EXPECT_EQ(logName.rfind("File_Type_0_", 0), 0u);
        uint64_t skip = 1, found = 0;
        ASSERT_EQ(c.engine.CarveSector(kSector, std::span(image).subspan(5 * kSector, kSector), 5,
                                       0, 64, -1, c.source, skip, found),
                  kOk);
        // No flush: the engine's end writes the log.
    }
    SignatureCarver reopened;
    reopened.SetLogFolder(dir.Path().string());
    ASSERT_EQ(reopened.OpenWithLog(SourceRef::Image(imagePath, 7), kSector, logName), kOk);
    EXPECT_EQ(reopened.GetRecordCount(), 1u);
    SectorSource source;
    ASSERT_EQ(OpenImageSource(source, imagePath), kOk);
    uint64_t skip = 1, found = 1;
    // The resumed pass takes up again before the point it stopped at: the file met there again
    // is passed over as before, and listed once.
    ASSERT_EQ(reopened.CarveSector(kSector, std::span(image).subspan(5 * kSector, kSector), 5, 0,
                                   64, -1, source, skip, found),
              kOk);
    EXPECT_GT(skip, 1u);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(reopened.GetRecordCount(), 1u);
    ASSERT_EQ(reopened.CarveSector(kSector, std::span(image).subspan(40 * kSector, kSector), 40, 0,
                                   64, -1, source, skip, found),
              kOk);
    std::vector<FoundRecord> root;
    ASSERT_EQ(reopened.ListFolder(nullptr, 0, root), kOk);
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0].Name(), "40.jpg");
    EXPECT_EQ(root[0].recordIndex, 2u);
    EXPECT_EQ(root[1].Name(), "5.jpg");
    EXPECT_EQ(root[1].recordIndex, 1u);
    EXPECT_EQ(std::filesystem::file_size(dir / logName), 2 * kFoundRecordSize);

    // A new open starts a new log, never the old one again.
    SignatureCarver fresh;
    fresh.SetLogFolder(dir.Path().string());
    ASSERT_EQ(fresh.Open(SourceRef::Image(imagePath, 1)), kOk);
    EXPECT_NE(fresh.LogName(), logName);
    EXPECT_EQ(fresh.GetRecordCount(), 0u);
}

TEST(FileTypeRecovery, PreviewFallsBackToTheBufferWhenTheTemporaryPathIsTooLong) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(16 * kSector);
    PutJpeg(image, 2);
    Carver c(image, dir.Path().string());
    uint64_t skip = 1, found = 0;
    ASSERT_EQ(c.engine.CarveSector(kSector, std::span(image).subspan(2 * kSector, kSector), 2, 0,
                                   16, -1, c.source, skip, found),
              kOk);
    const FoundRecord jpg = c.Root().at(0);

    std::vector<std::byte> buffer(4096);
    uint32_t size = static_cast<uint32_t>(buffer.size());
    std::string tempPath;
    ASSERT_EQ(c.engine.ReadRecordData(jpg, tempPath, buffer, size, nullptr, nullptr), kOk);
    EXPECT_EQ(std::filesystem::path(tempPath).filename(), "tmp.jpg");
    EXPECT_EQ(size, 0u);

    const std::string deep = (appData.Path() / std::string(240, 'd')).string();
    ASSERT_EQ(setenv("XDG_DATA_HOME", deep.c_str(), 1), 0);
    size = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(c.engine.ReadRecordData(jpg, tempPath, buffer, size, nullptr, nullptr), kOk);
    EXPECT_TRUE(tempPath.empty());
    EXPECT_EQ(size, jpg.size);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + size, image.begin() + 2 * kSector));
}

struct PassSeen {
    std::vector<std::pair<int, int>> calls;  // percent, weight
    int stopAfter = -1;
};

int OnPass(void* user, int percent, int weight, int, uint64_t, uint64_t, uint64_t, int) {
    auto* seen = static_cast<PassSeen*>(user);
    seen->calls.emplace_back(percent, weight);
    return static_cast<int>(seen->calls.size()) == seen->stopAfter ? kCancelled : 0;
}

TEST(FileTypeRecovery, WholeRangePassReportsOnTheDeepScaleAndStopsKeepingItsFinds) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    std::vector<std::byte> image(1024 * kSector);
    PutJpeg(image, 3);
    PutJpeg(image, 127);  // runs into the next chunk, which then starts after it, at 129
    PutJpeg(image, 700);
    Carver c(image, dir.Path().string());

    PassSeen seen;
    ASSERT_EQ(CarveWholeRange(c.engine, c.source, kSector, {0, 1024}, OnPass, &seen), kOk);
    // Chunks at 0, 129, 257, ..., 897, then the end.
    ASSERT_EQ(seen.calls.size(), 9u);
    for (size_t i = 0; i + 1 < seen.calls.size(); ++i) {
        EXPECT_EQ(seen.calls[i].second, kCarvePassWeight);
        EXPECT_GE(seen.calls[i].first, i == 0 ? 10 : seen.calls[i - 1].first);
    }
    EXPECT_EQ(seen.calls[0].first, 22);  // 129 of 1024 sectors passed
    EXPECT_EQ(seen.calls[7].first, 110);
    EXPECT_EQ(seen.calls.back(), std::make_pair(100, 100));
    std::vector<std::string> names;
    for (const FoundRecord& r : c.Root()) names.emplace_back(r.Name());
    EXPECT_EQ(names, (std::vector<std::string>{"127.jpg", "3.jpg", "700.jpg"}));

    // A stop after the first chunk keeps the files carved in it.
    SignatureCarver second;
    second.SetLogFolder(dir.Path().string());
    ASSERT_EQ(second.Open(SourceRef::Image(dir / "image.img", 1)), kOk);
    PassSeen stopped;
    stopped.stopAfter = 1;
    EXPECT_EQ(CarveWholeRange(second, c.source, kSector, {0, 1024}, OnPass, &stopped), kCancelled);
    EXPECT_EQ(stopped.calls.size(), 1u);
    EXPECT_EQ(second.GetRecordCount(), 2u);
}

}  // namespace
}  // namespace keltra
