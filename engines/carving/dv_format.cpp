// Raw DV, as DV camcorders write it to tape and card: frames of 80-byte DIF blocks, in DIF
// sequences of 150 blocks, 10 sequences a frame in 525/60 systems (120000 bytes) and 12 in 625/50
// ones (144000 bytes). Every block begins with its ID: the section type in the top three bits of
// its first byte, the sequence number in the top four of its second (whose low three are set),
// the block's number within its section in the third. A sequence is a header block, two subcode
// blocks, three VAUX blocks, then nine groups of an audio block and 15 video blocks. The header
// block of a frame's first sequence tells the system. Nothing gives the stream's length: it ends
// after its last whole frame.
#include <array>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kDvLimit = 16 * kGiB;
constexpr uint64_t kBlockBytes = 80;
constexpr uint64_t kSequenceBytes = 150 * kBlockBytes;
constexpr uint8_t kSectionHeader = 0, kSectionSubcode = 1, kSectionVaux = 2, kSectionAudio = 3;

// The sections and block numbers of a sequence's first seven blocks.
struct BlockId {
    uint8_t section;
    uint8_t number;
};
constexpr std::array<BlockId, 7> kSequenceStart = {{
    {kSectionHeader, 0},
    {kSectionSubcode, 0},
    {kSectionSubcode, 1},
    {kSectionVaux, 0},
    {kSectionVaux, 1},
    {kSectionVaux, 2},
    {kSectionAudio, 0},
}};
constexpr size_t kSequenceStartBytes = (kSequenceStart.size() - 1) * kBlockBytes + 3;
static_assert(kSequenceStartBytes <= 512, "a sequence's start is told within one sector");

// The first seven block IDs of sequence `sequence` at `b`; the header block's system byte must be
// `system` (its top bit, 625/50, and the reserved bits).
bool SequenceStarts(ByteView b, uint64_t sequence, uint8_t system) {
    if (b.size() < kSequenceStartBytes) return false;
    for (size_t i = 0; i < kSequenceStart.size(); ++i) {
        const size_t at = i * kBlockBytes;
        // The bit after the section type is reserved and set; the low four are free.
        if ((Byte(b, at) >> 5) != kSequenceStart[i].section || (Byte(b, at) & 0x10) == 0 ||
            Byte(b, at + 1) != ((sequence << 4) | 0x07) ||
            Byte(b, at + 2) != kSequenceStart[i].number) {
            return false;
        }
    }
    return Byte(b, 3) == system;
}

uint64_t FrameBytes(uint8_t system) {
    return ((system & 0x80) != 0 ? 12 : 10) * kSequenceBytes;
}

// Whole frames from the header on. A frame whose first sequence starts but whose others do not
// was cut or overwritten: the stream is broken there.
StructureEnd WalkFrames(CarveSession& session, ByteView header) {
    CarvedFileBytes file(session, kDvLimit);
    const uint8_t system = Byte(header, 3);
    const uint64_t frameBytes = FrameBytes(system);
    const uint64_t sequences = frameBytes / kSequenceBytes;
    std::array<std::byte, kSequenceStartBytes> start{};
    uint64_t frames = 0;
    for (;; ++frames) {
        const uint64_t frame = frames * frameBytes;
        if (frame >= file.Available()) break;
        if (!file.Read(frame, start)) {
            if (file.Stopped()) return StructureEnd::Unknown();
            break;
        }
        if (!SequenceStarts(start, 0, system)) break;
        if (frameBytes > file.Available() - frame) return StructureEnd::Broken();
        for (uint64_t s = 1; s < sequences; ++s) {
            if (!file.Read(frame + s * kSequenceBytes, start)) {
                return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            }
            if (!SequenceStarts(start, s, system)) return StructureEnd::Broken();
        }
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return frames == 0 ? StructureEnd::Broken() : StructureEnd::Found(frames * frameBytes);
}

uint64_t DvRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kDvLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseDv(CarveSession&, ByteView b) {
    const uint8_t system = b.size() > 3 ? Byte(b, 3) : 0;
    return (system & 0x7F) == 0x3F && SequenceStarts(b, 0, system) ? kTypeDv : kTypeNone;
}

uint64_t FindDvEnd(CarveSession& session, ByteView header) {
    // Later frames start sectors of their own where they fall on a sector boundary.
    return EndOrRule(session, ConfirmedByStopScan(session, WalkFrames(session, header), kTypeDv),
                     DvRule, header);
}

}  // namespace keltra
