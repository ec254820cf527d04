// MXF: the header partition pack key. The file is a chain of key-length-value packets (a
// 16-byte key, a BER length, the value); it is whole when the chain reaches the footer
// partition, and ends where the chain does.
#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kMxfLimit = 6 * kGiB;
constexpr std::string_view kKeyPrefix = "\x06\x0E\x2B\x34"sv;
// The partition pack keys differ only in byte 13: 02 header, 03 body, 04 footer.
constexpr std::string_view kPartitionKey = "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01"sv;
constexpr uint8_t kFooter = 0x04;

StructureEnd WalkPackets(CarveSession& session) {
    CarvedFileBytes file(session, kMxfLimit);
    uint64_t pos = 0;
    bool footer = false;
    while (file.Holds(pos, kKeyPrefix)) {
        const auto first = file.Be(pos + 16, 1);
        if (!first) break;
        uint64_t lengthBytes = 1;
        uint64_t length = *first;
        if (*first >= 0x80) {
            lengthBytes += *first & 0x7F;
            const auto value = lengthBytes > 1 && lengthBytes <= 9
                                   ? file.Be(pos + 17, static_cast<size_t>(lengthBytes - 1))
                                   : std::nullopt;
            if (!value) return StructureEnd::Broken();
            length = *value;
        }
        footer = footer || (file.Holds(pos, kPartitionKey) && file.Be(pos + 13, 1) == kFooter);
        const uint64_t next = pos + 16 + lengthBytes;
        if (length > file.Available() - std::min(next, file.Available())) {
            return StructureEnd::Broken();
        }
        pos = next + length;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return footer ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

uint64_t MxfRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kMxfLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseMxf(CarveSession&, ByteView b) {
    constexpr std::string_view kKey =
        "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv;
    return At(b, 0, kKey) ? kTypeMxf : kTypeNone;
}

uint64_t FindMxfEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkPackets(session)), MxfRule, header);
}

}  // namespace keltra
