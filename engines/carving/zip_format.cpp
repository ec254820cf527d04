// Zip archives and the documents built on them (Office open XML, OpenDocument). The file is
// its local entries, each header giving the entry's size (or a data descriptor after the data
// giving it), then the central directory and its end record. The end record must agree with
// the entries walked; an archive whose directory does not is damaged.
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kZipLimit = 4 * kGiB;
constexpr uint64_t kMaxEntries = 1 << 20;

constexpr std::string_view kLocal = "PK\x03\x04"sv;
constexpr std::string_view kCentral = "PK\x01\x02"sv;
constexpr std::string_view kEnd = "PK\x05\x06"sv;
constexpr std::string_view kEnd64 = "PK\x06\x06"sv;
constexpr std::string_view kLocator64 = "PK\x06\x07"sv;
constexpr std::string_view kDescriptor = "PK\x07\x08"sv;
constexpr std::string_view kSignature = "PK\x05\x05"sv;
constexpr uint64_t kNoSize = 0xFFFFFFFF;

class ZipWalk {
  public:
    explicit ZipWalk(CarveSession& session) : file_(session, kZipLimit) {}

    StructureEnd Run() {
        uint64_t pos = 0;
        uint64_t locals = 0;
        uint64_t centrals = 0;
        std::optional<uint64_t> directoryAt;
        for (uint64_t i = 0; i < 4 * kMaxEntries; ++i) {
            if (file_.Holds(pos, kLocal) && !directoryAt) {
                const auto next = LocalEntry(pos);
                if (!next) break;
                pos = *next;
                ++locals;
            } else if (file_.Holds(pos, kCentral)) {
                const auto n = file_.Le(pos + 28, 2), e = file_.Le(pos + 30, 2),
                           c = file_.Le(pos + 32, 2);
                if (!n || !e || !c) break;
                if (!directoryAt) directoryAt = pos;
                pos += 46 + *n + *e + *c;
                ++centrals;
            } else if (file_.Holds(pos, kSignature)) {
                const auto size = file_.Le(pos + 4, 2);
                if (!size) break;
                pos += 6 + *size;
            } else if (file_.Holds(pos, kEnd64)) {
                const auto size = file_.Le(pos + 4, 8);
                if (!size || *size > file_.Available()) break;
                pos += 12 + *size;
            } else if (file_.Holds(pos, kLocator64)) {
                pos += 20;
            } else if (file_.Holds(pos, kEnd)) {
                return EndRecord(pos, locals, centrals, directoryAt.value_or(pos));
            } else {
                break;
            }
        }
        return file_.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
    }

  private:
    // Where the entry whose local header is at `pos` ends.
    std::optional<uint64_t> LocalEntry(uint64_t pos) {
        const auto flags = file_.Le(pos + 6, 2), packed = file_.Le(pos + 18, 4),
                   n = file_.Le(pos + 26, 2), e = file_.Le(pos + 28, 2);
        if (!flags || !packed || !n || !e) return std::nullopt;
        const uint64_t data = pos + 30 + *n + *e;
        uint64_t size = *packed;
        if (size == kNoSize) {  // zip64: the sizes are in the extra field
            const auto big = Zip64Size(pos + 30 + *n, *e);
            if (!big) return std::nullopt;
            size = *big;
        }
        if ((*flags & 0x08) == 0 || size != 0) {
            if (size > file_.Available() - std::min(data, file_.Available())) return std::nullopt;
            const uint64_t end = data + size;
            // A descriptor may follow even when the header gave the size.
            if ((*flags & 0x08) != 0 && file_.Holds(end, kDescriptor)) return end + 16;
            return end;
        }
        return AfterDescriptor(data);
    }

    std::optional<uint64_t> Zip64Size(uint64_t extra, uint64_t length) {
        for (uint64_t at = extra; at + 4 <= extra + length;) {
            const auto id = file_.Le(at, 2), size = file_.Le(at + 2, 2);
            if (!id || !size) return std::nullopt;
            if (*id == 0x0001 && *size >= 16) return file_.Le(at + 12, 8);
            at += 4 + *size;
        }
        return std::nullopt;
    }

    // The data of unknown size that begins at `data` ends with a descriptor (signed or not)
    // whose packed size is the data's length; the next record follows it.
    std::optional<uint64_t> AfterDescriptor(uint64_t data) {
        for (uint64_t at = data; at < file_.Available();) {
            const auto pk = file_.Find("PK"sv, at, file_.Available());
            if (!pk) return std::nullopt;
            if (file_.Holds(*pk, kDescriptor)) {
                if (file_.Le(*pk + 8, 4) == *pk - data) return *pk + 16;
                if (file_.Le(*pk + 8, 8) == *pk - data) return *pk + 24;
            } else if ((file_.Holds(*pk, kLocal) || file_.Holds(*pk, kCentral)) &&
                       *pk >= data + 12 && file_.Le(*pk - 8, 4) == *pk - 12 - data) {
                return *pk;
            }
            at = *pk + 1;
        }
        return std::nullopt;
    }

    StructureEnd EndRecord(uint64_t pos, uint64_t locals, uint64_t centrals, uint64_t directoryAt) {
        const auto total = file_.Le(pos + 10, 2), size = file_.Le(pos + 12, 4),
                   offset = file_.Le(pos + 16, 4), comment = file_.Le(pos + 20, 2);
        if (!total || !size || !offset || !comment) return StructureEnd::Broken();
        const uint64_t end = pos + 22 + *comment;
        if (end > file_.Available()) return StructureEnd::Broken();
        // Zip64 archives put 0xFFFF and 0xFFFFFFFF here and the true values in their own
        // record; only what is there is compared.
        bool agrees = centrals == locals;
        if (*total != 0xFFFF) agrees = agrees && *total == centrals;
        if (*offset != kNoSize) agrees = agrees && *offset == directoryAt;
        return StructureEnd::Found(end, !agrees);
    }

    CarvedFileBytes file_;
};

uint64_t ZipRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kZipLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseZip(CarveSession&, ByteView b) {
    return b.size() >= 48 && At(b, 0, kLocal) ? kTypeZip : kTypeNone;
}

uint64_t FindZipEnd(CarveSession& session, ByteView header) {
    ZipWalk walk(session);
    return EndOrRule(session, walk.Run(), ZipRule, header);
}

}  // namespace keltra
