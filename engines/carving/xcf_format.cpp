// GIMP's XCF: "gimp xcf ", the version ("file", or "v" and three digits) and a zero byte, the
// canvas size and colour mode (and from version 4 the precision), the image's property list, then
// zero-terminated lists of pointers to the layers and to the channels. A layer points at its
// hierarchy and its mask (a channel); a hierarchy at its levels; a level at its 64x64 tiles, whose
// data is plain, run-length coded or deflated as the image's compression property says. Nothing
// gives the file's size: it ends at the furthest byte any of these structures reaches. Pointers
// are 32 bits before version 11 and 64 bits from it on; every number is big-endian.
#include <zlib.h>

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

constexpr uint64_t kXcfLimit = 4 * kGiB;
constexpr uint64_t kMaxSide = 524288;  // GIMP's largest canvas
constexpr uint64_t kTileSide = 64;
constexpr uint64_t kHeaderBytes = 14;
constexpr int kMaxProperties = 1 << 12;
constexpr int kMaxItems = 1 << 14;       // layers or channels
constexpr int kMaxLevels = 64;
constexpr uint64_t kMaxTiles = 1 << 24;  // over the whole file
constexpr uint32_t kPropEnd = 0, kPropColormap = 1, kPropCompression = 17;
constexpr uint8_t kCompressNone = 0, kCompressRle = 1, kCompressZlib = 2;

// "file" is version 0; "v001" and on are their number.
std::optional<unsigned> VersionOf(ByteView b) {
    if (At(b, 9, "file"sv)) return 0U;
    if (b.size() < 13 || Byte(b, 9) != 'v') return std::nullopt;
    unsigned version = 0;
    for (size_t i = 10; i < 13; ++i) {
        const uint8_t c = Byte(b, i);
        if (c < '0' || c > '9') return std::nullopt;
        version = version * 10 + (c - '0');
    }
    return version;
}

bool KnownPrecision(unsigned version, uint32_t precision) {
    if (version == 4) return precision <= 4;
    return precision >= 100 && precision <= 750 && precision % 50 == 0;
}

class XcfWalk {
  public:
    XcfWalk(CarveSession& session, unsigned version)
        : file_(session, kXcfLimit), version_(version), pointerBytes_(version >= 11 ? 8 : 4) {}

    StructureEnd Walk() {
        uint64_t pos = kHeaderBytes + 12 + (version_ >= 4 ? 4 : 0);
        if (!Properties(pos, true)) return Verdict();
        std::vector<uint64_t> layers, channels;
        if (!PointerList(pos, layers) || !PointerList(pos, channels)) return Verdict();
        Reach(pos);
        for (const uint64_t at : layers) {
            if (!Layer(at)) return Verdict();
        }
        for (const uint64_t at : channels) {
            if (!Channel(at)) return Verdict();
        }
        return StructureEnd::Found(end_);
    }

  private:
    StructureEnd Verdict() const {
        return file_.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
    }
    void Reach(uint64_t pos) { end_ = std::max(end_, pos); }

    std::optional<uint64_t> Number(uint64_t& pos, size_t bytes) {
        const auto value = file_.Be(pos, bytes);
        pos += bytes;
        return value;
    }
    // A pointer at `pos`; one to a structure must lie after the header and inside the file.
    std::optional<uint64_t> Pointer(uint64_t& pos) { return Number(pos, pointerBytes_); }
    bool Points(uint64_t at) const { return at >= kHeaderBytes && at < file_.Available(); }

    bool PointerList(uint64_t& pos, std::vector<uint64_t>& out) {
        for (int i = 0; i <= kMaxItems; ++i) {
            const auto at = Pointer(pos);
            if (!at) return false;
            if (*at == 0) return true;
            if (!Points(*at)) return false;
            out.push_back(*at);
        }
        return false;
    }

    bool Properties(uint64_t& pos, bool ofImage) {
        for (int i = 0; i < kMaxProperties; ++i) {
            const auto type = Number(pos, 4), length = Number(pos, 4);
            if (!type || !length) return false;
            if (*type == kPropEnd) return *length == 0;
            uint64_t payload = *length;
            if (ofImage && *type == kPropColormap) {
                // Some old writers put a wrong length here; the colour count is right.
                const auto colours = file_.Be(pos, 4);
                if (!colours || *colours > 256) return false;
                payload = 4 + 3 * *colours;
            }
            if (ofImage && *type == kPropCompression) {
                const auto value = file_.Be(pos, 1);
                if (!value || *value > kCompressZlib || payload != 1) return false;
                compression_ = static_cast<uint8_t>(*value);
            }
            if (payload > file_.Available() || pos > file_.Available() - payload) return false;
            pos += payload;
        }
        return false;
    }

    // The size, name and properties that begin a layer or channel; false when out of bounds.
    bool ItemHead(uint64_t& pos, uint64_t& width, uint64_t& height, bool isLayer) {
        const auto w = Number(pos, 4), h = Number(pos, 4);
        if (!w || !h || *w == 0 || *h == 0 || *w > kMaxSide || *h > kMaxSide) return false;
        width = *w;
        height = *h;
        if (isLayer) {
            const auto type = Number(pos, 4);
            if (!type || *type > 5) return false;
        }
        const auto nameBytes = Number(pos, 4);
        if (!nameBytes || *nameBytes > 65536) return false;
        pos += *nameBytes;
        return Properties(pos, false);
    }

    bool Layer(uint64_t pos) {
        uint64_t width = 0, height = 0;
        if (!ItemHead(pos, width, height, true)) return false;
        const auto hierarchy = Pointer(pos), mask = Pointer(pos);
        if (!hierarchy || !mask || !Points(*hierarchy) || (*mask != 0 && !Points(*mask))) {
            return false;
        }
        Reach(pos);
        return Hierarchy(*hierarchy, width, height) && (*mask == 0 || Channel(*mask));
    }

    bool Channel(uint64_t pos) {
        uint64_t width = 0, height = 0;
        if (!ItemHead(pos, width, height, false)) return false;
        const auto hierarchy = Pointer(pos);
        if (!hierarchy || !Points(*hierarchy)) return false;
        Reach(pos);
        return Hierarchy(*hierarchy, width, height);
    }

    // The first level holds the pixels. The others are smaller dummies kept for older readers:
    // a size and a 32-bit zero, whatever the pointer size (GIMP writes them so).
    bool Hierarchy(uint64_t pos, uint64_t width, uint64_t height) {
        const auto w = Number(pos, 4), h = Number(pos, 4), bpp = Number(pos, 4);
        if (!w || !h || !bpp || *w != width || *h != height || *bpp == 0 || *bpp > 32) {
            return false;
        }
        std::vector<uint64_t> levels;
        for (int i = 0;; ++i) {
            const auto at = Pointer(pos);
            if (!at || i > kMaxLevels) return false;
            if (*at == 0) break;
            if (!Points(*at)) return false;
            levels.push_back(*at);
        }
        Reach(pos);
        if (levels.empty() || !Level(levels[0], width, height, *bpp)) return false;
        for (size_t i = 1; i < levels.size(); ++i) {
            uint64_t at = levels[i];
            const auto dw = Number(at, 4), dh = Number(at, 4), zero = Number(at, 4);
            if (!dw || !dh || !zero || *dw > width || *dh > height || *zero != 0) return false;
            Reach(at);
        }
        return true;
    }

    bool Level(uint64_t pos, uint64_t width, uint64_t height, uint64_t bpp) {
        const auto w = Number(pos, 4), h = Number(pos, 4);
        if (!w || !h || *w != width || *h != height) return false;
        const uint64_t across = (width + kTileSide - 1) / kTileSide;
        const uint64_t tiles = across * ((height + kTileSide - 1) / kTileSide);
        tilesSeen_ += tiles;
        if (tilesSeen_ > kMaxTiles) return false;
        std::vector<uint64_t> at;
        for (;;) {
            const auto tile = Pointer(pos);
            if (!tile || at.size() > tiles) return false;
            if (*tile == 0) break;
            if (!Points(*tile)) return false;
            at.push_back(*tile);
        }
        Reach(pos);
        if (at.size() != tiles) return false;
        for (uint64_t i = 0; i < tiles; ++i) {
            const uint64_t tw = std::min(kTileSide, width - (i % across) * kTileSide);
            const uint64_t th = std::min(kTileSide, height - (i / across) * kTileSide);
            const auto end = TileEnd(at[i], tw * th, bpp);
            if (!end) return false;
            Reach(*end);
        }
        return true;
    }

    std::optional<uint64_t> TileEnd(uint64_t pos, uint64_t pixels, uint64_t bpp) {
        switch (compression_) {
            case kCompressNone:
                if (pixels * bpp > file_.Available() - pos) return std::nullopt;
                return pos + pixels * bpp;
            case kCompressRle:
                return RleEnd(pos, pixels, bpp);
            default:
                return DeflateEnd(pos, pixels * bpp);
        }
    }

    std::optional<uint8_t> ByteAt(uint64_t pos) {
        const auto w = file_.Window(pos);
        if (w.empty()) return std::nullopt;
        return std::to_integer<uint8_t>(w[0]);
    }

    // One run-length coded stream a byte of the pixel, each of exactly `pixels` bytes.
    std::optional<uint64_t> RleEnd(uint64_t pos, uint64_t pixels, uint64_t bpp) {
        for (uint64_t stream = 0; stream < bpp; ++stream) {
            uint64_t count = 0;
            while (count < pixels) {
                const auto op = ByteAt(pos);
                if (!op) return std::nullopt;
                uint64_t run = 0, skip = 0;
                if (*op < 127) {
                    run = *op + 1U;
                    skip = 2;
                } else if (*op == 127 || *op == 128) {
                    const auto p = ByteAt(pos + 1), q = ByteAt(pos + 2);
                    if (!p || !q) return std::nullopt;
                    run = *p * 256U + *q;
                    skip = *op == 127 ? 4 : 3 + run;
                } else {
                    run = 256U - *op;
                    skip = 1 + run;
                }
                count += run;
                pos += skip;
            }
            if (count != pixels) return std::nullopt;
        }
        if (pos > file_.Available()) return std::nullopt;
        return pos;
    }

    // A zlib stream that inflates to exactly `bytes` bytes.
    std::optional<uint64_t> DeflateEnd(uint64_t pos, uint64_t bytes) {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) return std::nullopt;
        std::array<Bytef, 16384> out{};
        uint64_t produced = 0;
        int status = Z_OK;
        while (status == Z_OK) {
            const auto in = file_.Window(pos);
            if (in.empty()) break;
            z.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(in.data()));
            z.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), 1 << 20));
            const uInt given = z.avail_in;
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            produced += out.size() - z.avail_out;
            pos += given - z.avail_in;
            if (produced > bytes) break;
        }
        inflateEnd(&z);
        if (status != Z_STREAM_END || produced != bytes) return std::nullopt;
        return pos;
    }

    CarvedFileBytes file_;
    unsigned version_;
    size_t pointerBytes_;
    uint8_t compression_ = kCompressNone;
    uint64_t tilesSeen_ = 0;
    uint64_t end_ = 0;
};

uint64_t XcfRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseXcf(CarveSession&, ByteView b) {
    if (b.size() < 30 || !At(b, 0, "gimp xcf "sv) || Byte(b, 13) != 0) return kTypeNone;
    const auto version = VersionOf(b);
    if (!version) return kTypeNone;
    const uint32_t width = Be32(b, 14), height = Be32(b, 18), mode = Be32(b, 22);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || mode > 2) {
        return kTypeNone;
    }
    if (*version >= 4 && !KnownPrecision(*version, Be32(b, 26))) return kTypeNone;
    return kTypeXcf;
}

uint64_t FindXcfEnd(CarveSession& session, ByteView header) {
    XcfWalk walk(session, *VersionOf(header));
    return EndOrRule(session, ConfirmedByStopScan(session, walk.Walk()), XcfRule, header);
}

}  // namespace keltra
