#include "engines/carving/zero_sectors.h"

#include <gtest/gtest.h>

#include <vector>

#include "engines/carving/carve_at_sector.h"

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

// No format starts with a zero sector, so a carver passes a run of them in one step and is left
// as offering each would have left it.
TEST(ZeroSectors, CarverPassesZeroRunsOfEverySectorSizeLeavingItsStateAsAnAttemptWould) {
    for (const int size : {512, 1024, 2048, 4096}) {
        SCOPED_TRACE(size);
        std::vector<std::byte> bytes(static_cast<size_t>(size) * 5);
        bytes[static_cast<size_t>(size) * 4 + 9] = std::byte{0x47};
        CarveSession session;
        session.transportStreamFlag = 0;
        session.m2tsFlag = 1;
        EXPECT_EQ(PassOverZeroSectors(session, size, bytes), 4u);
        EXPECT_EQ(session.transportStreamFlag, 1);
        EXPECT_EQ(session.m2tsFlag, 0);
        session.m2tsFlag = 1;
        EXPECT_EQ(PassOverZeroSectors(session, size, std::span(bytes).subspan(4 * size)), 0u);
        EXPECT_EQ(session.m2tsFlag, 1) << "a sector that is not zero is left to the recognisers";
    }
    CarveSession session;
    EXPECT_EQ(PassOverZeroSectors(session, 520, std::vector<std::byte>(5200)), 0u);
}

}  // namespace
}  // namespace keltra
