#include "engines/carving/tiff_directory_walk.h"

#include <algorithm>
#include <array>
#include <string>

#include "engines/carving/byte_tests.h"
#include "platform/text.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr size_t kMaxDirectories = 512;
constexpr uint64_t kMaxEntries = 4096;
constexpr uint64_t kMaxPieces = uint64_t{1} << 20;
constexpr uint64_t kLastType = 18;
constexpr uint64_t kMaxText = 64;

enum Tag : uint16_t {
    kCompression = 259,
    kPhotometric = 262,
    kMake = 271,
    kModel = 272,
    kStripOffsets = 273,
    kStripByteCounts = 279,
    kRawDataOffset = 280,  // Panasonic RW2: the raw data, as long as the strip's byte count
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSubIfds = 330,
    kJpegOffset = 513,
    kJpegLength = 514,
    kKodakIfd = 33424,
    kExifIfd = 34665,
    kGpsIfd = 34853,
    kMakerNote = 37500,
    kInteropIfd = 40965,
    kDngVersion = 50706,
    kDngPrivateData = 50740,  // Sony: the offset of its private (SR2) directory
    kSr2SubIfdOffset = 29184,
    kSr2SubIfdLength = 29185,
    kNikonPreviewIfd = 0x0011,
    kOlympusPreviewStart = 0x0101,
    kOlympusPreviewLength = 0x0102,
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

bool IsPointerType(uint64_t type) {
    return type == 4 || type == 13;
}

}  // namespace

TiffDirectoryWalk::TiffDirectoryWalk(CarvedFileBytes& file, bool bigEndian)
    : file_(file), big_(bigEndian) {}

std::optional<uint64_t> TiffDirectoryWalk::U(uint64_t at, size_t bytes, bool big) {
    return big ? file_.Be(at, bytes) : file_.Le(at, bytes);
}

bool TiffDirectoryWalk::Cover(uint64_t at, uint64_t length, uint64_t& end) {
    if (at < 8 || at > file_.Available() || length > file_.Available() - at) return false;
    end = std::max(end, at + length);
    starts_.push_back(at);
    return true;
}

// The `k`-th value of a short, long or ifd entry.
std::optional<uint64_t> TiffDirectoryWalk::Value(const Entry& e, uint64_t k, bool big) {
    const uint64_t size = TypeSize(e.type);
    if (e.type != 3 && e.type != 4 && e.type != 13) return std::nullopt;
    if (k >= e.count) return std::nullopt;
    return U(e.valueAt + k * size, static_cast<size_t>(size), big);
}

StructureEnd TiffDirectoryWalk::Run() {
    const auto first = U(4, 4, big_);
    if (!first) return StructureEnd::Broken();
    firstDirectory_ = *first;
    std::vector<Pending> pending{{*first, 0, big_, true, false}};
    std::vector<uint64_t> seen;
    while (!pending.empty()) {
        const Pending dir = pending.back();
        pending.pop_back();
        if (dir.at == 0 || std::find(seen.begin(), seen.end(), dir.at) != seen.end()) continue;
        if (seen.size() >= kMaxDirectories) return StructureEnd::Broken();
        seen.push_back(dir.at);
        if (Directory(dir, pending)) continue;
        if (file_.Stopped()) return StructureEnd::Unknown();
        if (dir.strict) return StructureEnd::Broken();
    }
    if (!imageData_) return StructureEnd::Broken();
    // Strips without byte counts (some RW2 files): where the data ends is not written down.
    if (unsized_) return StructureEnd::Unknown();
    return StructureEnd::Found(end_);
}

void TiffDirectoryWalk::ReadMarks(const Entry& e, bool big, bool first) {
    if (e.tag == kPhotometric || e.tag == kCompression) {
        const auto v = Value(e, 0, big);
        if (v && (e.tag == kPhotometric ? IsSensorPhotometric(*v) : IsRawCompression(*v))) {
            marks_.sensorData = true;
        }
        return;
    }
    if (!first) return;
    if (e.tag == kDngVersion) {
        marks_.dngVersion = true;
    } else if ((e.tag == kMake || e.tag == kModel) && e.type == 2) {
        std::array<std::byte, kMaxText> text{};
        const auto n = static_cast<size_t>(std::min(e.count, kMaxText));
        if (!file_.Read(e.valueAt, std::span(text).first(n))) return;
        std::string s(reinterpret_cast<const char*>(text.data()), n);
        s.resize(std::min(s.find('\0'), s.size()));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        (e.tag == kMake ? marks_.make : marks_.model) = s;
    }
}

// A maker note that begins with a directory the walk knows how to find: its values (and the
// previews and sub-directories it names) extend the file like the main tree's. What does not
// read as a directory is left as the note's bytes, already covered.
void TiffDirectoryWalk::MakerNote(const Entry& note, bool big) {
    std::array<std::byte, 16> head{};
    if (note.count < head.size() || !file_.Read(note.valueAt, head)) return;
    const uint64_t at = note.valueAt;
    std::vector<Pending> notes;
    if (At(head, 0, "Nikon\x00\x02"sv)) {
        // Its own TIFF header at 10, offsets counting from it.
        const uint64_t base = at + 10;
        const bool innerBig = At(head, 10, "MM");
        if (const auto first = U(base + 4, 4, innerBig)) {
            notes.push_back({base + *first, base, innerBig, false, true});
        }
    } else if (At(head, 0, "OLYMPUS\x00"sv) || At(head, 0, "OM SYSTEM"sv)) {
        // "OLYMPUS\0" and a byte order at 8, offsets counting from the note's start.
        const size_t order = At(head, 0, "OM SYSTEM"sv) ? 12 : 8;
        notes.push_back({at + order + 4, at, At(head, order, "MM"), false, true});
    } else if (At(head, 0, "SONY DSC \x00\x00\x00"sv) || At(head, 0, "SONY CAM \x00\x00\x00"sv) ||
               At(head, 0, "Panasonic\x00\x00\x00"sv)) {
        notes.push_back({at + 12, 0, big, false, true});
    } else if (AsciiLower(marks_.make).rfind("canon", 0) == 0) {
        notes.push_back({at, 0, big, false, true});
    }
    for (const Pending& dir : notes) {
        // A note's directory is taken whole or not at all.
        const uint64_t before = end_;
        std::vector<Pending> inner{dir};
        std::vector<uint64_t> seen;
        bool ok = true;
        while (ok && !inner.empty()) {
            const Pending d = inner.back();
            inner.pop_back();
            if (d.at == 0 || std::find(seen.begin(), seen.end(), d.at) != seen.end()) continue;
            if (seen.size() >= 16) break;
            seen.push_back(d.at);
            ok = Directory(d, inner);
        }
        if (!ok) end_ = before;
    }
}

bool TiffDirectoryWalk::Directory(const Pending& dir, std::vector<Pending>& pending) {
    const bool big = dir.big;
    const auto count = U(dir.at, 2, big);
    if (!count || *count == 0 || *count > kMaxEntries) return false;
    uint64_t end = end_;
    if (!Cover(dir.at, 2 + 12 * *count + 4, end)) return false;
    Entry offsets, counts, rawData, previewAt, previewLength, sr2At, sr2Length;
    std::optional<uint64_t> jpegAt, jpegLength;
    std::vector<Pending> found;
    std::optional<Entry> makerNote;
    const bool first = dir.at == firstDirectory_ && dir.strict;
    for (uint64_t i = 0; i < *count; ++i) {
        const uint64_t at = dir.at + 2 + 12 * i;
        const auto tag = U(at, 2, big), type = U(at + 2, 2, big), n = U(at + 4, 4, big);
        if (!tag || !type || !n || *type == 0 || *type > kLastType) return false;
        Entry e;
        e.tag = static_cast<uint16_t>(*tag);
        e.type = *type;
        e.count = *n;
        const uint64_t size = TypeSize(e.type);
        if (size == 0) continue;  // a type of a later version (BigTIFF's): skipped
        e.valueAt = at + 8;
        if (size * e.count > 4) {
            const auto where = U(at + 8, 4, big);
            if (!where || !Cover(dir.base + *where, size * e.count, end)) return false;
            e.valueAt = dir.base + *where;
        }
        ReadMarks(e, big, first);
        switch (e.tag) {
            case kStripOffsets:
            case kTileOffsets:
                offsets = e;
                break;
            case kStripByteCounts:
            case kTileByteCounts:
                counts = e;
                break;
            case kRawDataOffset:
                rawData = e;
                break;
            case kJpegOffset:
                jpegAt = Value(e, 0, big);
                break;
            case kJpegLength:
                jpegLength = Value(e, 0, big);
                break;
            case kSubIfds:
            case kExifIfd:
            case kGpsIfd:
            case kInteropIfd:
            case kKodakIfd:
                for (uint64_t k = 0; k < std::min(e.count, uint64_t{kMaxDirectories}); ++k) {
                    if (const auto sub = Value(e, k, big)) {
                        found.push_back({dir.base + *sub, dir.base, big, dir.strict, false});
                    }
                }
                break;
            case kMakerNote:
                if (dir.strict) makerNote = e;
                break;
            case kDngPrivateData:
                // Sony's: one offset of a directory of its own (a DNG's is a block of bytes,
                // covered above).
                if (dir.strict && IsPointerType(e.type) && e.count == 1) {
                    if (const auto sub = Value(e, 0, big)) {
                        found.push_back({*sub, 0, big, false, false});
                    }
                }
                break;
            case kSr2SubIfdOffset:
                sr2At = e;
                break;
            case kSr2SubIfdLength:
                sr2Length = e;
                break;
            default:
                if (dir.makerNote) {
                    // The sub-directories and previews of a maker note.
                    if (e.type == 13 || (e.tag == kNikonPreviewIfd && e.type == 4)) {
                        if (const auto sub = Value(e, 0, big)) {
                            found.push_back({dir.base + *sub, dir.base, big, false, true});
                        }
                    } else if (e.tag == kOlympusPreviewStart) {
                        previewAt = e;
                    } else if (e.tag == kOlympusPreviewLength) {
                        previewLength = e;
                    }
                }
                break;
        }
    }
    // One budget of pieces for all directories, so that many directories cannot make the walk
    // long. Strips whose byte counts are missing (some RW2 files) give no end of their own.
    const bool hasCounts = counts.count != 0;
    if ((hasCounts && offsets.count != counts.count) || offsets.count > kMaxPieces - pieces_) {
        return false;
    }
    pieces_ += offsets.count;
    for (uint64_t k = 0; hasCounts && k < offsets.count; ++k) {
        const auto at = Value(offsets, k, big), length = Value(counts, k, big);
        if (!at || !length || (*length != 0 && !Cover(dir.base + *at, *length, end))) return false;
        if (*length == 0 && dir.strict) unsized_ = true;
    }
    if (!hasCounts && offsets.count != 0 && dir.strict) unsized_ = true;
    if (rawData.count == 1 && counts.count == 1) {
        const auto at = Value(rawData, 0, big), length = Value(counts, 0, big);
        if (!at || !length || !Cover(*at, *length, end)) return false;
    }
    if (jpegAt && jpegLength && *jpegLength != 0 &&
        !Cover(dir.base + *jpegAt, *jpegLength, end)) {
        return false;
    }
    if (previewAt.count == 1 && previewLength.count == 1) {
        const auto at = Value(previewAt, 0, big), length = Value(previewLength, 0, big);
        if (at && length && *at != 0 && *length != 0 && !Cover(dir.base + *at, *length, end)) {
            return false;
        }
    }
    if (sr2At.count == 1 && sr2Length.count == 1) {
        const auto at = Value(sr2At, 0, big), length = Value(sr2Length, 0, big);
        if (!at || !length || !Cover(*at, *length, end)) return false;
    }
    const auto next = U(dir.at + 2 + 12 * *count, 4, big);
    if (!next) return false;
    // Only the main tree's directories say where the picture is.
    if (dir.strict && (offsets.count != 0 || jpegAt)) imageData_ = true;
    end_ = end;
    if (*next != 0) found.push_back({dir.base + *next, dir.base, big, dir.strict, dir.makerNote});
    pending.insert(pending.end(), found.begin(), found.end());
    if (makerNote) MakerNote(*makerNote, big);
    return true;
}

}  // namespace keltra
