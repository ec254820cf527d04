// A scanned engine closing its source: it lets go of the image (a loop device over it could
// then be detached, a card taken out) and keeps what it found; opened again it reads the found
// files as before; a path that now holds something else, or nothing, is refused.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "engines/engine_factory.h"
#include "storage/sector_source.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::array<std::byte, 64> HeadOf(ScanEngine& engine, const FoundRecord& record,
                                 Status& status) {
    std::array<std::byte, 64> head{};
    size_t got = 0;
    status = engine.ReadRecordHead(record, head, got);
    return head;
}

class SourceClosing : public testing::TestWithParam<std::tuple<const char*, bool>> {
  protected:
    test::ScopedAppDataFolder appData_;
    test::ScratchDir dir_;
};

TEST_P(SourceClosing, ClosedSourceKeepsTheFindingsAndReopensOnlyTheSameMedium) {
    const auto [fixture, deep] = GetParam();
    const std::string image = dir_ / "card.img";
    fs::copy_file(test::FixturePath(fixture), image);
    auto engine = CreateEngine(SourceRef::Image(image, 1), deep);
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->Scan(std::nullopt), kOk);
    std::vector<FoundRecord> photos;
    ASSERT_EQ(engine->FindByExtensions("*.jpg|", photos), kOk);
    ASSERT_FALSE(photos.empty());
    Status status = kOk;
    const auto head = HeadOf(*engine, photos.front(), status);
    ASSERT_EQ(status, kOk);
    EXPECT_EQ(head[0], std::byte{0xFF}) << "a JPEG's first byte";
    const uint64_t records = engine->GetRecordCount();
    ASSERT_GT(test::DescriptorsOn(image), 0);

    engine->CloseSource();
    EXPECT_EQ(test::DescriptorsOn(image), 0) << "every pass of the engine lets the image go";
    EXPECT_EQ(engine->GetRecordCount(), records);
    HeadOf(*engine, photos.front(), status);
    EXPECT_NE(status, kOk) << "no data is read from a closed source";

    ASSERT_EQ(engine->ReopenSource(), kOk);
    EXPECT_GT(test::DescriptorsOn(image), 0);
    std::vector<FoundRecord> again;
    ASSERT_EQ(engine->FindByExtensions("*.jpg|", again), kOk);
    EXPECT_EQ(again.size(), photos.size());
    EXPECT_EQ(HeadOf(*engine, photos.front(), status), head);
    EXPECT_EQ(status, kOk);
    EXPECT_EQ(engine->ReopenSource(), kOk) << "an open source stays as it is";

    // Another medium under the same path (the file grew), then none at all.
    engine->CloseSource();
    std::ofstream(image, std::ios::binary | std::ios::app) << std::string(1 << 20, '\0');
    EXPECT_EQ(engine->ReopenSource(), kErrNotReady);
    EXPECT_EQ(test::DescriptorsOn(image), 0);
    fs::remove(image);
    EXPECT_EQ(engine->ReopenSource(), kErrFileNotFound);
}

INSTANTIATE_TEST_SUITE_P(
    Images, SourceClosing,
    testing::Combine(testing::Values("photos_fat.img", "photos_ntfs.img", "photos_exfat.img"),
                     testing::Bool()),
    [](const testing::TestParamInfo<std::tuple<const char*, bool>>& info) {
        std::string name = std::get<0>(info.param);
        name = name.substr(0, name.find('.'));
        return name + (std::get<1>(info.param) ? "_deep" : "_quick");
    });

TEST(SectorSourceSuspend, ReaderSourcesAndUnopenedOnesAreLeftAsTheyAre) {
    SectorSource never;
    SuspendSource(never);
    EXPECT_EQ(ResumeSource(never), kOk);
    EXPECT_FALSE(never.IsOpen());

    const test::ScratchDir dir;
    const std::string path = dir / "image.bin";
    std::ofstream(path, std::ios::binary) << std::string(4096, 'x');
    SectorSource image;
    ASSERT_EQ(OpenImageSource(image, path), kOk);
    SuspendSource(image);
    std::array<std::byte, 512> sector{};
    uint32_t read = 0;
    EXPECT_NE(ReadSectors(image, 1, sector, 0, 512, read), kOk);
    EXPECT_EQ(image.totalSectors, 8u) << "what the source is stays known";
    ASSERT_EQ(ResumeSource(image), kOk);
    EXPECT_EQ(ReadSectors(image, 1, sector, 7, 512, read), kOk);
    EXPECT_EQ(sector[0], std::byte{'x'});
    image.Close();
    EXPECT_EQ(ResumeSource(image), kOk) << "a closed source is not opened again";
    EXPECT_FALSE(image.IsOpen());
}

}  // namespace
}  // namespace keltra
