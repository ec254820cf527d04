// ISO base media files, told apart by the brands of their "ftyp" box: MP4, 3GP, QuickTime, and
// what phones and cameras write in the same boxes (HEIF and HEIC pictures, AVIF, Canon's CR3,
// M4A sound, M4V video, 3GPP2). The file is its chain of top-level boxes, each with its size; the
// chain ends where the next box is of no top-level type (or a new file's "ftyp").
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

// Some muxers close the file with a "free" box carrying their name; the file ends at the
// first zero byte after the text.
class Mp4Signature : public FooterTest {
  public:
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        constexpr std::string_view kText = "freeIsoMedia File Produced";
        const auto pos = FindBytes(c.read.first(c.stopAt), kText);
        if (!pos) return std::nullopt;
        size_t end = *pos + kText.size();
        while (end < c.read.size() && c.read[end] != std::byte{0}) ++end;
        return c.offset + end;
    }
};

constexpr uint64_t kIsoMediaLimit = 6 * kGiB;
constexpr int kMaxBoxes = 1 << 20;

constexpr std::array<std::string_view, 20> kTopLevelBoxes = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "moof", "mfra",
    "pdin", "styp", "sidx", "ssix", "prft", "emsg", "pnot", "PICT", "junk", "udta",
};

bool IsTopLevelBox(std::string_view type) {
    return std::find(kTopLevelBoxes.begin(), kTopLevelBoxes.end(), type) != kTopLevelBoxes.end();
}

// The boxes inside [begin, end) fill it exactly, each with a printable type: a movie box whose
// end was overwritten does not.
bool ChildrenFill(CarvedFileBytes& file, uint64_t begin, uint64_t end) {
    uint64_t pos = begin;
    for (int i = 0; i < kMaxBoxes && pos + 8 <= end; ++i) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return false;
        for (size_t k = 4; k < 8; ++k) {
            const uint8_t c = Byte(head, k);
            if (c < 0x20 || (c > 0x7E && c != 0xA9)) return false;  // 0xA9: the (c) of iTunes tags
        }
        const uint64_t size = Be32(head, 0);
        if (size < 8 || size > end - pos) return false;
        pos += size;
    }
    return pos == end;
}

constexpr uint64_t kMaxSamples = uint64_t{1} << 22;

bool IsContainerBox(std::string_view type) {
    for (std::string_view t : {"moov", "trak", "mdia", "minf", "stbl", "edts", "moof", "traf"}) {
        if (type == t) return true;
    }
    return false;
}

// Where the samples of one track begin, from its sample table: the chunk offsets ("stco" or
// "co64"), the samples each chunk holds ("stsc") and their sizes ("stsz").
void TrackSampleStarts(CarvedFileBytes& file, uint64_t stco, bool wide, uint64_t stsc,
                       uint64_t stsz, std::vector<uint64_t>& out) {
    const auto chunks = file.Be(stco + 12, 4), runs = file.Be(stsc + 12, 4);
    const auto fixed = file.Be(stsz + 12, 4), samples = file.Be(stsz + 16, 4);
    if (!chunks || !runs || !fixed || !samples) return;
    uint64_t sample = 0;
    for (uint64_t run = 0; run < *runs && out.size() < kMaxSamples; ++run) {
        const auto first = file.Be(stsc + 16 + 12 * run, 4);
        const auto perChunk = file.Be(stsc + 20 + 12 * run, 4);
        const auto next = run + 1 < *runs ? file.Be(stsc + 16 + 12 * (run + 1), 4)
                                          : std::optional<uint64_t>(*chunks + 1);
        if (!first || !perChunk || !next || *first == 0) return;
        for (uint64_t chunk = *first; chunk < *next && chunk <= *chunks; ++chunk) {
            auto at = wide ? file.Be(stco + 16 + 8 * (chunk - 1), 8)
                           : file.Be(stco + 16 + 4 * (chunk - 1), 4);
            if (!at) return;
            for (uint64_t k = 0; k < *perChunk && sample < *samples; ++k, ++sample) {
                if (out.size() >= kMaxSamples) return;
                out.push_back(*at);
                const auto size = *fixed != 0 ? fixed : file.Be(stsz + 20 + 4 * sample, 4);
                if (!size) return;
                *at += *size;
            }
        }
    }
}

// The sample starts of every track in the boxes [begin, end).
void SampleStarts(CarvedFileBytes& file, uint64_t begin, uint64_t end, int depth,
                  std::vector<uint64_t>& out) {
    uint64_t stco = 0, stsc = 0, stsz = 0;
    bool wide = false;
    for (uint64_t pos = begin; pos + 8 <= end && depth < 8;) {
        std::array<std::byte, 8> head{};
        if (!file.Read(pos, head)) return;
        const uint64_t size = Be32(head, 0);
        if (size < 8 || size > end - pos) return;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        if (IsContainerBox(type)) SampleStarts(file, pos + 8, pos + size, depth + 1, out);
        if (type == "stco" || type == "co64") {
            stco = pos;
            wide = type == "co64";
        }
        if (type == "stsc") stsc = pos;
        if (type == "stsz") stsz = pos;
        pos += size;
    }
    if (stco != 0 && stsc != 0 && stsz != 0) TrackSampleStarts(file, stco, wide, stsc, stsz, out);
}

// What a file must hold besides its media data: a movie (video, sound, CR3), or the item
// information of a still picture (HEIF, AVIF), which may also carry a movie (image sequences).
enum class Index { kMovie, kMovieOrItems };

// The end of the last top-level box. A chain without its index ("moov", or "moof" for a
// fragmented file; "meta" for a still picture) or with a box that runs past the source is
// broken; a last box "to the end of the file" (size 0) leaves the end unknown.
StructureEnd WalkBoxes(CarveSession& session, Index index, std::vector<uint64_t>& inner) {
    CarvedFileBytes file(session, kIsoMediaLimit);
    uint64_t pos = 0;
    bool movie = false;
    for (int i = 0; i < kMaxBoxes && pos < file.Available(); ++i) {
        std::array<std::byte, 16> head{};
        if (!file.Read(pos, std::span(head).first(8))) break;
        const std::string_view type(reinterpret_cast<const char*>(head.data() + 4), 4);
        if (!IsTopLevelBox(type) || (pos != 0 && type == "ftyp")) {
            if (pos == 0) return StructureEnd::Unknown();
            break;
        }
        uint64_t size = Be32(head, 0);
        if (size == 1) {
            const auto large = file.Be(pos + 8, 8);
            if (!large) return StructureEnd::Broken();
            size = *large;
        } else if (size == 0) {
            return StructureEnd::Unknown();
        }
        if (size < 8) {
            if (pos == 0) return StructureEnd::Broken();
            break;
        }
        if (size > file.Available() - pos) return StructureEnd::Broken();
        if (type == "moov" || type == "moof") {
            if (!ChildrenFill(file, pos + 8, pos + size)) return StructureEnd::Broken();
            SampleStarts(file, pos + 8, pos + size, 0, inner);
            movie = true;
        } else if (type == "meta" && index == Index::kMovieOrItems) {
            // A full box: version and flags before the children.
            if (size < 12 || !ChildrenFill(file, pos + 12, pos + size)) {
                return StructureEnd::Broken();
            }
            movie = true;
        }
        if (type == "uuid") {
            // A maker's box (a camera's preview picture): whatever it holds is its own.
            for (uint64_t at = (pos + 511) / 512 * 512; at < pos + size; at += 512) {
                inner.push_back(at);
            }
        }
        pos += size;
    }
    if (file.Stopped()) return StructureEnd::Unknown();
    return movie ? StructureEnd::Found(pos) : StructureEnd::Broken();
}

bool HasFtyp(ByteView b) {
    return b.size() >= 32 && At(b, 4, "ftyp");
}

// The file type a brand names, for the brands that name one.
FileTypeCode TypeOfBrand(ByteView b, size_t at) {
    for (std::string_view heic : {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs"}) {
        if (At(b, at, heic)) return kTypeHeic;
    }
    if (At(b, at, "avif") || At(b, at, "avis")) return kTypeAvif;
    if (At(b, at, "crx ")) return kTypeCr3;
    if (At(b, at, "M4A ") || At(b, at, "M4B ") || At(b, at, "M4P ")) return kTypeM4a;
    if (At(b, at, "M4V ") || At(b, at, "M4VH") || At(b, at, "M4VP")) return kTypeM4v;
    if (At(b, at, "3g2")) return kType3g2;
    return kTypeNone;
}

bool IsStillPicture(FileTypeCode code) {
    return code == kTypeHeic || code == kTypeHeif || code == kTypeAvif;
}

}  // namespace

FileTypeCode RecogniseIsoBrand(CarveSession&, ByteView b) {
    if (!HasFtyp(b)) return kTypeNone;
    // The box holds the major brand, the minor version and whole compatible brands.
    const uint32_t size = Be32(b, 0);
    if (size < 16 || size > 1024 || size % 4 != 0) return kTypeNone;
    if (const FileTypeCode major = TypeOfBrand(b, 8); major != kTypeNone) return major;
    const size_t end = std::min<size_t>(size, b.size());
    if (At(b, 8, "mif1") || At(b, 8, "msf1")) {
        for (size_t at = 16; at + 4 <= end; at += 4) {
            const FileTypeCode code = TypeOfBrand(b, at);
            if (code == kTypeHeic || code == kTypeAvif) return code;
        }
        return kTypeHeif;
    }
    // A writer's own major brand (a camera's "XAVC", say): the compatible brands tell.
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (At(b, at, "qt  ")) return kTypeQuickTime;
    }
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (At(b, at, "isom") || At(b, at, "iso2") || At(b, at, "mp41") || At(b, at, "mp42") ||
            At(b, at, "avc1")) {
            return kTypeMp4;
        }
    }
    return kTypeNone;
}

FileTypeCode RecogniseMp4(CarveSession&, ByteView b) {
    if (HasFtyp(b) && (At(b, 8, "iso") || At(b, 8, "mp42"))) return kTypeMp4;
    return kTypeNone;
}

FileTypeCode Recognise3gp(CarveSession&, ByteView b) {
    if (HasFtyp(b) && At(b, 8, "3gp")) return kType3gp;
    return kTypeNone;
}

FileTypeCode RecogniseQuickTime(CarveSession&, ByteView b) {
    if (b.size() < 16) return kTypeNone;
    if (At(b, 0, "moov") || (At(b, 4, "ftyp") && At(b, 8, "qt  "))) return kTypeQuickTime;
    // A classic movie without "ftyp": an 8-byte "wide" box before the media data.
    if (Be32(b, 0) == 8 && At(b, 4, "wide") && At(b, 12, "mdat") && Be32(b, 8) >= 8) {
        return kTypeQuickTime;
    }
    return kTypeNone;
}

namespace {

uint64_t Mp4Rule(CarveSession& session, ByteView) {
    Mp4Signature test;
    return RunEndSearch(session, kIsoMediaLimit, kTypeNone, &test);
}

uint64_t IsoMediaRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kIsoMediaLimit, kTypeNone, nullptr);
}

// The end the boxes give, where no sector but the movie's own samples starts another file.
StructureEnd ConfirmedBoxes(CarveSession& session, Index index) {
    std::vector<uint64_t> samples;
    const StructureEnd end = WalkBoxes(session, index, samples);
    return ConfirmedByStopScan(session, end, std::move(samples));
}

}  // namespace

uint64_t FindMp4End(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedBoxes(session, Index::kMovie), Mp4Rule, header);
}

uint64_t FindIsoMediaEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedBoxes(session, Index::kMovie), IsoMediaRule, header);
}

uint64_t FindIsoBrandEnd(CarveSession& session, ByteView header) {
    const Index index = IsStillPicture(RecogniseIsoBrand(session, header)) ? Index::kMovieOrItems
                                                                  : Index::kMovie;
    return EndOrRule(session, ConfirmedBoxes(session, index), IsoMediaRule, header);
}

}  // namespace keltra
