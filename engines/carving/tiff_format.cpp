// TIFF, either byte order. The file ends after the last byte its directories point at: the
// directories themselves, their out-of-line values, and the strips or tiles (and any Exif, GPS
// or sub-image directories) they name.
#include <algorithm>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kTiffLimit = 128 * kMiB;
constexpr size_t kMaxDirectories = 256;
constexpr uint64_t kMaxEntries = 4096;
constexpr uint64_t kMaxPieces = uint64_t{1} << 20;
constexpr uint64_t kLastType = 18;

enum Tag : uint16_t {
    kStripOffsets = 273,
    kStripByteCounts = 279,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSubIfds = 330,
    kJpegOffset = 513,
    kJpegLength = 514,
    kExifIfd = 34665,
    kGpsIfd = 34853,
    kInteropIfd = 40965,
};

uint64_t TypeSize(uint64_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;  // byte, ascii, sbyte, undefined
        case 3:
        case 8:
            return 2;  // short, sshort
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;  // long, slong, float, ifd
        case 5:
        case 10:
        case 12:
            return 8;  // rational, srational, double
        default:
            return 0;
    }
}

struct Entry {
    uint16_t tag = 0;
    uint64_t type = 0;
    uint64_t count = 0;
    uint64_t valueAt = 0;  // where the values lie: in the entry, or at the offset it holds
};

class TiffWalk {
  public:
    explicit TiffWalk(bool bigEndian) : big_(bigEndian), file_(kTiffLimit) {}

    StructureEnd Run() {
        const auto first = U(4, 4);
        if (!first) return StructureEnd::Broken();
        first_ = *first;
        std::vector<uint64_t> pending{*first};
        std::vector<uint64_t> seen;
        while (!pending.empty()) {
            const uint64_t ifd = pending.back();
            pending.pop_back();
            if (ifd == 0 || std::find(seen.begin(), seen.end(), ifd) != seen.end()) continue;
            if (seen.size() >= kMaxDirectories || !Directory(ifd, pending)) {
                return file_.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            }
            seen.push_back(ifd);
        }
        return StructureEnd::Found(end_);
    }

  private:
    std::optional<uint64_t> U(uint64_t at, size_t bytes) {
        return big_ ? file_.Be(at, bytes) : file_.Le(at, bytes);
    }

    // Takes the bytes [at, at + length) as part of the file.
    bool Cover(uint64_t at, uint64_t length) {
        if (at < 8 || at > file_.Available() || length > file_.Available() - at) return false;
        end_ = std::max(end_, at + length);
        return true;
    }

    bool Directory(uint64_t ifd, std::vector<uint64_t>& pending) {
        const auto count = U(ifd, 2);
        if (!count || *count == 0 || *count > kMaxEntries) return false;
        if (!Cover(ifd, 2 + 12 * *count + 4)) return false;
        Entry offsets, counts;
        std::optional<uint64_t> jpegAt, jpegLength;
        uint64_t lastTag = 0;
        for (uint64_t i = 0; i < *count; ++i) {
            const uint64_t at = ifd + 2 + 12 * i;
            Entry e;
            const auto tag = U(at, 2), type = U(at + 2, 2), n = U(at + 4, 4);
            // Entries are sorted by tag; bytes that are no directory seldom are.
            if (!tag || !type || !n || (i > 0 && *tag <= lastTag) || *type == 0 ||
                *type > kLastType) {
                return false;
            }
            lastTag = *tag;
            e.tag = static_cast<uint16_t>(*tag);
            e.type = *type;
            e.count = *n;
            const uint64_t size = TypeSize(e.type);
            if (size == 0) continue;  // a type of a later version (BigTIFF's): skipped
            e.valueAt = at + 8;
            if (size * e.count > 4) {
                const auto where = U(at + 8, 4);
                if (!where || !Cover(*where, size * e.count)) return false;
                e.valueAt = *where;
            }
            switch (e.tag) {
                case kStripOffsets:
                case kTileOffsets:
                    offsets = e;
                    break;
                case kStripByteCounts:
                case kTileByteCounts:
                    counts = e;
                    break;
                case kJpegOffset:
                    jpegAt = Value(e, 0);
                    break;
                case kJpegLength:
                    jpegLength = Value(e, 0);
                    break;
                case kSubIfds:
                case kExifIfd:
                case kGpsIfd:
                case kInteropIfd:
                    for (uint64_t k = 0; k < std::min(e.count, uint64_t{kMaxDirectories}); ++k) {
                        if (const auto sub = Value(e, k)) pending.push_back(*sub);
                    }
                    break;
                default:
                    break;
            }
        }
        // One budget of pieces for all directories, so that many directories cannot make the
        // walk long.
        if (offsets.count != counts.count || offsets.count > kMaxPieces - pieces_) return false;
        pieces_ += offsets.count;
        // The first directory describes the main image, whose data it must point at.
        if (ifd == first_ && offsets.count == 0 && !jpegAt) return false;
        for (uint64_t k = 0; k < offsets.count; ++k) {
            const auto at = Value(offsets, k), length = Value(counts, k);
            if (!at || !length || (*length != 0 && !Cover(*at, *length))) return false;
        }
        if (jpegAt && jpegLength && *jpegLength != 0 && !Cover(*jpegAt, *jpegLength)) return false;
        const auto next = U(ifd + 2 + 12 * *count, 4);
        if (!next) return false;
        pending.push_back(*next);
        return true;
    }

    // The `k`-th value of a short, long or ifd entry.
    std::optional<uint64_t> Value(const Entry& e, uint64_t k) {
        const uint64_t size = TypeSize(e.type);
        if (e.type != 3 && e.type != 4 && e.type != 13) return std::nullopt;
        return U(e.valueAt + k * size, static_cast<size_t>(size));
    }

    bool big_;
    CarvedFileBytes file_;
    uint64_t end_ = 8;
    uint64_t first_ = 0;
    uint64_t pieces_ = 0;
};

uint64_t TiffRule(ByteView) {
    return RunEndSearch(kTiffLimit, kTypeNone, nullptr);
}

}  // namespace

FileTypeCode RecogniseTiff(ByteView b) {
    using namespace std::string_view_literals;
    return At(b, 0, "MM\x00\x2A"sv) || At(b, 0, "II\x2A\x00"sv) ? kTypeTiff : kTypeNone;
}

uint64_t FindTiffEnd(ByteView header) {
    TiffWalk walk(At(header, 0, "MM"));
    return EndOrRule(ConfirmedByStopScan(walk.Run()), TiffRule, header);
}

}  // namespace keltra
