// MPEG transport streams (188-byte packets) and M2TS (192-byte packets whose first carries the
// program association table).
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr size_t kPacket = 188;
constexpr uint8_t kSync = 0x47;
constexpr size_t kLookAhead = 4096;

bool SyncAtEveryPacket(ByteView b, size_t limit) {
    for (size_t p = 0; p < limit; p += kPacket) {
        if (Byte(b, p) != kSync) return false;
    }
    return true;
}

// True when the sector before the current one ends with packets aligned to it, or the current
// sector lies in a stream carved before: the sector continues a stream, it does not start one.
bool ContinuesStream(CarveSession& session) {
    if (session.currentSector > 0) {
        const ByteView before = session.ReadProbe(session.currentSector - 1, 1);
        if (before.empty()) return true;  // unreadable: not taken as a start
        for (size_t j = 1; j * kPacket <= session.sectorSize; ++j) {
            if (Byte(before, session.sectorSize - j * kPacket) == kSync) return true;
        }
    }
    for (const TsStreamRange& r : session.transportStreams) {
        if (session.currentSector >= r.firstSector && session.currentSector <= r.lastSector)
            return true;
    }
    return false;
}

// Follows the packet chain after the header sector and notes where it first breaks.
class PacketWalk : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (broken_) return std::nullopt;
        const uint64_t end = c.offset + c.read.size();
        for (uint64_t p = (c.offset + kPacket - 1) / kPacket * kPacket; p + kPacket <= end;
             p += kPacket) {
            if (Byte(c.read, static_cast<size_t>(p - c.offset)) != kSync) {
                broken_ = p;
                break;
            }
        }
        return std::nullopt;
    }
    void Finish(uint64_t& size) override {
        if (broken_ && *broken_ < size) size = *broken_;
    }

  private:
    std::optional<uint64_t> broken_;
};

}  // namespace

FileTypeCode RecogniseTransportStream(CarveSession& session, ByteView b) {
    if (b.size() < kPacket || Byte(b, 0) != kSync) return kTypeNone;
    if (Byte(b, 1) == 0 && Byte(b, 2) == 0 && Byte(b, 3) == 0) return kTypeNone;
    if (!SyncAtEveryPacket(b, b.size())) return kTypeNone;

    if (session.sectorSize == 0) return kTypeNone;
    const ByteView ahead = session.ReadProbe(
        session.currentSector, static_cast<uint32_t>(kLookAhead / session.sectorSize));
    if (ahead.size() < kLookAhead || !SyncAtEveryPacket(ahead, 22 * kPacket)) return kTypeNone;
    if (session.transportStreamFlag == 1 && ContinuesStream(session)) return kTypeNone;
    return kTypeTransportStream;
}

uint64_t FindTransportStreamEnd(CarveSession& session, ByteView) {
    PacketWalk walk;
    const uint64_t size = RunEndSearch(session, 64 * kGiB, kTypeNone, &walk);
    const uint64_t sectors = (size + session.sectorSize - 1) / session.sectorSize;
    session.transportStreams.push_back({session.startSector, session.startSector + sectors - 1});
    return size;
}

FileTypeCode RecogniseM2ts(CarveSession& session, ByteView b) {
    if (b.size() < 16 || !At(b, 8, "\x00\x00\xB0\x11\x00\x00\xC1\x00"sv)) return kTypeNone;
    const bool zeroStamp = At(b, 0, "\x00\x00\x00\x00"sv);
    return zeroStamp || session.m2tsFlag == 0 ? kTypeM2ts : kTypeNone;
}

namespace {

constexpr uint64_t kM2tsLimit = 6 * kGiB;
constexpr uint64_t kM2tsPacket = 192;  // a 4-byte time stamp, then a transport packet

// The packets run on while each holds the sync byte after its time stamp.
StructureEnd WalkM2tsPackets(CarveSession& session) {
    CarvedFileBytes file(session, kM2tsLimit);
    uint64_t pos = 0;
    while (pos + kM2tsPacket <= file.Available() && file.Be(pos + 4, 1) == 0x47) {
        pos += kM2tsPacket;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return pos > 0 ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

uint64_t M2tsRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kM2tsLimit, kTypeNone, nullptr);
}

}  // namespace

uint64_t FindM2tsEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkM2tsPackets(session)), M2tsRule,
                     header);
}

}  // namespace keltra
