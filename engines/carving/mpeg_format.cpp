// MPEG program streams (pack header with a system header) and video elementary streams
// (sequence header followed by a group of pictures).
#include <algorithm>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kPack = "\x00\x00\x01\xBA"sv;
constexpr std::string_view kSystemHeader = "\x00\x00\x01\xBB"sv;
constexpr std::string_view kSequence = "\x00\x00\x01\xB3"sv;
constexpr std::string_view kGroup = "\x00\x00\x01\xB8"sv;
constexpr std::string_view kSequenceEnd = "\x00\x00\x01\xB7"sv;
constexpr std::string_view kProgramEnd = "\x00\x00\x01\xB9"sv;

class MpegEndCode : public FooterTest {
  public:
    explicit MpegEndCode(std::string_view code) : code_(code) {}
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        const auto pos = FindAcceptedFooter(c.read.first(c.stopAt), code_);
        if (!pos) return std::nullopt;
        return c.offset + *pos + code_.size();
    }

  private:
    std::string_view code_;
};

}  // namespace

FileTypeCode RecogniseMpeg(ByteView b) {
    if (b.size() < 16) return kTypeNone;
    const auto head = b.first(std::min<size_t>(b.size(), 32));
    if (At(b, 0, kPack) && FindBytes(head, kSystemHeader)) return kTypeMpeg;
    if (At(b, 0, kSequence) && FindBytes(head, kGroup)) return kTypeMpeg;
    return kTypeNone;
}

uint64_t FindMpegEnd(ByteView header) {
    MpegEndCode test(At(header, 0, kSequence) ? kSequenceEnd : kProgramEnd);
    return RunEndSearch(6 * kGiB, kTypeMpeg, &test);
}

}  // namespace keltra
