// gzip: members of a 10-byte header (with an optional stored name), a deflate stream and an
// 8-byte trailer (CRC-32 and length of the data). Inflating the stream is the only way to its
// end; a member that follows at once belongs to the same file. A stream that does not inflate,
// or whose trailer does not match what it held, is cut or damaged: the file runs to the next
// header.
#include <zlib.h>

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

constexpr uint64_t kGzipLimit = 2 * kGiB;
constexpr uint8_t kHeaderCrc = 0x02, kExtra = 0x04, kName = 0x08, kComment = 0x10;
constexpr size_t kOutputBytes = 1 << 16;

class Inflater {
  public:
    Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates the raw deflate stream at `pos`: its end, with the CRC-32 and length (mod 2^32)
    // of what it held.
    struct Result {
        uint64_t end;
        uint32_t crc;
        uint32_t length;
    };
    std::optional<Result> Run(CarvedFileBytes& file, uint64_t pos) {
        if (!ok_ || inflateReset(&stream_) != Z_OK) return std::nullopt;
        std::vector<std::byte> out(kOutputBytes);
        uLong crc = crc32(0L, Z_NULL, 0);
        uint64_t length = 0;
        for (;;) {
            const auto piece = file.Window(pos);
            if (piece.empty()) return std::nullopt;
            stream_.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(piece.data()));
            stream_.avail_in = static_cast<uInt>(piece.size());
            int status = Z_OK;
            while (stream_.avail_in > 0 && status == Z_OK) {
                stream_.next_out = reinterpret_cast<Bytef*>(out.data());
                stream_.avail_out = static_cast<uInt>(out.size());
                status = inflate(&stream_, Z_NO_FLUSH);
                const size_t made = out.size() - stream_.avail_out;
                crc =
                    crc32(crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(made));
                length += made;
                if (status == Z_BUF_ERROR && made > 0) status = Z_OK;
            }
            const uint64_t used = piece.size() - stream_.avail_in;
            if (used == 0 && status != Z_STREAM_END) return std::nullopt;  // no progress
            pos += used;
            if (status == Z_STREAM_END) {
                return Result{pos, static_cast<uint32_t>(crc), static_cast<uint32_t>(length)};
            }
            if (status != Z_OK && status != Z_BUF_ERROR) return std::nullopt;
        }
    }

  private:
    z_stream stream_{};
    bool ok_ = false;
};

// Where the header of the member at `pos` ends.
std::optional<uint64_t> MemberData(CarvedFileBytes& file, uint64_t pos) {
    const auto flags = file.Be(pos + 3, 1);
    if (!file.Holds(pos, "\x1F\x8B\x08"sv) || !flags || (*flags & 0xE0) != 0) return std::nullopt;
    uint64_t at = pos + 10;
    if (*flags & kExtra) {
        const auto length = file.Le(at, 2);
        if (!length) return std::nullopt;
        at += 2 + *length;
    }
    for (const uint8_t text : {kName, kComment}) {
        if ((*flags & text) == 0) continue;
        const auto zero = file.Find("\0"sv, at, at + 65536);
        if (!zero) return std::nullopt;
        at = *zero + 1;
    }
    if (*flags & kHeaderCrc) at += 2;
    return at;
}

StructureEnd WalkMembers(CarveSession& session) {
    CarvedFileBytes file(session, kGzipLimit);
    Inflater inflater;
    uint64_t pos = 0;
    do {
        const auto data = MemberData(file, pos);
        const auto stream = data ? inflater.Run(file, *data) : std::nullopt;
        if (!stream) return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
        // Bytes that are no deflate stream may still inflate to an end by chance: only the
        // trailer's CRC and length make it the member's end.
        const auto crc = file.Le(stream->end, 4), length = file.Le(stream->end + 4, 4);
        if (crc != stream->crc || length != stream->length) return StructureEnd::Broken();
        pos = stream->end + 8;
    } while (file.Holds(pos, "\x1F\x8B\x08"sv));
    return StructureEnd::Found(pos);
}

uint64_t GzipRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kGzipLimit, kTypeNone, nullptr);
}

}  // namespace

// Deflate, no flags but a stored name, a valid extra-flags byte and a known system. Extra
// flags 0 (the default level of gzip itself) is taken besides 2 and 4.
FileTypeCode RecogniseGzip(CarveSession&, ByteView b) {
    if (b.size() < 16 || !At(b, 0, "\x1F\x8B\x08"sv)) return kTypeNone;
    const uint8_t flags = Byte(b, 3);
    const uint8_t extra = Byte(b, 8);
    const uint8_t system = Byte(b, 9);
    if (flags != 0x00 && flags != 0x08) return kTypeNone;
    if (extra != 0 && extra != 2 && extra != 4) return kTypeNone;
    if (system > 0x0D && system != 0xFF) return kTypeNone;
    return kTypeGzip;
}

uint64_t FindGzipEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkMembers(session)), GzipRule, header);
}

}  // namespace keltra
