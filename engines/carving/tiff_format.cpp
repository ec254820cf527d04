// TIFF, either byte order, and the camera RAW files built on it. The file ends after the last
// byte its directories point at: the directories themselves, their out-of-line values, the
// strips or tiles, JPEG streams, and the directories they lead to (Exif, GPS, sub-images, a
// maker note's own directories and previews, Sony's private directory). A RAW file is named by
// the mark in its header (Canon CR2, Olympus ORF, Panasonic RW2), by the DNG version tag, or by
// the camera's maker once its directories show sensor data.
#include <algorithm>
#include <optional>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/camera_raw_names.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"
#include "engines/carving/tiff_directory_walk.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kTiffRuleLimit = 128 * kMiB;
constexpr uint64_t kRawLimit = 2 * kGiB;

uint64_t TiffRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kTiffRuleLimit, kTypeNone, nullptr);
}

// The header's own mark: where the first directory is and what the file is called before its
// directories are read.
struct TiffHeader {
    bool bigEndian = false;
    FileTypeCode mark = kTypeNone;
};

std::optional<TiffHeader> ReadTiffHeader(ByteView b) {
    if (b.size() < 16) return std::nullopt;
    const uint32_t le = Le32(b, 4);
    if (At(b, 0, "II*\x00"sv)) {
        // Canon: "CR" and major version 2 after the header, then the raw directory's offset.
        if (At(b, 8, "CR\x02"sv)) return TiffHeader{false, kTypeCr2};
        return TiffHeader{false, kTypeTiff};
    }
    if (At(b, 0, "MM\x00*"sv)) return TiffHeader{true, kTypeTiff};
    // Olympus: the magic number 0x4F52 ("RO") or 0x5352 ("RS") in place of 42.
    if ((At(b, 0, "IIRO"sv) || At(b, 0, "IIRS"sv)) && le >= 8) return TiffHeader{false, kTypeOrf};
    if (At(b, 0, "MMOR"sv) && Be32(b, 4) >= 8) return TiffHeader{true, kTypeOrf};
    // Panasonic: magic 0x55, the first directory right after the 24-byte header.
    if (At(b, 0, "IIU\x00"sv) && le == 0x18) return TiffHeader{false, kTypeRw2};
    return std::nullopt;
}

}  // namespace

FileTypeCode RecogniseTiff(CarveSession&, ByteView b) {
    const auto header = ReadTiffHeader(b);
    return header ? header->mark : kTypeNone;
}

uint64_t FindTiffEnd(CarveSession& session, ByteView header) {
    const auto head = ReadTiffHeader(header);
    if (!head) return TiffRule(session, header);
    CarvedFileBytes file(session, kRawLimit);
    TiffDirectoryWalk walk(file, head->bigEndian);
    const StructureEnd found = walk.Run();
    const StructureEnd end = ConfirmedByStopScan(session, found, walk.PieceStarts());
    // What the directories read before any break showed names the file, whole or cut.
    NameCarvedFile(session, CameraRawType(head->mark, walk.Marks()));
    return EndOrRule(session, end, TiffRule, header);
}

}  // namespace keltra
