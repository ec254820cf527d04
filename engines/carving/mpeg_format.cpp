// MPEG program streams (pack header with a system header) and video elementary streams
// (sequence header followed by a group of pictures). A program stream is its chain of packs and
// packets, each as long as its header says, to the program end code or, where the chain stops,
// after its last packet; an elementary stream has no lengths and ends at its sequence end code.
#include <algorithm>
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
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
        const auto pos = FindAcceptedFooter(c.read.first(c.stopAt), code_, c.sectorSize);
        if (!pos) return std::nullopt;
        return c.offset + *pos + code_.size();
    }

  private:
    std::string_view code_;
};

constexpr uint64_t kMpegLimit = 6 * kGiB;

// The system clock reference of a pack header: 33 bits split by marker bits, laid out one way
// in MPEG-2 packs and another in MPEG-1's.
uint64_t ClockReference(ByteView pack, bool mpeg2) {
    const uint64_t b4 = Byte(pack, 4), b5 = Byte(pack, 5), b6 = Byte(pack, 6), b7 = Byte(pack, 7),
                   b8 = Byte(pack, 8);
    if (mpeg2) {
        return ((b4 & 0x38) >> 3) << 30 | (b4 & 0x03) << 28 | b5 << 20 | ((b6 & 0xF8) >> 3) << 15 |
               (b6 & 0x03) << 13 | b7 << 5 | b8 >> 3;
    }
    return ((b4 >> 1) & 7) << 30 | b5 << 22 | (b6 >> 1) << 15 | b7 << 7 | b8 >> 1;
}

StructureEnd WalkPacks(CarveSession& session) {
    CarvedFileBytes file(session, kMpegLimit);
    uint64_t pos = 0;
    bool packet = false;
    std::optional<uint64_t> lastClock;
    while (true) {
        std::array<std::byte, 14> head{};
        if (!file.Read(pos, std::span(head).first(6))) break;
        if (!At(head, 0, "\x00\x00\x01"sv)) break;
        const uint8_t code = Byte(head, 3);
        if (code == 0xB9) return StructureEnd::Found(pos + 4);
        if (code == 0xBA) {
            // MPEG-2 packs ('01' after the code) carry stuffing; MPEG-1 packs ('0010') do not.
            const bool mpeg2 = (Byte(head, 4) & 0xC0) == 0x40;
            if (!mpeg2 && (Byte(head, 4) & 0xF0) != 0x20) break;
            if (!file.Read(pos, std::span(head).first(mpeg2 ? 14 : 12))) break;
            // The clock only goes forward inside a stream: a pack whose clock is behind the
            // last one's starts another stream (written right after this one).
            const uint64_t clock = ClockReference(head, mpeg2);
            if (lastClock && clock < *lastClock) break;
            lastClock = clock;
            pos += mpeg2 ? 14 + (Byte(head, 13) & 7) : 12;
        } else if (code >= 0xBB) {
            pos += 6 + uint64_t{Be16(head, 4)};
            packet = true;
        } else {
            break;
        }
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    // Where the chain stops short of an end code, the stream ends after its last whole packet;
    // one that runs off the source is cut.
    if (!packet || pos > file.Available()) return StructureEnd::Broken();
    return StructureEnd::Found(pos);
}

uint64_t MpegRule(CarveSession& session, ByteView header) {
    MpegEndCode test(At(header, 0, kSequence) ? kSequenceEnd : kProgramEnd);
    return RunEndSearch(session, kMpegLimit, kTypeMpeg, &test);
}

}  // namespace

FileTypeCode RecogniseMpeg(CarveSession&, ByteView b) {
    if (b.size() < 16) return kTypeNone;
    const auto head = b.first(std::min<size_t>(b.size(), 32));
    if (At(b, 0, kPack) && FindBytes(head, kSystemHeader)) return kTypeMpeg;
    if (At(b, 0, kSequence) && FindBytes(head, kGroup)) return kTypeMpeg;
    return kTypeNone;
}

uint64_t FindMpegEnd(CarveSession& session, ByteView header) {
    if (!At(header, 0, kPack)) return MpegRule(session, header);
    return EndOrRule(session, ConfirmedByStopScan(session, WalkPacks(session), kTypeMpeg), MpegRule,
                     header);
}

}  // namespace keltra
