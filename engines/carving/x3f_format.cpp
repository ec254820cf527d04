// Sigma X3F: a little-endian "FOVb" header, the sections (properties, preview and raw images,
// calibration), then the "SECd" directory of the sections, and the directory's offset in the
// file's last four bytes. Only the end says where the directory is, so it is sought: the first
// "SECd" whose entries lie before it and that is followed by its own offset.
#include <optional>
#include <vector>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr uint64_t kX3fLimit = 1 * kGiB;
constexpr uint64_t kMaxSections = 256;

uint64_t X3fRule(CarveSession& session, ByteView) {
    return RunEndSearch(session, kX3fLimit, kTypeNone, nullptr);
}

// The directory at `at`, if it is one: every section it lists lies before it and begins with
// its "SEC" mark; the offset after the entries points back at it.
std::optional<uint64_t> DirectoryEnd(CarvedFileBytes& file, uint64_t at,
                                     std::vector<uint64_t>& sections) {
    const auto count = file.Le(at + 8, 4);
    if (!count || *count == 0 || *count > kMaxSections) return std::nullopt;
    const uint64_t tail = at + 12 + 12 * *count;
    const auto back = file.Le(tail, 4);
    if (!back || *back != at) return std::nullopt;
    for (uint64_t i = 0; i < *count; ++i) {
        const auto offset = file.Le(at + 12 + 12 * i, 4), length = file.Le(at + 16 + 12 * i, 4);
        if (!offset || !length || *offset < 28 || *offset > at || *length > at - *offset ||
            !file.Holds(*offset, "SEC")) {
            return std::nullopt;
        }
        // An image section's picture (a JPEG preview) follows its 28-byte header.
        sections.push_back(*offset);
        sections.push_back(*offset + 28);
    }
    return tail + 4;
}

StructureEnd FindDirectory(CarveSession& session, std::vector<uint64_t>& sections) {
    CarvedFileBytes file(session, kX3fLimit);
    for (auto at = file.Find("SECd", 28, file.Available()); at;
         at = file.Find("SECd", *at + 4, file.Available())) {
        sections.clear();
        if (const auto end = DirectoryEnd(file, *at, sections)) return StructureEnd::Found(*end);
    }
    return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
}

}  // namespace

FileTypeCode RecogniseX3f(CarveSession&, ByteView b) {
    // "FOVb", a version 2.x to 4.x (minor in the low half), columns and rows.
    if (b.size() < 40 || !At(b, 0, "FOVb")) return kTypeNone;
    const uint32_t major = Le32(b, 4) >> 16;
    if (major < 2 || major > 4) return kTypeNone;
    return kTypeX3f;
}

uint64_t FindX3fEnd(CarveSession& session, ByteView header) {
    std::vector<uint64_t> sections;
    const StructureEnd end = FindDirectory(session, sections);
    return EndOrRule(session, ConfirmedByStopScan(session, end, std::move(sections)), X3fRule,
                     header);
}

}  // namespace keltra
