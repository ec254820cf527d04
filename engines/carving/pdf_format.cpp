// PDF documents. A PDF closes with "%%EOF" (again after each incremental update); the file
// ends after the last one, with its line end, before the next header. Without one the file is
// cut: it runs to the next header and is damaged. A file whose last cross-reference pointer
// does not lead to its cross-reference section is damaged too.
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"
#include "engines/carving/file_bytes.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kPdfLimit = 1 * kGiB;
constexpr std::string_view kEof = "%%EOF"sv;

// The end after the last "%%EOF" in `data` (with its line end: CR, LF or CR LF).
std::optional<size_t> LastEof(std::span<const std::byte> data) {
    std::optional<size_t> last;
    for (auto pos = FindBytes(data, kEof); pos; pos = FindBytes(data, kEof, *pos + 1)) {
        size_t end = *pos + kEof.size();
        if (end < data.size() && data[end] == std::byte{'\r'}) ++end;
        if (end < data.size() && data[end] == std::byte{'\n'}) ++end;
        last = end;
    }
    return last;
}

class LastEofMarker : public FooterTest {
  public:
    LastEofMarker(CarveSession& session, std::optional<uint64_t> inHeader)
        : session_(session), candidate_(inHeader) {}
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (const auto end = LastEof(c.read.first(c.stopAt))) candidate_ = c.offset + *end;
        return std::nullopt;
    }
    void Finish(uint64_t& size) override {
        if (candidate_ && *candidate_ <= size) {
            size = *candidate_;
        } else {
            session_.damaged = true;
        }
    }

  private:
    CarveSession& session_;
    std::optional<uint64_t> candidate_;
};

// The "startxref" before the end gives where the last cross-reference section starts: a
// table ("xref") or a stream object ("12 0 obj"). Where it points elsewhere, a stretch of the
// file is missing or foreign (a file split on the disk that the search ran across).
bool CrossReferenceFound(CarveSession& session, uint64_t end) {
    constexpr uint64_t kTail = 64;
    CarvedFileBytes file(session, end);
    const uint64_t from = end > kTail ? end - kTail : 0;
    std::array<std::byte, kTail> tail{};
    const auto bytes = std::span(tail).first(static_cast<size_t>(end - from));
    if (!file.Read(from, bytes)) return false;
    const auto at = FindBytes(bytes, "startxref");
    if (!at) return false;
    uint64_t offset = 0;
    size_t i = *at + 9;
    while (i < bytes.size() && (bytes[i] == std::byte{'\r'} || bytes[i] == std::byte{'\n'} ||
                                bytes[i] == std::byte{' '})) {
        ++i;
    }
    const size_t digits = i;
    for (; i < bytes.size() && Byte(bytes, i) >= '0' && Byte(bytes, i) <= '9' && i < digits + 15;
         ++i) {
        offset = offset * 10 + (Byte(bytes, i) - '0');
    }
    if (i == digits || offset >= end) return false;
    const auto first = file.Be(offset, 1);
    return file.Holds(offset, "xref") || (first && *first >= '1' && *first <= '9');
}

}  // namespace

FileTypeCode RecognisePdf(CarveSession&, ByteView b) {
    return At(b, 0, "%PDF-") ? kTypePdf : kTypeNone;
}

uint64_t FindPdfEnd(CarveSession& session, ByteView header) {
    LastEofMarker test(session, LastEof(header));
    const uint64_t size = RunEndSearch(session, kPdfLimit, kTypeNone, &test);
    if (!session.damaged && session.lastCallbackResult == 0 &&
        !CrossReferenceFound(session, size)) {
        session.damaged = true;
    }
    return size;
}

}  // namespace keltra
