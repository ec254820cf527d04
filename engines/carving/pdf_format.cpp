// PDF documents. A PDF closes with "%%EOF" (again after each incremental update); the file
// ends after the last one, with its line end, before the next header. Without one the file is
// cut: it runs to the next header and is damaged.
#include "engines/carving/byte_tests.h"
#include "engines/carving/carve_context.h"
#include "engines/carving/end_search.h"
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
    explicit LastEofMarker(std::optional<uint64_t> inHeader) : candidate_(inHeader) {}
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        if (const auto end = LastEof(c.read.first(c.stopAt))) candidate_ = c.offset + *end;
        return std::nullopt;
    }
    void Finish(uint64_t& size) override {
        if (candidate_ && *candidate_ <= size) {
            size = *candidate_;
        } else {
            TheCarveContext().damaged = true;
        }
    }

  private:
    std::optional<uint64_t> candidate_;
};

}  // namespace

FileTypeCode RecognisePdf(ByteView b) {
    return At(b, 0, "%PDF-") ? kTypePdf : kTypeNone;
}

uint64_t FindPdfEnd(ByteView header) {
    LastEofMarker test(LastEof(header));
    return RunEndSearch(kPdfLimit, kTypeNone, &test);
}

}  // namespace keltra
