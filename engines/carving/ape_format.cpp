// Monkey's Audio: "MAC " header; the file ends with an APEv2 tag (header and footer).
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

class ApeTag : public FooterTest {
  public:
    // The tag's header opens it and its 32-byte footer closes the file. Without a footer in
    // this chunk the file is taken to end with the chunk; either way the search ends.
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        constexpr std::string_view kTag = "APETAGEX\xD0\x07"sv;
        const auto first = FindBytes(c.read, kTag);
        if (!first) return std::nullopt;
        if (const auto second = FindBytes(c.read, kTag, *first + kTag.size())) {
            return c.offset + *second + 32;
        }
        return c.offset + c.read.size();
    }
};

}  // namespace

FileTypeCode RecogniseApe(CarveSession&, ByteView b) {
    return At(b, 0, "MAC ") ? kTypeMonkeysAudio : kTypeNone;
}

uint64_t FindApeEnd(CarveSession& session, ByteView) {
    ApeTag test;
    return RunEndSearch(session, 2 * kGiB, kTypeNone, &test);
}

}  // namespace keltra
