// Ogg: a chain of pages ("OggS", each with its CRC-32), interleaving one or more logical streams.
// Each stream begins with a page flagged beginning-of-stream and ends with one flagged
// end-of-stream; the file ends with the page that ends its last open stream. The first packet of
// the first streams names the file: Vorbis .ogg, Opus .opus, FLAC (and other sound) .oga,
// Theora (and other video) .ogv.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kOggLimit = 4 * kGiB;
constexpr size_t kPageHeader = 27;
constexpr size_t kMaxStreams = 64;
constexpr uint8_t kBeginning = 0x02;
constexpr uint8_t kEnding = 0x04;

// The CRC of Ogg pages: polynomial 04C11DB7, most significant bit first, no reflection, starting
// at 0, over the page with its CRC field zeroed.
class OggCrc {
  public:
    OggCrc() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = (r & 0x80000000U) != 0 ? (r << 1) ^ 0x04C11DB7U : r << 1;
            table_[i] = r;
        }
    }
    uint32_t Of(ByteView page) const {
        uint32_t crc = 0;
        for (size_t i = 0; i < page.size(); ++i) {
            const uint8_t byte = (i >= 22 && i < 26) ? 0 : Byte(page, i);
            crc = (crc << 8) ^ table_[((crc >> 24) ^ byte) & 0xFF];
        }
        return crc;
    }

  private:
    std::array<uint32_t, 256> table_{};
};

const OggCrc& Crc() {
    static const OggCrc crc;
    return crc;
}

// A page that lies wholly in `b` at `at`: its size, or nothing.
std::optional<size_t> PageSize(ByteView b, size_t at) {
    if (at + kPageHeader > b.size() || !At(b, at, "OggS") || Byte(b, at + 4) != 0) {
        return std::nullopt;
    }
    const size_t segments = Byte(b, at + 26);
    if (at + kPageHeader + segments > b.size()) return std::nullopt;
    size_t size = kPageHeader + segments;
    for (size_t i = 0; i < segments; ++i) size += Byte(b, at + kPageHeader + i);
    return size;
}

// The type a stream's first packet names, kTypeNone for one that names none of them.
FileTypeCode TypeOfFirstPacket(ByteView packet) {
    if (At(packet, 0, "\x01vorbis"sv)) return kTypeOgg;
    if (At(packet, 0, "OpusHead"sv)) return kTypeOpus;
    if (At(packet, 0, "\x7F" "FLAC"sv) || At(packet, 0, "Speex   "sv) || At(packet, 0, "PCM     "sv)) {
        return kTypeOga;
    }
    if (At(packet, 0, "\x80theora"sv) || At(packet, 0, "\x01video\x00\x00\x00"sv) ||
        At(packet, 0, "BBCD\x00"sv) || At(packet, 0, "fishead\x00"sv)) {
        return kTypeOgv;
    }
    return kTypeNone;
}

uint64_t OggRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kOggLimit, kTypeNone, nullptr);
}

StructureEnd WalkPages(CarveSession& session) {
    CarvedFileBytes file(session, kOggLimit);
    std::vector<uint32_t> open;
    std::vector<std::byte> page;
    uint64_t pos = 0;
    bool damaged = false;
    while (true) {
        std::array<std::byte, kPageHeader + 255> head{};
        if (!file.Read(pos, std::span(head).first(kPageHeader))) break;
        if (!At(head, 0, "OggS") || Byte(head, 4) != 0) break;
        const size_t segments = Byte(head, 26);
        if (!file.Read(pos + kPageHeader, std::span(head).subspan(kPageHeader, segments))) break;
        const auto size = PageSize(head, 0);
        if (!size) break;
        page.resize(*size);
        if (!file.Read(pos, page)) break;
        if (Crc().Of(page) != Le32(page, 22)) damaged = true;
        const uint8_t flags = Byte(page, 5);
        const uint32_t serial = Le32(page, 14);
        const auto it = std::find(open.begin(), open.end(), serial);
        if ((flags & kBeginning) != 0) {
            if (it != open.end() || open.size() >= kMaxStreams) return StructureEnd::Broken();
            open.push_back(serial);
        } else if (it == open.end()) {
            return StructureEnd::Broken();  // a page of a stream this file never began
        }
        pos += *size;
        if ((flags & kEnding) != 0) {
            open.erase(std::find(open.begin(), open.end(), serial));
            if (open.empty()) return StructureEnd::Found(pos, damaged);
        }
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseOgg(CarveSession&, ByteView b) {
    // The first page begins a stream: flagged so, granule position and sequence number zero,
    // one first packet that fits it; its CRC holds when the page lies in the bytes given.
    const auto first = PageSize(b, 0);
    if (!first || Byte(b, 5) != kBeginning || Le64(b, 6) != 0 || Le32(b, 18) != 0 ||
        Byte(b, 26) == 0) {
        return kTypeNone;
    }
    if (Crc().Of(b.first(*first)) != Le32(b, 22)) return kTypeNone;
    // The other streams' first pages follow; a video among them makes the file a video.
    FileTypeCode type = kTypeNone;
    for (size_t at = 0; at < b.size();) {
        const auto size = PageSize(b, at);
        if (!size || (Byte(b, at + 5) & kBeginning) == 0) break;
        const FileTypeCode named = TypeOfFirstPacket(b.subspan(at + kPageHeader + Byte(b, at + 26)));
        if (type == kTypeNone || named == kTypeOgv) type = named;
        at += *size;
    }
    return type == kTypeNone ? kTypeOgg : type;
}

uint64_t FindOggEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkPages(session)), OggRule, header);
}

}  // namespace keltra
