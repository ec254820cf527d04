#include "engines/carving/trailer_search.h"

#include <optional>

#include "engines/carving/end_search.h"

namespace keltra {

namespace {

class Trailer : public FooterTest {
  public:
    explicit Trailer(std::string_view trailer) : trailer_(trailer) {}
    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        const auto pos = FindAcceptedFooter(c.read.first(c.stopAt), trailer_, c.sectorSize);
        if (!pos) return std::nullopt;
        return c.offset + *pos + trailer_.size();
    }

  private:
    std::string_view trailer_;
};

}  // namespace

uint64_t FindTrailerEnd(CarveSession& session, std::span<const std::byte> header,
                        std::string_view trailer, uint64_t limit) {
    if (const auto pos = FindAcceptedFooter(header, trailer, session.sectorSize))
        return *pos + trailer.size();
    Trailer test(trailer);
    return RunEndSearch(session, limit, kTypeNone, &test);
}

}  // namespace keltra
