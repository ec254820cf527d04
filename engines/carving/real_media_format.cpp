// RealMedia: ".RMF" header; the file ends after an empty index chunk.
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

class RealMediaIndex : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        constexpr std::string_view kIndex =
            "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"sv;
        const auto pos = FindBytes(c.read.first(c.stopAt), kIndex);
        if (!pos) return std::nullopt;
        return c.offset + *pos + kIndex.size();
    }
};

}  // namespace

FileTypeCode RecogniseRealMedia(CarveSession&, ByteView b) {
    return At(b, 0, ".RMF") ? kTypeRealMedia : kTypeNone;
}

uint64_t FindRealMediaEnd(CarveSession& session, ByteView) {
    RealMediaIndex test;
    return RunEndSearch(session, 6 * kGiB, kTypeNone, &test);
}

}  // namespace keltra
