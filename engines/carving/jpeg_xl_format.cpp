// JPEG XL, in its box container or as a bare codestream.
// The container: the signature box "JXL ", "ftyp" with brand "jxl ", then the codestream in one
// "jxlc" box or in "jxlp" parts (the last one's index has its top bit set), and metadata boxes
// (Exif, XMP, JUMBF, levels) before or after it.
// The bare codestream: FF 0A, then bit fields (least significant bit first): the size header,
// the image metadata and the transform data, padding to a byte, then frames. Each frame is a
// frame header and a table of contents whose entries are the byte sizes of the frame's sections;
// the frame marked last ends the file. A codestream whose headers carry an ICC profile or a
// preview frame, or whose table of contents is permuted (all three entropy coded), is not
// carved: nothing short of decoding tells where it ends.
#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <tuple>
#include <string_view>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kJpegXlLimit = 4 * kGiB;
constexpr std::string_view kSignatureBox = "\x00\x00\x00\x0CJXL \x0D\x0A\x87\x0A"sv;
constexpr int kMaxBoxes = 1 << 16;

constexpr std::array<std::string_view, 12> kBoxes = {
    "JXL ", "ftyp", "jxlc", "jxlp", "jxll", "jxli", "jbrd", "Exif", "xml ", "jumb", "brob", "free",
};

uint64_t JpegXlRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 256 * kMiB, kTypeNone, nullptr);
}

StructureEnd WalkBoxes(CarveSession& session) {
    CarvedFileBytes file(session, kJpegXlLimit);
    uint64_t pos = 0;
    bool complete = false;
    for (int i = 0; i < kMaxBoxes && pos < file.Available(); ++i) {
        std::array<std::byte, 16> head{};
        if (!file.Read(pos, std::span(head).first(8))) break;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        if (std::find(kBoxes.begin(), kBoxes.end(), type) == kBoxes.end() ||
            (pos != 0 && type == "JXL ")) {
            break;
        }
        uint64_t size = Be32(head, 0), headSize = 8;
        if (size == 1) {
            const auto large = file.Be(pos + 8, 8);
            if (!large) return StructureEnd::Broken();
            size = *large;
            headSize = 16;
        }
        // The last box may run to the end of the file, which nothing here tells.
        if (size == 0) return StructureEnd::Unknown();
        if (size < headSize || size > file.Available() - pos) return StructureEnd::Broken();
        if (type == "jxlc") {
            if (!file.Holds(pos + headSize, "\xFF\x0A"sv)) return StructureEnd::Broken();
            complete = true;
        } else if (type == "jxlp") {
            const auto index = file.Be(pos + headSize, 4);
            if (!index) return StructureEnd::Broken();
            complete = (*index & 0x80000000U) != 0;
        }
        pos += size;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return complete ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

// ---- the bare codestream ----

constexpr uint64_t kMaxCodestreamSide = 1 << 18;  // the limits of the format's level 5
constexpr uint64_t kMaxCodestreamPixels = uint64_t{1} << 28;
constexpr int kMaxFrames = 1 << 16;
constexpr size_t kFrameHeadBytes = 4096;  // a frame header and its table of contents fit

// One way a U32 field is coded: a fixed value (bits 0) or `bits` bits plus `offset`.
struct U32Coding {
    uint32_t offset;
    unsigned bits;
};
using U32Codings = std::array<U32Coding, 4>;
constexpr U32Coding Val(uint32_t v) { return {v, 0}; }
constexpr U32Coding BitsOf(unsigned n, uint32_t offset = 0) { return {offset, n}; }

class BitFields {
  public:
    BitFields(ByteView bytes, uint64_t bit) : bytes_(bytes), bit_(bit) {}

    // At most 64 bits; Skip passes over more.
    uint64_t Bits(unsigned n) {
        uint64_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            const uint64_t at = bit_ >> 3;
            if (at >= bytes_.size()) {
                ok_ = false;
                return 0;
            }
            value |= uint64_t{(Byte(bytes_, at) >> (bit_ & 7)) & 1U} << i;
            ++bit_;
        }
        return value;
    }
    void Skip(uint64_t bits) {
        bit_ += bits;
        if ((bit_ + 7) / 8 > bytes_.size()) ok_ = false;
    }
    bool Bool() { return Bits(1) != 0; }
    uint32_t U32(const U32Codings& codings) {
        const U32Coding c = codings[Bits(2)];
        return static_cast<uint32_t>(c.offset + Bits(c.bits));
    }
    uint64_t U64() {
        switch (Bits(2)) {
            case 0:
                return 0;
            case 1:
                return 1 + Bits(4);
            case 2:
                return 17 + Bits(8);
            default:
                break;
        }
        uint64_t value = Bits(12);
        for (unsigned shift = 12; ok_ && Bool(); shift += 8) {
            if (shift == 60) {
                value |= Bits(4) << shift;
                break;
            }
            value |= Bits(8) << shift;
        }
        return value;
    }
    // The bits up to the next byte must be zero.
    void ZeroPad() {
        if (Bits(static_cast<unsigned>((8 - (bit_ & 7)) & 7)) != 0) ok_ = false;
    }
    // An enumerated value: one of those whose bits are set in `valid`.
    uint32_t Enum(uint64_t valid) {
        const uint32_t v = U32({Val(0), Val(1), BitsOf(4, 2), BitsOf(6, 18)});
        if (v >= 64 || ((valid >> v) & 1) == 0) ok_ = false;
        return v;
    }
    void Fail() { ok_ = false; }
    bool Ok() const { return ok_; }
    uint64_t ByteOffset() const { return (bit_ + 7) / 8; }

  private:
    ByteView bytes_;
    uint64_t bit_;
    bool ok_ = true;
};

constexpr uint64_t Set(std::initializer_list<unsigned> values) {
    uint64_t mask = 0;
    for (const unsigned v : values) mask |= uint64_t{1} << v;
    return mask;
}

struct CodestreamInfo {
    uint64_t width = 0, height = 0;
    bool xyb = true;
    uint32_t extraChannels = 0;
    bool animation = false, timecodes = false;
    uint64_t firstFrame = 0;  // byte offset
};

std::pair<uint64_t, uint64_t> ReadSize(BitFields& in) {
    constexpr U32Codings kSide = {BitsOf(9, 1), BitsOf(13, 1), BitsOf(18, 1), BitsOf(30, 1)};
    const bool small = in.Bool();
    const uint64_t height = small ? (in.Bits(5) + 1) * 8 : in.U32(kSide);
    const uint64_t ratio = in.Bits(3);
    if (ratio == 0) return {small ? (in.Bits(5) + 1) * 8 : in.U32(kSide), height};
    constexpr std::array<std::pair<uint64_t, uint64_t>, 7> kRatios = {
        {{1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}}};
    return {height * kRatios[ratio - 1].first / kRatios[ratio - 1].second, height};
}

// Integer samples of up to 32 bits, floating-point ones with up to 8 exponent bits.
void ReadBitDepth(BitFields& in) {
    if (!in.Bool()) {
        if (in.U32({Val(8), Val(10), Val(12), BitsOf(6, 1)}) > 32) in.Fail();
    } else {
        const uint32_t bits = in.U32({Val(32), Val(16), Val(24), BitsOf(6, 1)});
        const uint64_t exponent = in.Bits(4) + 1;
        if (bits > 32 || exponent > 8 || bits < exponent + 3) in.Fail();
    }
}

void ReadExtensions(BitFields& in) {
    const uint64_t extensions = in.U64();
    uint64_t bits = 0;
    for (unsigned i = 0; i < 64 && in.Ok(); ++i) {
        if (((extensions >> i) & 1) != 0) bits += in.U64();
    }
    if (bits > uint64_t{1} << 32) in.Fail();
    if (in.Ok()) in.Skip(bits);
}

void ReadCustomXy(BitFields& in, int count) {
    for (int i = 0; i < 2 * count; ++i) {
        in.U32({BitsOf(19), BitsOf(19, 524288), BitsOf(20, 1048576), BitsOf(21, 2097152)});
    }
}

// The colour encoding; true when it says an ICC profile follows.
bool ReadColourEncoding(BitFields& in) {
    if (in.Bool()) return false;
    const bool icc = in.Bool();
    constexpr uint32_t kXyb = 2, kGrey = 1, kCustom = 2;
    const uint32_t space = in.Enum(Set({0, 1, 2, 3}));
    if (!icc && space != kXyb) {
        if (in.Enum(Set({1, 2, 10, 11})) == kCustom) ReadCustomXy(in, 1);
        if (space != kGrey && in.Enum(Set({1, 2, 9, 11})) == kCustom) ReadCustomXy(in, 3);
    }
    if (!icc) {
        if (in.Bool()) {
            if (in.Bits(24) == 0) in.Fail();  // a gamma of zero
        } else {
            in.Enum(Set({1, 2, 8, 13, 16, 17, 18}));
        }
        in.Enum(Set({0, 1, 2, 3}));
    }
    return icc;
}

// The size header, image metadata and transform data: what a frame header needs of them, and
// where the first frame begins. Nothing when they are not what an encoder writes or hold an ICC
// profile or a preview.
std::optional<CodestreamInfo> ReadCodestreamHeaders(ByteView b) {
    if (b.size() < 2 || !At(b, 0, "\xFF\x0A"sv)) return std::nullopt;
    BitFields in(b, 16);
    CodestreamInfo info;
    std::tie(info.width, info.height) = ReadSize(in);
    if (!in.Bool()) {
        const bool extra = in.Bool();
        if (extra) {
            in.Bits(3);                   // orientation
            if (in.Bool()) ReadSize(in);  // intrinsic size
            if (in.Bool()) return std::nullopt;  // a preview frame
            info.animation = in.Bool();
            if (info.animation) {
                in.U32({Val(100), Val(1000), BitsOf(10, 1), BitsOf(30, 1)});
                in.U32({Val(1), Val(1001), BitsOf(8, 1), BitsOf(10, 1)});
                in.U32({Val(0), BitsOf(3), BitsOf(16), BitsOf(32)});
                info.timecodes = in.Bool();
            }
        }
        ReadBitDepth(in);
        in.Bool();  // 16-bit buffers suffice
        info.extraChannels = in.U32({Val(0), Val(1), BitsOf(4, 2), BitsOf(12, 1)});
        if (info.extraChannels > 256) return std::nullopt;
        for (uint32_t i = 0; i < info.extraChannels && in.Ok(); ++i) {
            if (in.Bool()) continue;  // a default alpha channel
            constexpr uint32_t kAlpha = 0, kSpot = 2, kFilterArray = 5;
            const uint32_t type = in.Enum(Set({0, 1, 2, 3, 4, 5, 6, 15, 16}));
            ReadBitDepth(in);
            in.U32({Val(0), Val(3), Val(4), BitsOf(3, 1)});
            in.Skip(8 * uint64_t{in.U32({Val(0), BitsOf(4), BitsOf(5, 16), BitsOf(10, 48)})});
            if (type == kAlpha) in.Bool();
            if (type == kSpot) in.Skip(64);
            if (type == kFilterArray) in.U32({Val(1), BitsOf(2), BitsOf(4, 3), BitsOf(8, 19)});
        }
        info.xyb = in.Bool();
        if (ReadColourEncoding(in)) return std::nullopt;
        if (extra && !in.Bool()) in.Bits(16 + 16 + 1 + 16);  // tone mapping
        ReadExtensions(in);
    }
    // Transform data: the inverse opsin matrix and upsampling weights when not the defaults.
    if (!in.Bool()) {
        if (info.xyb && !in.Bool()) in.Skip(16 * 17);
        const uint64_t weights = in.Bits(3);
        if ((weights & 1) != 0) in.Skip(16 * 15);
        if ((weights & 2) != 0) in.Skip(16 * 55);
        if ((weights & 4) != 0) in.Skip(16 * 210);
    }
    in.ZeroPad();
    if (!in.Ok() || info.width == 0 || info.height == 0 || info.width > kMaxCodestreamSide ||
        info.height > kMaxCodestreamSide || info.width * info.height > kMaxCodestreamPixels) {
        return std::nullopt;
    }
    info.firstFrame = in.ByteOffset();
    return info;
}

struct FrameEnd {
    uint64_t end = 0;  // from the frame's first byte
    bool last = false;
};

// A frame header and its table of contents at the start of `b`. Nothing for what is not
// carved (cropped and LF frames, a permuted table) or does not fit the picture.
std::optional<FrameEnd> ReadFrame(ByteView b, const CodestreamInfo& info) {
    BitFields in(b, 0);
    constexpr uint32_t kRegular = 0, kLf = 1, kReferenceOnly = 2, kSkipProgressive = 3;
    constexpr uint32_t kModular = 1, kReplace = 0;
    uint32_t type = kRegular, upsampling = 1, groupShift = 1, passes = 1, mode = kReplace;
    bool last = true;
    if (!in.Bool()) {
        type = static_cast<uint32_t>(in.Bits(2));
        const auto encoding = static_cast<uint32_t>(in.Bits(1));
        const uint64_t flags = in.U64();
        const bool ycbcr = !info.xyb && in.Bool();
        constexpr U32Codings kUpsampling = {Val(1), Val(2), Val(4), Val(8)};
        if ((flags & 32) == 0) {  // not built on an LF frame
            if (ycbcr) in.Bits(6);
            upsampling = in.U32(kUpsampling);
            for (uint32_t i = 0; i < info.extraChannels; ++i) in.U32(kUpsampling);
        }
        if (encoding == kModular) groupShift = static_cast<uint32_t>(in.Bits(2));
        if (encoding != kModular && info.xyb) in.Bits(6);
        if (type != kReferenceOnly) {
            passes = in.U32({Val(1), Val(2), Val(3), BitsOf(3, 4)});
            if (passes != 1) {
                const uint32_t downsampled = in.U32({Val(0), Val(1), Val(2), BitsOf(1, 3)});
                if (downsampled >= passes) return std::nullopt;
                in.Skip(2 * uint64_t{passes - 1});
                for (uint32_t i = 0; i < downsampled; ++i) in.U32(kUpsampling);
                for (uint32_t i = 0; i < downsampled; ++i) in.U32({Val(0), Val(1), Val(2), BitsOf(3)});
            }
        }
        if (type == kLf || in.Bool()) return std::nullopt;  // an LF frame, a cropped frame
        uint32_t duration = 0;
        last = false;
        if (type == kRegular || type == kSkipProgressive) {
            const auto blending = [&in, &info] {
                const uint32_t m = in.U32({Val(0), Val(1), Val(2), BitsOf(2, 3)});
                if (info.extraChannels > 0 && (m == 2 || m == 3)) {
                    in.U32({Val(0), Val(1), Val(2), BitsOf(3, 3)});
                    in.Bool();
                }
                if (m != kReplace) in.Bits(2);
                return m;
            };
            mode = blending();
            for (uint32_t i = 0; i < info.extraChannels; ++i) blending();
            if (info.animation) {
                duration = in.U32({Val(0), Val(1), BitsOf(8), BitsOf(32)});
                if (info.timecodes) in.Bits(32);
            }
            last = in.Bool();
        }
        const uint64_t saved = last ? 0 : in.Bits(2);
        if (type == kReferenceOnly || ((type == kRegular || type == kSkipProgressive) &&
                                       mode == kReplace && (duration == 0 || saved != 0) &&
                                       !last)) {
            in.Bool();  // saved before the colour transform
        }
        in.Skip(8 * uint64_t{in.U32({Val(0), BitsOf(4), BitsOf(5, 16), BitsOf(10, 48)})});
        // Loop filter.
        if (!in.Bool()) {
            if (in.Bool() && in.Bool()) in.Skip(16 * 6);
            if (in.Bits(2) != 0) {
                if (encoding != kModular && in.Bool()) in.Skip(16 * 8);
                if (in.Bool()) in.Skip(16 * 3 + 32);
                if (in.Bool()) in.Skip(encoding != kModular ? 16 * 4 : 16 * 3);
                if (encoding == kModular) in.Bits(16);
            }
            ReadExtensions(in);
        }
        ReadExtensions(in);
    }
    if (in.Bool()) return std::nullopt;  // a permuted table of contents
    in.ZeroPad();
    const uint64_t width = (info.width + upsampling - 1) / upsampling;
    const uint64_t height = (info.height + upsampling - 1) / upsampling;
    const uint64_t group = uint64_t{128} << groupShift;
    const uint64_t groups = ((width + group - 1) / group) * ((height + group - 1) / group);
    const uint64_t lfGroup = 8 * group;
    const uint64_t lfGroups = ((width + lfGroup - 1) / lfGroup) * ((height + lfGroup - 1) / lfGroup);
    const uint64_t entries = groups == 1 && passes == 1 ? 1 : 2 + lfGroups + groups * passes;
    uint64_t sections = 0;
    for (uint64_t i = 0; i < entries && in.Ok(); ++i) {
        sections += in.U32({BitsOf(10), BitsOf(14, 1024), BitsOf(22, 17408), BitsOf(30, 4211712)});
    }
    in.ZeroPad();
    // No section holds more than the samples it codes, raw, and some room.
    const uint64_t bound = info.width * info.height * 4 * (3 + info.extraChannels) + 65536;
    if (!in.Ok() || sections == 0 || sections > bound) return std::nullopt;
    return FrameEnd{in.ByteOffset() + sections, last};
}

StructureEnd WalkCodestream(CarveSession& session, const CodestreamInfo& info) {
    CarvedFileBytes file(session, kJpegXlLimit);
    std::vector<std::byte> head;
    uint64_t pos = info.firstFrame;
    for (int i = 0; i < kMaxFrames; ++i) {
        if (pos >= file.Available()) break;
        head.resize(static_cast<size_t>(std::min<uint64_t>(kFrameHeadBytes, file.Available() - pos)));
        if (!file.Read(pos, head)) break;
        const auto frame = ReadFrame(head, info);
        if (!frame || frame->end > file.Available() - pos) break;
        pos += frame->end;
        if (frame->last) return StructureEnd::Found(pos);
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseJpegXl(CarveSession&, ByteView b) {
    if (b.size() >= 24 && At(b, 0, kSignatureBox) && At(b, 16, "ftyp") && At(b, 20, "jxl ")) {
        return kTypeJpegXl;
    }
    // A bare codestream whose headers and first frame header read whole in the sector.
    const auto info = ReadCodestreamHeaders(b);
    if (!info || info->firstFrame >= b.size() || !ReadFrame(b.subspan(info->firstFrame), *info)) {
        return kTypeNone;
    }
    return kTypeJpegXl;
}

uint64_t FindJpegXlEnd(CarveSession& session, ByteView header) {
    if (const auto info = ReadCodestreamHeaders(header)) {
        return EndOrRule(session, ConfirmedByStopScan(session, WalkCodestream(session, *info)),
                         JpegXlRule, header);
    }
    return EndOrRule(session, ConfirmedByStopScan(session, WalkBoxes(session)), JpegXlRule, header);
}

}  // namespace keltra
