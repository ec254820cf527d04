#include "engines/carving/zero_sectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engines/carving/carve_at_sector.h"
#include "engines/carver/carver_screen.h"
#include "support/test_support.h"

namespace keltra {
namespace {

TEST(ZeroSectors, CountsWholeZeroSectorsUpToTheFirstByteThatIsNot) {
    constexpr size_t kSector = 512;
    std::vector<std::byte> bytes(10 * kSector + 100);
    EXPECT_EQ(LeadingZeroSectors(bytes, kSector), 10u) << "a trailing part of a sector is not one";
    // A non-zero byte anywhere in a sector ends the run before it: first byte, a byte in a
    // later block, the last byte.
    for (const size_t at : {size_t{3 * kSector}, 3 * kSector + 77, 3 * kSector + 200,
                            4 * kSector - 1}) {
        std::vector<std::byte> one = bytes;
        one[at] = std::byte{0x01};
        EXPECT_EQ(LeadingZeroSectors(one, kSector), 3u) << "byte " << at;
    }
    bytes[0] = std::byte{0x80};
    EXPECT_EQ(LeadingZeroSectors(bytes, kSector), 0u);
    EXPECT_EQ(LeadingZeroSectors({}, kSector), 0u);
    // Other sector sizes; sizes that are not whole words count nothing.
    const std::vector<std::byte> zeros(3 * 4096);
    EXPECT_EQ(LeadingZeroSectors(zeros, 4096), 3u);
    EXPECT_EQ(LeadingZeroSectors(zeros, 2048), 6u);
    EXPECT_EQ(LeadingZeroSectors(zeros, 100), 0u);
    EXPECT_EQ(LeadingZeroSectors(zeros, 0), 0u);
}

// The carver's screen marks only sectors where a file may start: no format starts with a zero
// sector (of any carvable size) or with bytes that merely share a format's first byte; a JPEG's
// first sector is marked, and so is a transport stream's, whose answer depends on the session.
// Outside the carvable sizes it leaves every sector to the carver, which refuses them itself.
TEST(ZeroSectors, CarverScreenMarksOnlySectorsWhereAFileMayStart) {
    const auto jpeg = test::ReadWholeFile(test::TestDataPath("signatures/jfif.jpg"));
    const auto stream = test::ReadWholeFile(test::TestDataPath("signatures/sample.ts"));
    for (const int size : {512, 1024, 2048, 4096}) {
        SCOPED_TRACE(size);
        const auto bytes = static_cast<size_t>(size);
        std::vector<std::byte> sectors(bytes * 7);
        sectors[bytes * 4 + 9] = std::byte{0x47};  // a zero first byte, not a zero sector
        sectors[bytes * 5 - 1] = std::byte{0x01};  // only the last byte set
        std::copy_n(jpeg.begin(), std::min(bytes, jpeg.size()), sectors.begin() + 5 * bytes);
        std::copy_n(stream.begin(), std::min(bytes, stream.size()), sectors.begin() + 6 * bytes);
        std::vector<uint8_t> marks(7, 0x10);
        CarverScreen(size).Mark(sectors, marks, 0x04);
        EXPECT_EQ(marks, (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x10, 0x10, 0x14, 0x14}));
    }
    std::vector<uint8_t> marks(10);
    CarverScreen(520).Mark(std::vector<std::byte>(5200), marks, 0x01);
    EXPECT_EQ(marks, std::vector<uint8_t>(10, 0x01));
}

}  // namespace
}  // namespace keltra
