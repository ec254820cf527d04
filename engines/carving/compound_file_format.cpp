// Compound files (OLE2). Any of them is carved as a Flash authoring file ("fla"), ending after
// the last sector its allocation table uses; the content check tells Word, Excel and
// PowerPoint documents apart by reading the file's first sector and its root directory from
// the disk.
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kCompoundMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv;
constexpr size_t kFirstDirectorySectorAt = 48;
constexpr size_t kRootClassIdAt = 80;
constexpr size_t kDirectoryEntry = 128;

struct ClassId {
    std::string_view bytes;  // as stored: the first three fields little-endian
    FileTypeCode code;
};
constexpr std::array kRootClasses = {
    // 00020906-0000-0000-C000-000000000046: Word document
    ClassId{"\x06\x09\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv, kTypeWord},
    // 00020820-...: Excel 97 workbook; 00020810-...: Excel 5 workbook
    ClassId{"\x20\x08\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv, kTypeExcel},
    ClassId{"\x10\x08\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"sv, kTypeExcel},
    // 64818D10-4F9B-11CF-86EA-00AA00B929E8: PowerPoint presentation
    ClassId{"\x10\x8D\x81\x64\x9B\x4F\xCF\x11\x86\xEA\x00\xAA\x00\xB9\x29\xE8"sv, kTypePowerPoint},
};

struct StreamName {
    std::string_view name;
    FileTypeCode code;
};
constexpr std::array kStreams = {
    StreamName{"WordDocument", kTypeWord},
    StreamName{"Workbook", kTypeExcel},
    StreamName{"PowerPoint Document", kTypePowerPoint},
};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The UTF-16 name at `at` begins with `name`, ignoring case.
bool NameStarts(ByteView entry, std::string_view name) {
    if (name.size() * 2 > entry.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (Byte(entry, 2 * i + 1) != 0 ||
            Lower(static_cast<char>(Byte(entry, 2 * i))) != Lower(name[i])) {
            return false;
        }
    }
    return true;
}

FileTypeCode ClassifyDirectory(ByteView directory) {
    for (const ClassId& c : kRootClasses) {
        if (At(directory, kRootClassIdAt, c.bytes)) return c.code;
    }
    for (size_t at = 0; at + kDirectoryEntry <= directory.size(); at += kDirectoryEntry) {
        const ByteView entry = directory.subspan(at, kDirectoryEntry);
        for (const StreamName& s : kStreams) {
            if (NameStarts(entry, s.name)) return s.code;
        }
    }
    return kTypeCompoundOther;
}

}  // namespace

FileTypeCode RecogniseFla(CarveSession&, ByteView b) {
    return b.size() >= 16 && At(b, 0, "\xD0\xCF\x11\xE0"sv) ? kTypeFla : kTypeNone;
}

namespace {

constexpr uint64_t kFlaLimit = 256 * kMiB;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint64_t kHeaderFatSectors = 109;

// The file is its header sector and every sector up to the last one the allocation table
// (FAT) does not mark free; the FAT's own sectors are listed in the header and, for a large
// file, in a chain of further list (DIFAT) sectors.
StructureEnd WalkAllocation(CarveSession& session, ByteView header) {
    if (header.size() < 512 || !At(header, 0, kCompoundMagic)) return StructureEnd::Broken();
    const uint16_t shift = Le16(header, 30);
    if (shift != 9 && shift != 12) return StructureEnd::Broken();
    const uint64_t sector = uint64_t{1} << shift;
    const uint64_t fatSectors = Le32(header, 44);
    // No more table than a file within the limit needs (each FAT sector maps sector / 4).
    const uint64_t maxFatSectors = kFlaLimit / sector / (sector / 4) + 1;
    if (fatSectors == 0 || fatSectors > maxFatSectors) return StructureEnd::Broken();
    CarvedFileBytes file(session, kFlaLimit);
    const auto at = [&](uint64_t n) { return (n + 1) * sector; };  // the header is sector -1
    std::vector<uint32_t> fat;
    for (uint64_t k = 0; k < std::min(fatSectors, kHeaderFatSectors); ++k) {
        fat.push_back(Le32(header, 76 + 4 * k));
    }
    uint64_t list = Le32(header, 68);
    const uint64_t perList = sector / 4 - 1;
    while (fat.size() < fatSectors && list != kEndOfChain && list != kFreeSector) {
        for (uint64_t k = 0; k < perList && fat.size() < fatSectors; ++k) {
            const auto entry = file.Le(at(list) + 4 * k, 4);
            if (!entry) return StructureEnd::Broken();
            fat.push_back(static_cast<uint32_t>(*entry));
        }
        const auto next = file.Le(at(list) + 4 * perList, 4);
        if (!next) return StructureEnd::Broken();
        list = *next;
    }
    if (fat.size() < fatSectors) return StructureEnd::Broken();
    std::optional<uint64_t> last;
    const uint64_t perFat = sector / 4;
    for (uint64_t k = 0; k < fat.size(); ++k) {
        for (uint64_t i = 0; i < perFat; ++i) {
            const auto entry = file.Le(at(fat[k]) + 4 * i, 4);
            if (!entry) return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
            if (*entry != kFreeSector) last = k * perFat + i;
        }
    }
    if (!last || at(*last + 1) > file.Available()) return StructureEnd::Broken();
    return StructureEnd::Found(at(*last + 1));
}

uint64_t FlaRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kFlaLimit, kTypeNone, nullptr);
}

}  // namespace

uint64_t FindFlaEnd(CarveSession& session, ByteView header) {
    return EndOrRule(session, ConfirmedByStopScan(session, WalkAllocation(session, header)),
                     FlaRule, header);
}

// The compound file's sector N is taken to be disk sector (current + 1 + N), which holds for
// 512-byte sectors on both sides.
FileTypeCode RecogniseCompoundFile(CarveSession& session, ByteView b) {
    if (!At(b, 0, kCompoundMagic)) return kTypeNone;
    const uint64_t current = session.currentSector;
    const ByteView first = session.ReadProbe(current + 1, 1);
    if (first.empty()) return kTypeCompoundOther;
    if (Le16(first, 0) == 0xA5EC) return kTypeWord;                     // Word's FIB
    if (At(first, 0, "\x09\x08\x10\x00\x00\x06"sv)) return kTypeExcel;  // BIFF8 workbook BOF
    if (b.size() < kFirstDirectorySectorAt + 4) return kTypeCompoundOther;
    const uint64_t directorySector = Le32(b, kFirstDirectorySectorAt);
    const ByteView directory = session.ReadProbe(current + 1 + directorySector, 1);
    if (directory.empty()) return kTypeCompoundOther;
    return ClassifyDirectory(directory);
}

}  // namespace keltra
