// MPEG audio: MP3 files that begin with an ID3v2 tag, and layer 2 streams.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

// An ID3v1 tag ("TAG" and 125 more bytes) closes the file. The last one found before the
// search ends is taken when it lies before the stop.
class Id3v1Tag : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (const auto pos = FindBytes(c.read.first(c.stopAt), "TAG")) {
            candidate_ = c.offset + *pos + 128;
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

FileTypeCode RecogniseMp3(ByteView b) {
    if (b.size() < 10 || !At(b, 0, "ID3")) return kTypeNone;
    if (Byte(b, 3) == 0xFF || Byte(b, 4) == 0xFF || (Byte(b, 5) & 0x1F) != 0) return kTypeNone;
    for (size_t i = 6; i < 10; ++i) {
        if (Byte(b, i) >= 0x80) return kTypeNone;  // the tag size is synch-safe
    }
    return kTypeMp3;
}

uint64_t FindMp3End(ByteView) {
    Id3v1Tag test;
    return RunEndSearch(2 * kGiB, kTypeNone, &test);
}

FileTypeCode RecogniseMp2(ByteView b) {
    using namespace std::string_view_literals;
    return At(b, 0, "\xFF\xFD\xE4\x00"sv) ? kTypeMpegAudioLayer2 : kTypeNone;
}

// At 384 kbit/s and 48 kHz every fourth frame starts a sector; frames do not end the stream.
uint64_t FindMp2End(ByteView) {
    return RunEndSearch(256 * kMiB, kTypeMpegAudioLayer2, nullptr);
}

}  // namespace keltra
