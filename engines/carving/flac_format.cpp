// Native FLAC: "fLaC", the metadata blocks (STREAMINFO first, the last one flagged), then the
// audio frames. A frame has no length of its own: each is read through (its header, the
// subframes of its channels with their Rice-coded residuals, the padding) to its CRC-16, which
// must hold; the file ends after the frame that completes STREAMINFO's sample count, or after
// the last frame when the count is not known.
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

constexpr uint64_t kFlacLimit = 4 * kGiB;
constexpr int kMaxMetadataBlocks = 1024;

uint64_t FlacRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, 2 * kGiB, kTypeNone, nullptr);
}

// Reads the carved file bit by bit, most significant first.
class BitReader {
  public:
    BitReader(CarvedFileBytes& file, uint64_t at) : file_(file), byte_(at) {}

    std::optional<uint64_t> Bits(unsigned n) {
        uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            const auto bit = Bit();
            if (!bit) return std::nullopt;
            v = (v << 1) | *bit;
        }
        return v;
    }
    // Zero bits before the next one bit (the one is read too).
    std::optional<uint64_t> Unary(uint64_t limit) {
        uint64_t zeros = 0;
        while (true) {
            // Whole zero bytes at once.
            if (bit_ == 0) {
                if (!Load()) return std::nullopt;
                if (current_ == 0) {
                    zeros += 8;
                    ++byte_;
                    if (zeros > limit) return std::nullopt;
                    continue;
                }
            }
            const auto b = Bit();
            if (!b) return std::nullopt;
            if (*b == 1) return zeros;
            if (++zeros > limit) return std::nullopt;
        }
    }
    void AlignToByte() {
        if (bit_ != 0) {
            bit_ = 0;
            ++byte_;
        }
    }
    uint64_t ByteOffset() const { return byte_; }

  private:
    bool Load() {
        if (loadedAt_ == byte_) return true;
        const auto window = file_.Window(byte_);
        if (window.empty()) return false;
        current_ = Byte(window, 0);
        loadedAt_ = byte_;
        return true;
    }
    std::optional<uint64_t> Bit() {
        if (!Load()) return std::nullopt;
        const uint64_t b = (current_ >> (7 - bit_)) & 1;
        if (++bit_ == 8) {
            bit_ = 0;
            ++byte_;
        }
        return b;
    }

    CarvedFileBytes& file_;
    uint64_t byte_;
    unsigned bit_ = 0;
    uint8_t current_ = 0;
    uint64_t loadedAt_ = ~uint64_t{0};
};

struct StreamInfo {
    unsigned bitsPerSample = 0;
    uint64_t totalSamples = 0;  // 0: not known
};

// CRC-8 (polynomial 07) of a frame header; CRC-16 (polynomial 8005) of a whole frame.
uint8_t Crc8(ByteView b) {
    uint8_t crc = 0;
    for (std::byte x : b) {
        crc ^= std::to_integer<uint8_t>(x);
        for (int k = 0; k < 8; ++k) crc = (crc & 0x80) != 0 ? static_cast<uint8_t>((crc << 1) ^ 0x07) : static_cast<uint8_t>(crc << 1);
    }
    return crc;
}

class Crc16 {
  public:
    Crc16() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 8;
            for (int k = 0; k < 8; ++k) r = (r & 0x8000) != 0 ? (r << 1) ^ 0x8005 : r << 1;
            table_[i] = static_cast<uint16_t>(r);
        }
    }
    uint16_t Of(CarvedFileBytes& file, uint64_t from, uint64_t to, bool& ok) const {
        uint16_t crc = 0;
        for (uint64_t at = from; at < to;) {
            const auto w = file.Window(at);
            if (w.empty()) {
                ok = false;
                return 0;
            }
            const size_t n = static_cast<size_t>(std::min<uint64_t>(w.size(), to - at));
            for (size_t i = 0; i < n; ++i) {
                crc = static_cast<uint16_t>((crc << 8) ^ table_[((crc >> 8) ^ Byte(w, i)) & 0xFF]);
            }
            at += n;
        }
        ok = true;
        return crc;
    }

  private:
    std::array<uint16_t, 256> table_{};
};

const Crc16& TheCrc16() {
    static const Crc16 crc;
    return crc;
}

struct FrameHeader {
    uint64_t blockSize = 0;
    unsigned bitsPerSample = 0;
    unsigned channels = 0;
    unsigned assignment = 0;
    uint64_t length = 0;  // of the header, with its CRC-8
};

// The frame header at `at`, if one is there (sync code, no reserved values, CRC-8).
std::optional<FrameHeader> ReadFrameHeader(CarvedFileBytes& file, uint64_t at,
                                           const StreamInfo& info) {
    std::array<std::byte, 16> h{};
    if (!file.Read(at, std::span(h).first(4))) return std::nullopt;
    if (Byte(h, 0) != 0xFF || (Byte(h, 1) & 0xFE) != 0xF8) return std::nullopt;
    const unsigned sizeCode = Byte(h, 2) >> 4, rateCode = Byte(h, 2) & 0x0F;
    const unsigned assignment = Byte(h, 3) >> 4, depthCode = (Byte(h, 3) >> 1) & 7;
    if (sizeCode == 0 || rateCode == 15 || assignment > 10 || depthCode == 3 ||
        (Byte(h, 3) & 1) != 0) {
        return std::nullopt;
    }
    // The frame or sample number, UTF-8 coded in 1 to 7 bytes.
    size_t pos = 4;
    if (!file.Read(at + pos, std::span(h).subspan(pos, 1))) return std::nullopt;
    const uint8_t lead = Byte(h, pos);
    size_t extra = 0;
    if (lead >= 0x80) {
        if ((lead & 0xE0) == 0xC0) extra = 1;
        else if ((lead & 0xF0) == 0xE0) extra = 2;
        else if ((lead & 0xF8) == 0xF0) extra = 3;
        else if ((lead & 0xFC) == 0xF8) extra = 4;
        else if ((lead & 0xFE) == 0xFC) extra = 5;
        else if (lead == 0xFE) extra = 6;
        else return std::nullopt;
    }
    ++pos;
    const size_t tail = extra + (sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0) +
                        (rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0);
    if (!file.Read(at + pos, std::span(h).subspan(pos, tail + 1))) return std::nullopt;
    for (size_t i = 0; i < extra; ++i) {
        if ((Byte(h, pos + i) & 0xC0) != 0x80) return std::nullopt;
    }
    pos += extra;
    FrameHeader f;
    if (sizeCode == 1) f.blockSize = 192;
    else if (sizeCode <= 5) f.blockSize = uint64_t{576} << (sizeCode - 2);
    else if (sizeCode == 6) f.blockSize = uint64_t{Byte(h, pos)} + 1;
    else if (sizeCode == 7) f.blockSize = uint64_t{Be16(h, pos)} + 1;
    else f.blockSize = uint64_t{256} << (sizeCode - 8);
    pos += sizeCode == 6 ? 1 : sizeCode == 7 ? 2 : 0;
    pos += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (Crc8(std::span(h).first(pos)) != Byte(h, pos)) return std::nullopt;
    constexpr std::array<unsigned, 8> kDepths = {0, 8, 12, 0, 16, 20, 24, 32};
    f.bitsPerSample = depthCode == 0 ? info.bitsPerSample : kDepths[depthCode];
    f.assignment = assignment;
    f.channels = assignment <= 7 ? assignment + 1 : 2;
    f.length = pos + 1;
    if (f.bitsPerSample == 0) return std::nullopt;
    return f;
}

// Reads one subframe through; false when it is not one.
bool SkipSubframe(BitReader& in, uint64_t blockSize, unsigned bits) {
    const auto head = in.Bits(8);
    if (!head || (*head & 0x80) != 0) return false;
    const unsigned type = (*head >> 1) & 0x3F;
    if ((*head & 1) != 0) {
        const auto wasted = in.Unary(bits);
        if (!wasted || *wasted + 1 >= bits) return false;
        bits -= static_cast<unsigned>(*wasted + 1);
    }
    if (type == 0) return in.Bits(bits).has_value();
    if (type == 1) {
        for (uint64_t i = 0; i < blockSize; ++i) {
            if (!in.Bits(bits)) return false;
        }
        return true;
    }
    unsigned order = 0;
    if (type >= 8 && type <= 12) {
        order = type - 8;
        for (unsigned i = 0; i < order; ++i) {
            if (!in.Bits(bits)) return false;
        }
    } else if (type >= 32) {
        order = type - 31;
        for (unsigned i = 0; i < order; ++i) {
            if (!in.Bits(bits)) return false;
        }
        const auto precision = in.Bits(4);
        if (!precision || *precision == 15 || !in.Bits(5)) return false;
        for (unsigned i = 0; i < order; ++i) {
            if (!in.Bits(static_cast<unsigned>(*precision + 1))) return false;
        }
    } else {
        return false;
    }
    if (order > blockSize) return false;
    // The residual: Rice-coded partitions.
    const auto method = in.Bits(2), partitionOrder = in.Bits(4);
    if (!method || *method > 1 || !partitionOrder) return false;
    const unsigned paramBits = *method == 0 ? 4 : 5;
    const uint64_t escape = *method == 0 ? 15 : 31;
    const uint64_t partitions = uint64_t{1} << *partitionOrder;
    if (blockSize % partitions != 0 || (blockSize >> *partitionOrder) < order) return false;
    for (uint64_t p = 0; p < partitions; ++p) {
        const uint64_t samples = (blockSize >> *partitionOrder) - (p == 0 ? order : 0);
        const auto param = in.Bits(paramBits);
        if (!param) return false;
        if (*param == escape) {
            const auto raw = in.Bits(5);
            if (!raw) return false;
            for (uint64_t i = 0; i < samples; ++i) {
                if (!in.Bits(static_cast<unsigned>(*raw))) return false;
            }
            continue;
        }
        for (uint64_t i = 0; i < samples; ++i) {
            // A quotient beyond what 32-bit samples need is no residual.
            if (!in.Unary(uint64_t{1} << 32 >> *param) || !in.Bits(static_cast<unsigned>(*param))) {
                return false;
            }
        }
    }
    return true;
}

StructureEnd WalkFlac(CarveSession& session) {
    CarvedFileBytes file(session, kFlacLimit);
    // Metadata blocks: STREAMINFO first.
    uint64_t pos = 4;
    StreamInfo info;
    for (int i = 0; i < kMaxMetadataBlocks; ++i) {
        const auto head = file.Be(pos, 4);
        if (!head) return StructureEnd::Broken();
        const uint64_t type = (*head >> 24) & 0x7F, length = *head & 0xFFFFFF;
        if (i == 0) {
            std::array<std::byte, 34> si{};
            if (type != 0 || length != 34 || !file.Read(pos + 4, si)) return StructureEnd::Broken();
            info.bitsPerSample = ((Byte(si, 12) & 1) << 4 | Byte(si, 13) >> 4) + 1;
            info.totalSamples = (uint64_t{Byte(si, 13)} & 0x0F) << 32 | Be32(si, 14);
        } else if (type == 127) {
            return StructureEnd::Broken();
        }
        pos += 4 + length;
        if ((*head & 0x80000000U) != 0) break;
    }
    uint64_t samples = 0;
    bool damaged = false;
    bool any = false;
    while (info.totalSamples == 0 || samples < info.totalSamples) {
        const auto frame = ReadFrameHeader(file, pos, info);
        if (!frame) break;
        BitReader in(file, pos + frame->length);
        for (unsigned c = 0; c < frame->channels; ++c) {
            // The side channel of a stereo pair carries one bit more.
            const bool side = (frame->assignment == 8 && c == 1) ||
                              (frame->assignment == 9 && c == 0) ||
                              (frame->assignment == 10 && c == 1);
            if (!SkipSubframe(in, frame->blockSize, frame->bitsPerSample + (side ? 1 : 0))) {
                return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            }
        }
        in.AlignToByte();
        const uint64_t crcAt = in.ByteOffset();
        const auto stored = file.Be(crcAt, 2);
        bool ok = false;
        const uint16_t crc = TheCrc16().Of(file, pos, crcAt, ok);
        if (!stored || !ok) return StructureEnd::Broken();
        if (crc != *stored) damaged = true;
        pos = crcAt + 2;
        samples += frame->blockSize;
        any = true;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    if (!any || (info.totalSamples != 0 && samples < info.totalSamples)) {
        return StructureEnd::Broken();
    }
    return StructureEnd::Found(pos, damaged);
}

}  // namespace

FileTypeCode RecogniseFlac(CarveSession&, ByteView b) {
    // "fLaC", then STREAMINFO (type 0, 34 bytes) with a block size of at least 16 samples.
    if (b.size() < 44 || !At(b, 0, "fLaC") || (Byte(b, 4) & 0x7F) != 0 ||
        !At(b, 5, "\x00\x00\x22"sv) || Be16(b, 8) < 16 || Be16(b, 10) < Be16(b, 8)) {
        return kTypeNone;
    }
    // Frame sizes (0: not known), a sample rate, at least 4 bits a sample.
    const uint32_t minFrame = Be32(b, 11) & 0xFFFFFF, maxFrame = Be32(b, 14) & 0xFFFFFF;
    const uint32_t rate = Be32(b, 18) >> 12;
    const unsigned bits = ((Byte(b, 20) & 0x01) << 4 | Byte(b, 21) >> 4) + 1U;
    if ((minFrame != 0 && maxFrame != 0 && minFrame > maxFrame) || rate == 0 || rate > 655350 ||
        bits < 4) {
        return kTypeNone;
    }
    // What follows: another metadata block of a defined type, or after the last one a frame.
    const bool last = (Byte(b, 4) & 0x80) != 0;
    if (last ? (Be16(b, 42) & 0xFFFE) != 0xFFF8 : (Byte(b, 42) & 0x7F) > 6) return kTypeNone;
    return kTypeFlac;
}

uint64_t FindFlacEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkFlac(session)), FlacRule, header);
}

}  // namespace keltra
