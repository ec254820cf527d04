// MPEG audio: MP3 files that begin with an ID3v2 tag, and layer 2 streams. Both are a run of
// frames, each of a length its header gives, perhaps closed by an ID3v1 tag; where the frames
// cannot be followed, an MP3 ends after the last ID3v1 tag before the next header and a layer 2
// stream at the next header.
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
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

constexpr uint64_t kMp3Limit = 2 * kGiB;
constexpr uint64_t kMp2Limit = 256 * kMiB;

// Kilobits per second by bitrate index 1..14: MPEG-1 layers I, II, III; MPEG-2 (and 2.5)
// layer I, then layers II and III.
constexpr std::array<std::array<uint16_t, 15>, 5> kBitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};

// The length of the frame whose 4-byte header is `h`, when it is a frame of the same version,
// layer and sample rate as `first` (the stream's first header); 0 otherwise.
uint64_t FrameLength(uint32_t h, uint32_t first) {
    constexpr uint32_t kSame = 0xFFFE0C00;  // sync, version, layer, sample rate
    if ((h & kSame) != (first & kSame) || (h & 0xFFE00000) != 0xFFE00000) return 0;
    const uint32_t version = (h >> 19) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const uint32_t layer = 4 - ((h >> 17) & 3);
    const uint32_t bitrateIndex = (h >> 12) & 15;
    const uint32_t rateIndex = (h >> 10) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    const bool mpeg1 = version == 3;
    const size_t table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const uint64_t bitrate = uint64_t{kBitrates[table][bitrateIndex]} * 1000;
    const uint64_t rate = kMpeg1Rates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    const uint64_t padding = (h >> 9) & 1;
    if (layer == 1) return (12 * bitrate / rate + padding) * 4;
    const uint64_t perFrame = layer == 3 && !mpeg1 ? 72 : 144;
    return perFrame * bitrate / rate + padding;
}

// The end of the frames from `pos`, and of the ID3v1 tag right after them; unknown without a
// frame there.
StructureEnd WalkFrames(CarveSession& session, uint64_t limit, uint64_t pos) {
    CarvedFileBytes file(session, limit);
    const auto first = file.Be(pos, 4);
    if (!first || FrameLength(static_cast<uint32_t>(*first), static_cast<uint32_t>(*first)) == 0) {
        return StructureEnd::Unknown();
    }
    for (;;) {
        const auto h = file.Be(pos, 4);
        const uint64_t length =
            h ? FrameLength(static_cast<uint32_t>(*h), static_cast<uint32_t>(*first)) : 0;
        if (length == 0 || length > file.Available() - pos) break;
        pos += length;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    if (file.Holds(pos, "TAG") && pos + 128 <= file.Available()) pos += 128;
    return StructureEnd::Found(pos);
}

uint64_t Mp3Rule(CarveSession& session, ByteView) {
    Id3v1Tag test;
    return RunEndSearch(session, kMp3Limit, kTypeNone, &test);
}

uint64_t Mp2Rule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kMp2Limit, kTypeMpegAudioLayer2, nullptr);
}

}  // namespace

FileTypeCode RecogniseMp3(CarveSession&, ByteView b) {
    if (b.size() < 10 || !At(b, 0, "ID3")) return kTypeNone;
    if (Byte(b, 3) == 0xFF || Byte(b, 4) == 0xFF || (Byte(b, 5) & 0x1F) != 0) return kTypeNone;
    for (size_t i = 6; i < 10; ++i) {
        if (Byte(b, i) >= 0x80) return kTypeNone;  // the tag size is synch-safe
    }
    return kTypeMp3;
}

// The frames follow the ID3v2 tag (its synch-safe size, and a footer when flagged).
uint64_t FindMp3End(CarveSession& session, ByteView header) {
    uint64_t tag = 10;
    for (size_t i = 6; i < 10; ++i) tag += uint64_t{Byte(header, i)} << (7 * (9 - i));
    if ((Byte(header, 5) & 0x10) != 0) tag += 10;
    return EndOrRule(session, ConfirmedByStopScan(session, WalkFrames(session, kMp3Limit, tag)),
                     Mp3Rule, header);
}

FileTypeCode RecogniseMp2(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    return At(b, 0, "\xFF\xFD\xE4\x00"sv) ? kTypeMpegAudioLayer2 : kTypeNone;
}

// At 384 kbit/s and 48 kHz every fourth frame starts a sector; frames do not end the stream.
uint64_t FindMp2End(CarveSession& session, ByteView header) {
    return EndOrRule(
        session,
        ConfirmedByStopScan(session, WalkFrames(session, kMp2Limit, 0), kTypeMpegAudioLayer2),
        Mp2Rule, header);
}

}  // namespace keltra
