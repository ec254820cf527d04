// JPEG (JFIF or Exif first). The file is its chain of marker segments, each with its length,
// and after each start-of-scan the entropy-coded data up to the next marker; it ends at the
// end-of-image marker, or after the last of several images stored back to back (the extra
// pictures of multi-picture files). Where the chain breaks, the file is damaged, and the end
// is the last end-of-image marker that footer acceptance takes before the search stops; an
// embedded thumbnail's marker, followed by more data, is passed over.
#include <cstring>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kJpegLimit = 128 * kMiB;
constexpr std::string_view kEndOfImage = "\xFF\xD9"sv;

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;

class EndOfImage : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (const auto pos =
                FindAcceptedFooter(c.read.first(c.stopAt), kEndOfImage, c.sectorSize)) {
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

bool IsStandalone(uint8_t marker) {
    return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;  // restarts, TEM
}

class JpegWalk {
  public:
    explicit JpegWalk(CarveSession& session) : file_(session, kJpegLimit) {}

    StructureEnd Run() {
        uint64_t pos = 0;
        for (;;) {
            const auto end = Image(pos);
            if (!end) return file_.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            // Another image right after this one belongs to the same file.
            if (!file_.Holds(*end, "\xFF\xD8\xFF"sv)) return StructureEnd::Found(*end);
            pos = *end;
        }
    }

  private:
    // The end of the image whose start-of-image marker is at `pos`.
    std::optional<uint64_t> Image(uint64_t pos) {
        pos += 2;
        bool scanned = false;
        for (;;) {
            const auto ff = file_.Be(pos, 1);
            if (ff != 0xFF) return std::nullopt;
            auto marker = file_.Be(pos + 1, 1);
            while (marker == 0xFF) marker = file_.Be(++pos + 1, 1);  // fill bytes
            if (!marker || *marker == 0x00 || *marker == kSoi ||
                (*marker > 0x01 && *marker < 0xC0)) {
                return std::nullopt;
            }
            if (*marker == kEoi) return scanned ? std::optional(pos + 2) : std::nullopt;
            if (IsStandalone(static_cast<uint8_t>(*marker))) {
                pos += 2;
                continue;
            }
            const auto length = file_.Be(pos + 2, 2);
            if (!length || *length < 2) return std::nullopt;
            pos += 2 + *length;
            if (*marker == kSos) {
                const auto next = NextMarker(pos);
                if (!next) return std::nullopt;
                pos = *next;
                scanned = true;
            }
        }
    }

    // The first marker after entropy-coded data from `pos`: an FF followed by neither a
    // stuffed zero nor a restart marker.
    std::optional<uint64_t> NextMarker(uint64_t pos) {
        for (;;) {
            const auto piece = file_.Window(pos);
            if (piece.empty()) return std::nullopt;
            const void* hit = std::memchr(piece.data(), 0xFF, piece.size());
            if (hit == nullptr) {
                pos += piece.size();
                continue;
            }
            pos += static_cast<uint64_t>(static_cast<const std::byte*>(hit) - piece.data());
            const auto after = file_.Be(pos + 1, 1);
            if (!after) return std::nullopt;
            if (*after == 0x00 || (*after >= 0xD0 && *after <= 0xD7)) {
                pos += 2;
                continue;
            }
            return pos;
        }
    }

    CarvedFileBytes file_;
};

uint64_t JpegRule(CarveSession& session, ByteView header) {
    if (const auto pos = FindAcceptedFooter(header, kEndOfImage, session.sectorSize)) {
        return *pos + kEndOfImage.size();
    }
    EndOfImage test;
    return RunEndSearch(session, kJpegLimit, kTypeNone, &test);
}

}  // namespace

FileTypeCode RecogniseJpeg(CarveSession&, ByteView b) {
    if (b.size() < 16) return kTypeNone;
    if (At(b, 0, "\xFF\xD8\xFF\xE0"sv) && At(b, 6, "JFIF")) return kTypeJpeg;
    if (At(b, 0, "\xFF\xD8\xFF\xE1"sv) && At(b, 6, "Exif")) return kTypeJpeg;
    return kTypeNone;
}

uint64_t FindJpegEnd(CarveSession& session, ByteView header) {
    JpegWalk walk(session);
    return EndOrRule(session, ConfirmedByStopScan(session, walk.Run()), JpegRule, header);
}

}  // namespace keltra
