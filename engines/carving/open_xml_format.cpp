// Office open-XML packages: a zip whose entries lie under "word", "xl" or "ppt". The entries
// are read from the disk in windows of four sectors from the header sector on.
#include <algorithm>
#include <array>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kLocalHeader = "PK\x03\x04"sv;
constexpr std::string_view kCentralHeader = "PK\x01\x02"sv;
constexpr std::string_view kEndOfCentralDirectory = "PK\x05\x06"sv;
constexpr uint32_t kWindowSectors = 4;
constexpr int kWindows = 5;
constexpr size_t kCarry = 4;  // bytes of the previous window put before the next

struct Folder {
    std::string_view name;
    FileTypeCode code;
};
constexpr std::array kFolders = {
    Folder{"word", kTypeWordOpenXml},
    Folder{"ppt", kTypePowerPointOpenXml},
    Folder{"xl", kTypeExcelOpenXml},
};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The code of the folder the entry name at `at` (of `length` bytes) lies under.
FileTypeCode ClassifyName(ByteView data, size_t at, size_t length) {
    if (at + length > data.size()) return kTypeNone;  // runs past the window
    for (const Folder& f : kFolders) {
        if (length < f.name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < f.name.size() && same; ++i) {
            same = Lower(static_cast<char>(Byte(data, at + i))) == f.name[i];
        }
        if (same) return f.code;
    }
    return kTypeNone;
}

std::vector<size_t> Positions(ByteView data, std::string_view signature, size_t limit) {
    std::vector<size_t> out;
    for (auto p = FindBytes(data, signature); p && *p < limit;
         p = FindBytes(data, signature, *p + 1)) {
        out.push_back(*p);
    }
    return out;
}

FileTypeCode ClassifyWindow(ByteView data) {
    const size_t limit = FindBytes(data, kEndOfCentralDirectory).value_or(data.size());
    const std::vector<size_t> local = Positions(data, kLocalHeader, limit);
    const std::vector<size_t> central = Positions(data, kCentralHeader, limit);
    for (size_t i = 0; i < std::max(local.size(), central.size()); ++i) {
        if (i < local.size() && local[i] + 30 <= data.size()) {
            const FileTypeCode c = ClassifyName(data, local[i] + 30, Le16(data, local[i] + 26));
            if (c != kTypeNone) return c;
        }
        if (i < central.size() && central[i] + 46 <= data.size()) {
            const FileTypeCode c = ClassifyName(data, central[i] + 46, Le16(data, central[i] + 28));
            if (c != kTypeNone) return c;
        }
    }
    return kTypeNone;
}

}  // namespace

FileTypeCode RecogniseOpenXml(CarveSession& session, ByteView b) {
    if (b.size() < 31 || !At(b, 0, kLocalHeader)) return kTypeNone;
    const auto ss = static_cast<int>(session.sectorSize);
    if (session.source == nullptr || !IsCarvableSectorSize(ss)) return kTypeNone;
    const size_t windowBytes = size_t{kWindowSectors} * session.sectorSize;
    std::vector<std::byte> buffer(kCarry + windowBytes);
    const auto sectors = std::span(buffer).subspan(kCarry);
    for (int w = 0; w < kWindows; ++w) {
        uint32_t read = 0;
        const uint64_t lba = session.currentSector + uint64_t{kWindowSectors} * w;
        if (ReadSectors(*session.source, kWindowSectors, sectors, lba, ss, read) != kOk) break;
        const ByteView data = w == 0 ? ByteView(sectors) : ByteView(buffer);
        const FileTypeCode code = ClassifyWindow(data);
        if (code != kTypeNone) return code;
        std::copy(buffer.end() - kCarry, buffer.end(), buffer.begin());
    }
    return kTypeNone;
}

}  // namespace keltra
