// GIF: "GIF87a"/"GIF89a", the screen descriptor and its colour table, then blocks (extensions
// and images, their data in length-prefixed sub-blocks) up to the trailer 3B. Where that chain
// does not hold, the file ends after the trailer 00 3B that footer acceptance takes.
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"
#include "engines/carving/trailer_search.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kGifLimit = 128 * kMiB;

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

uint64_t GifRule(CarveSession& session, ByteView header) {
    return FindTrailerEnd(session, header, "\x00\x3B"sv, kGifLimit);
}

// Sub-blocks from `pos` to their zero terminator; the position after it.
std::optional<uint64_t> SkipSubBlocks(CarvedFileBytes& file, uint64_t pos) {
    while (true) {
        const auto length = file.Le(pos, 1);
        if (!length) return std::nullopt;
        ++pos;
        if (*length == 0) return pos;
        pos += *length;
    }
}

uint64_t ColourTableBytes(uint8_t flags) {
    return (flags & 0x80) != 0 ? 3 * (uint64_t{2} << (flags & 7)) : 0;
}

StructureEnd WalkBlocks(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kGifLimit);
    uint64_t pos = 13 + ColourTableBytes(Byte(header, 10));
    bool image = false;
    while (true) {
        const auto kind = file.Le(pos, 1);
        if (!kind) break;
        if (*kind == 0x3B) {
            return image ? StructureEnd::Found(pos + 1) : StructureEnd::Broken();
        }
        std::optional<uint64_t> next;
        if (*kind == 0x21) {
            next = SkipSubBlocks(file, pos + 2);
        } else if (*kind == 0x2C) {
            std::array<std::byte, 10> descriptor{};
            if (!file.Read(pos, descriptor)) break;
            // The LZW code size byte, then the image data.
            next = SkipSubBlocks(file, pos + 10 + ColourTableBytes(Byte(descriptor, 9)) + 1);
            image = true;
        } else {
            return StructureEnd::Broken();
        }
        if (!next) break;
        pos = *next;
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseGif(CarveSession&, ByteView b) {
    if (b.size() < 8 || !At(b, 0, "GIF")) return kTypeNone;
    const uint8_t letter = Byte(b, 5);
    if (IsDigit(Byte(b, 3)) && IsDigit(Byte(b, 4)) && letter >= 'a' && letter <= 'z') {
        return kTypeGif;
    }
    return kTypeNone;
}

uint64_t FindGifEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkBlocks(session, header)), GifRule,
                     header);
}

}  // namespace keltra
