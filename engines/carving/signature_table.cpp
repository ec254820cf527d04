#include "engines/carving/signature_table.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr Anchor At0(std::string_view bytes) {
    return Anchor{0, bytes};
}
constexpr Anchor kFtyp{4, "f"sv};
constexpr Anchor kFtypOrWide{4, "fw"sv};  // a classic QuickTime movie begins with "wide"

constexpr SignatureRow Row(std::string_view ext, FileTypeCode code, Recogniser r, EndFinder e,
                           Anchor anchor, Anchor other = {}, bool readsDisk = false,
                           bool readsSession = false) {
    return SignatureRow{ext, code, r, e, anchor, other, readsDisk, readsSession || readsDisk};
}

constexpr Anchor kMpegA = At0("\x00"sv);
constexpr Anchor kAsfA = At0("\x30"sv);
constexpr Anchor kCompoundA = At0("\xD0"sv);
constexpr Anchor kZipA = At0("P"sv);
constexpr Anchor kTiffA = At0("MI"sv);
constexpr Anchor kDvA = At0("\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F"sv);

constexpr std::array kRows = {
    Row("mpeg", kTypeMpeg, RecogniseMpeg, FindMpegEnd, kMpegA),
    Row("mpg", kTypeMpeg, RecogniseMpeg, FindMpegEnd, kMpegA),
    Row("vob", kTypeMpeg, RecogniseMpeg, FindMpegEnd, kMpegA),
    Row("mp4", kTypeMp4, RecogniseMp4, FindMp4End, kFtyp),
    Row("rmvb", kTypeRealMedia, RecogniseRealMedia, FindRealMediaEnd, At0("."sv)),
    Row("rm", kTypeRealMedia, RecogniseRealMedia, FindRealMediaEnd, At0("."sv)),
    Row("wmv", kTypeAsf, RecogniseAsf, FindAsfEnd, kAsfA),
    Row("asf", kTypeAsf, RecogniseAsf, FindAsfEnd, kAsfA),
    Row("wma", kTypeAsf, RecogniseAsf, FindAsfEnd, kAsfA),
    Row("swf", kTypeFlash, RecogniseSwf, FindSwfEnd, At0("CF"sv)),
    Row("avi", kTypeAvi, RecogniseAvi, FindRiffEnd, At0("R"sv)),
    Row("flv", kTypeFlv, RecogniseFlv, FindFlvEnd, At0("F"sv)),
    Row("3gp", kType3gp, Recognise3gp, FindIsoMediaEnd, kFtyp),
    Row("mkv", kTypeMatroska, RecogniseMatroska, FindMatroskaEnd, At0("\x1A"sv)),
    Row("ts", kTypeTransportStream, RecogniseTransportStream, FindTransportStreamEnd, At0("\x47"sv),
        {}, true),
    Row("mts", kTypeM2ts, RecogniseM2ts, FindM2tsEnd, Anchor{10, "\xB0"sv}, {}, false, true),
    Row("mxf", kTypeMxf, RecogniseMxf, FindMxfEnd, At0("\x06"sv)),
    Row("mp3", kTypeMp3, RecogniseMp3, FindMp3End, At0("I"sv)),
    Row("mid", kTypeMidi, RecogniseMidi, FindMidiEnd, At0("M"sv)),
    Row("ape", kTypeMonkeysAudio, RecogniseApe, FindApeEnd, At0("M"sv)),
    Row("wav", kTypeWave, RecogniseWave, FindRiffEnd, At0("R"sv)),
    Row("mov", kTypeQuickTime, RecogniseQuickTime, FindIsoMediaEnd, At0("m"sv), kFtypOrWide),
    Row("mp2", kTypeMpegAudioLayer2, RecogniseMp2, FindMp2End, At0("\xFF"sv)),
    Row("mmf", kTypeMmf, RecogniseMmf, FindMmfEnd, At0("M"sv)),
    Row("fla", kTypeFla, RecogniseFla, FindFlaEnd, kCompoundA),
    Row("gif", kTypeGif, RecogniseGif, FindGifEnd, At0("G"sv)),
    Row("bmp", kTypeBmp, RecogniseBmp, FindBmpEnd, At0("B"sv)),
    Row("dib", kTypeBmp, RecogniseBmp, FindBmpEnd, At0("B"sv)),
    Row("jpg", kTypeJpeg, RecogniseJpeg, FindJpegEnd, At0("\xFF"sv)),
    Row("jpeg", kTypeJpeg, RecogniseJpeg, FindJpegEnd, At0("\xFF"sv)),
    Row("jpe", kTypeJpeg, RecogniseJpeg, FindJpegEnd, At0("\xFF"sv)),
    Row("jfif", kTypeJpeg, RecogniseJpeg, FindJpegEnd, At0("\xFF"sv)),
    Row("png", kTypePng, RecognisePng, FindPngEnd, At0("\x89"sv)),
    Row("psd", kTypePhotoshop, RecognisePsd, FindPsdEnd, At0("8"sv)),
    Row("tif", kTypeTiff, RecogniseTiff, FindTiffEnd, At0("MI"sv)),
    Row("tiff", kTypeTiff, RecogniseTiff, FindTiffEnd, At0("MI"sv)),
    Row("ico", kTypeIcon, RecogniseIcon, FindIconEnd, At0("\x00"sv)),

    Row("doc", kTypeWord, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("dot", kTypeWord, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("wps", kTypeWord, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("wpt", kTypeWord, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("xls", kTypeExcel, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("xlt", kTypeExcel, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("xla", kTypeExcel, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("et", kTypeExcel, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("ett", kTypeExcel, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("ppt", kTypePowerPoint, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("pot", kTypePowerPoint, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("pps", kTypePowerPoint, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("dps", kTypePowerPoint, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("dpt", kTypePowerPoint, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("ole", kTypeCompoundOther, RecogniseCompoundFile, nullptr, kCompoundA, {}, true),
    Row("docx", kTypeWordOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("docm", kTypeWordOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("dotm", kTypeWordOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("dotx", kTypeWordOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xlsx", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xlsb", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xlsm", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xlsx", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xlam", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xltx", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("xltm", kTypeExcelOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("pptx", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("pptm", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("potx", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("potm", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("ppsx", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("ppsm", kTypePowerPointOpenXml, RecogniseOpenXml, FindZipEnd, kZipA, {}, true),
    Row("mso07", kTypeOfficePackage, RecogniseOpenXml, nullptr, kZipA, {}, true),
    Row("pdf", kTypePdf, RecognisePdf, FindPdfEnd, At0("%"sv)),
    Row("gz", kTypeGzip, RecogniseGzip, FindGzipEnd, At0("\x1F"sv)),
    Row("gzip", kTypeGzip, RecogniseGzip, FindGzipEnd, At0("\x1F"sv)),
    Row("7z", kType7z, Recognise7z, Find7zEnd, At0("7"sv)),
    Row("zip", kTypeZip, RecogniseZip, FindZipEnd, kZipA),
    Row("rar", kTypeRar, RecogniseRar, nullptr, At0("R"sv)),
    Row("cab", kTypeCabinet, RecogniseCabinet, nullptr, At0("M"sv)),
    Row("exe", kTypeExe, RecognisePortableExecutable, nullptr, At0("M"sv)),
    Row("dll", kTypeDll, RecognisePortableExecutable, nullptr, At0("M"sv)),
    Row("sys", kTypeSys, RecognisePortableExecutable, nullptr, At0("M"sv)),
    Row("gho", kTypeGhost, RecogniseGhost, nullptr, At0("\xFE"sv)),
    Row("db", kTypeSqlite, RecogniseSqlite, nullptr, At0("S"sv)),
    Row("dbx", kTypeDbx, RecogniseDbx, nullptr, At0("\xCF"sv)),
    Row("pst", kTypePst, RecognisePst, nullptr, At0("!"sv)),
    Row("ttf", kTypeTrueType, RecogniseTrueType, nullptr, At0("\x00"sv)),

    // Formats of today's phones, cameras and the web.
    Row("heic", kTypeHeic, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("heif", kTypeHeif, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("avif", kTypeAvif, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("cr3", kTypeCr3, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("m4a", kTypeM4a, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("m4v", kTypeM4v, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("3g2", kType3g2, RecogniseIsoBrand, FindIsoBrandEnd, kFtyp),
    Row("cr2", kTypeCr2, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("nef", kTypeNef, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("nrw", kTypeNrw, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("arw", kTypeArw, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("sr2", kTypeSr2, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("srf", kTypeSrf, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("orf", kTypeOrf, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("rw2", kTypeRw2, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("rwl", kTypeRwl, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("dng", kTypeDng, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("pef", kTypePef, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("srw", kTypeSrw, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("3fr", kType3fr, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("erf", kTypeErf, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("kdc", kTypeKdc, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("dcr", kTypeDcr, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("iiq", kTypeIiq, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("mos", kTypeMos, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("mef", kTypeMef, RecogniseTiff, FindTiffEnd, kTiffA),
    Row("raf", kTypeRaf, RecogniseRaf, FindRafEnd, At0("F"sv)),
    Row("x3f", kTypeX3f, RecogniseX3f, FindX3fEnd, At0("F"sv)),
    Row("mrw", kTypeMrw, RecogniseMrw, FindMrwEnd, At0("\x00"sv)),
    Row("crw", kTypeCrw, RecogniseCrw, FindCrwEnd, At0("I"sv)),
    Row("webp", kTypeWebp, RecogniseWebp, FindWebpEnd, At0("R"sv)),
    Row("jxl", kTypeJpegXl, RecogniseJpegXl, FindJpegXlEnd, At0("\x00\xFF"sv)),
    Row("jp2", kTypeJp2, RecogniseJpeg2000, FindJpeg2000End, At0("\x00\xFF"sv)),
    Row("j2c", kTypeJ2c, RecogniseJpeg2000, FindJpeg2000End, At0("\x00\xFF"sv)),
    Row("ppm", kTypePpm, RecogniseNetpbm, FindNetpbmEnd, At0("P"sv)),
    Row("pgm", kTypePgm, RecogniseNetpbm, FindNetpbmEnd, At0("P"sv)),
    Row("pbm", kTypePbm, RecogniseNetpbm, FindNetpbmEnd, At0("P"sv)),
    Row("ogg", kTypeOgg, RecogniseOgg, FindOggEnd, At0("O"sv)),
    Row("opus", kTypeOpus, RecogniseOgg, FindOggEnd, At0("O"sv)),
    Row("oga", kTypeOga, RecogniseOgg, FindOggEnd, At0("O"sv)),
    Row("ogv", kTypeOgv, RecogniseOgg, FindOggEnd, At0("O"sv)),
    Row("flac", kTypeFlac, RecogniseFlac, FindFlacEnd, At0("f"sv)),
    Row("aiff", kTypeAiff, RecogniseAiff, FindAiffEnd, At0("F"sv)),
    Row("aifc", kTypeAifc, RecogniseAiff, FindAiffEnd, At0("F"sv)),
    Row("xcf", kTypeXcf, RecogniseXcf, FindXcfEnd, At0("g"sv)),
    Row("dv", kTypeDv, RecogniseDv, FindDvEnd, kDvA),

    SignatureRow{"", kTypeNone, nullptr, nullptr, {}, {}, false, false},
};
static_assert(kRows.size() == 86 + 46, "85 rows, the 46 of newer formats, the terminating row");

// Dispatch on the sector's first byte: for each value, the recognisers (each once, at its first
// row) that can answer for a sector starting with it. Recognisers anchored elsewhere are kept
// in every list with the byte they need. A sector that nothing can claim costs a table look-up
// and a few byte comparisons.
// The byte values of an anchor, one bit each: tested without a search through the anchor.
struct ByteSet {
    std::array<uint64_t, 4> bits{};
    void Add(uint8_t value) { bits[value >> 6] |= uint64_t{1} << (value & 63); }
    bool Holds(uint8_t value) const { return ((bits[value >> 6] >> (value & 63)) & 1) != 0; }
};

struct DispatchEntry {
    Recogniser recognise;
    const SignatureRow* row;
    bool conditional;  // only when byte `offset` is one of `bytes`
    uint8_t offset;
    ByteSet bytes;
};
using DispatchList = std::vector<DispatchEntry>;

// The anchors of a carve list's conditional entries at one offset, their bytes joined.
struct AnchorTest {
    uint8_t offset;
    ByteSet bytes;
};

struct Dispatch {
    std::array<uint16_t, 256> carveList{};  // table order
    // For a first byte: whether some entry of its carve list applies whatever the rest, and
    // else the anchors one of which must hold for any entry to apply.
    std::array<bool, 256> carveListAlwaysApplies{};
    std::array<std::vector<AnchorTest>, 256> carveListAnchors;
    std::array<uint16_t, 256> stopList{};   // pure recognisers before those that read the disk
    std::vector<DispatchList> lists;
};

bool Holds(std::string_view bytes, uint8_t value) {
    return bytes.find(static_cast<char>(value)) != std::string_view::npos;
}

uint16_t Intern(std::vector<DispatchList>& lists, const DispatchList& list) {
    for (size_t i = 0; i < lists.size(); ++i) {
        const DispatchList& l = lists[i];
        if (l.size() == list.size() &&
            std::equal(l.begin(), l.end(), list.begin(), [](const auto& a, const auto& b) {
                return a.recognise == b.recognise && a.conditional == b.conditional;
            })) {
            return static_cast<uint16_t>(i);
        }
    }
    lists.push_back(list);
    return static_cast<uint16_t>(lists.size() - 1);
}

Dispatch BuildDispatch() {
    Dispatch d;
    for (int v = 0; v < 256; ++v) {
        const auto value = static_cast<uint8_t>(v);
        DispatchList list;
        for (const SignatureRow& row : kRows) {
            if (row.recognise == nullptr) continue;
            const bool seen = std::any_of(list.begin(), list.end(), [&](const DispatchEntry& e) {
                return e.recognise == row.recognise;
            });
            if (seen) continue;
            DispatchEntry entry{row.recognise, &row, false, 0, ByteSet{}};
            const Anchor* other = nullptr;
            bool direct = row.anchor.bytes.empty();
            for (const Anchor* a : {&row.anchor, &row.otherAnchor}) {
                if (a->bytes.empty()) continue;
                if (a->offset == 0) {
                    direct = direct || Holds(a->bytes, value);
                } else {
                    other = a;
                }
            }
            if (!direct) {
                if (other == nullptr) continue;
                entry.conditional = true;
                entry.offset = other->offset;
                for (const char c : other->bytes) entry.bytes.Add(static_cast<uint8_t>(c));
            }
            list.push_back(entry);
        }
        d.carveList[value] = Intern(d.lists, list);
        for (const DispatchEntry& e : list) {
            if (!e.conditional) {
                d.carveListAlwaysApplies[value] = true;
                continue;
            }
            auto& anchors = d.carveListAnchors[value];
            auto at = std::find_if(anchors.begin(), anchors.end(),
                                   [&](const AnchorTest& a) { return a.offset == e.offset; });
            if (at == anchors.end()) at = anchors.insert(anchors.end(), {e.offset, ByteSet{}});
            for (size_t w = 0; w < at->bytes.bits.size(); ++w) at->bytes.bits[w] |= e.bytes.bits[w];
        }
        std::stable_partition(list.begin(), list.end(),
                              [](const DispatchEntry& e) { return !e.row->readsDisk; });
        d.stopList[value] = Intern(d.lists, list);
    }
    return d;
}

const Dispatch& TheDispatch() {
    static const Dispatch dispatch = BuildDispatch();
    return dispatch;
}

inline bool EntryApplies(const DispatchEntry& e, std::span<const std::byte> bytes) {
    return !e.conditional ||
           (e.offset < bytes.size() && e.bytes.Holds(std::to_integer<uint8_t>(bytes[e.offset])));
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::span<const SignatureRow> FileSignatureTable() {
    return kRows;
}

Recognition RecogniseSector(CarveSession& session, std::span<const std::byte> bytes) {
    if (bytes.empty()) return {};
    const Dispatch& d = TheDispatch();
    for (const DispatchEntry& e : d.lists[d.carveList[std::to_integer<uint8_t>(bytes[0])]]) {
        if (!EntryApplies(e, bytes)) continue;
        const FileTypeCode code = e.recognise(session, bytes);
        if (code != kTypeNone) return {e.row, code};
    }
    return {};
}

void MarkAnchoredSectors(std::span<const std::byte> sectors, size_t sectorSize,
                         std::span<uint8_t> marks, uint8_t bit) {
    if (sectorSize == 0) return;
    const Dispatch& d = TheDispatch();
    const size_t count = std::min(sectors.size() / sectorSize, marks.size());
    for (size_t i = 0; i < count; ++i) {
        const auto sector = sectors.subspan(i * sectorSize, sectorSize);
        const auto first = std::to_integer<uint8_t>(sector[0]);
        const auto& anchors = d.carveListAnchors[first];
        if (d.carveListAlwaysApplies[first] ||
            std::any_of(anchors.begin(), anchors.end(), [&](const AnchorTest& a) {
                return a.offset < sector.size() &&
                       a.bytes.Holds(std::to_integer<uint8_t>(sector[a.offset]));
            })) {
            marks[i] |= bit;
        }
    }
}

bool SomeRecogniserMayAnswer(CarveSession& scratch, std::span<const std::byte> bytes) {
    if (bytes.empty()) return false;
    const Dispatch& d = TheDispatch();
    for (const DispatchEntry& e : d.lists[d.carveList[std::to_integer<uint8_t>(bytes[0])]]) {
        if (!EntryApplies(e, bytes)) continue;
        if (e.row->readsSession) return true;
        if (e.recognise(scratch, bytes) != kTypeNone) return true;
    }
    return false;
}

bool AnyRecogniserAnswers(CarveSession& session, std::span<const std::byte> bytes,
                          FileTypeCode ignored) {
    if (bytes.empty()) return false;
    const Dispatch& d = TheDispatch();
    for (const DispatchEntry& e : d.lists[d.stopList[std::to_integer<uint8_t>(bytes[0])]]) {
        if (!EntryApplies(e, bytes)) continue;
        const FileTypeCode code = e.recognise(session, bytes);
        if (code != kTypeNone && code != ignored) return true;
    }
    return false;
}

bool ZeroSectorMayStartFile(size_t sectorBytes) {
    if (sectorBytes == 0) return false;
    const std::vector<std::byte> zeros(sectorBytes);
    CarveSession scratch;
    const Dispatch& d = TheDispatch();
    for (const DispatchEntry& e : d.lists[d.carveList[0]]) {
        if (!EntryApplies(e, zeros)) continue;
        if (e.row->readsSession) return true;
        if (e.recognise(scratch, zeros) != kTypeNone) return true;
    }
    return false;
}

ContainerFamily FamilyOf(FileTypeCode code) {
    switch (code) {
        case kTypeTiff:
        case kTypeCr2:
        case kTypeNef:
        case kTypeNrw:
        case kTypeArw:
        case kTypeSr2:
        case kTypeSrf:
        case kTypeOrf:
        case kTypeRw2:
        case kTypeRwl:
        case kTypeDng:
        case kTypePef:
        case kTypeSrw:
        case kType3fr:
        case kTypeErf:
        case kTypeKdc:
        case kTypeDcr:
        case kTypeIiq:
        case kTypeMos:
        case kTypeMef:
            return ContainerFamily::kTiff;
        case kTypeMp4:
        case kType3gp:
        case kTypeQuickTime:
        case kTypeHeic:
        case kTypeHeif:
        case kTypeAvif:
        case kTypeCr3:
        case kTypeM4a:
        case kTypeM4v:
        case kType3g2:
            return ContainerFamily::kIsoMedia;
        case kTypeOgg:
        case kTypeOpus:
        case kTypeOga:
        case kTypeOgv:
            return ContainerFamily::kOgg;
        case kTypeAiff:
        case kTypeAifc:
            return ContainerFamily::kAiff;
        default:
            return ContainerFamily::kNoFamily;
    }
}

const SignatureRow* FirstRowWithCode(FileTypeCode code) {
    for (const SignatureRow& row : kRows) {
        if (row.recognise != nullptr && row.code == code) return &row;
    }
    return nullptr;
}

const SignatureRow* FirstRowWithExtension(std::string_view extension) {
    for (const SignatureRow& row : kRows) {
        if (row.recognise == nullptr || row.extension.size() != extension.size()) continue;
        if (std::equal(row.extension.begin(), row.extension.end(), extension.begin(),
                       [](char a, char b) { return a == Lower(b); })) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace keltra
