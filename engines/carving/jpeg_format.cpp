// JPEG (JFIF or Exif first). The end is the last end-of-image marker that footer acceptance
// takes before the search stops; an embedded thumbnail's marker, followed by more data, is
// passed over.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kEndOfImage = "\xFF\xD9"sv;

class EndOfImage : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (const auto pos = FindAcceptedFooter(c.read.first(c.stopAt), kEndOfImage)) {
            candidate_ = c.offset + *pos + kEndOfImage.size();
        }
        return std::nullopt;
    }
    void Finish(uint64_t& size) override {
        if (candidate_ && *candidate_ < size) size = *candidate_;
    }

  private:
    std::optional<uint64_t> candidate_;
};

}  // namespace

FileTypeCode RecogniseJpeg(ByteView b) {
    if (b.size() < 16) return kTypeNone;
    if (At(b, 0, "\xFF\xD8\xFF\xE0"sv) && At(b, 6, "JFIF")) return kTypeJpeg;
    if (At(b, 0, "\xFF\xD8\xFF\xE1"sv) && At(b, 6, "Exif")) return kTypeJpeg;
    return kTypeNone;
}

uint64_t FindJpegEnd(ByteView header) {
    if (const auto pos = FindAcceptedFooter(header, kEndOfImage)) {
        return *pos + kEndOfImage.size();
    }
    EndOfImage test;
    return RunEndSearch(128 * kMiB, kTypeNone, &test);
}

}  // namespace keltra
