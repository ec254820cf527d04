// Standard MIDI files: a header chunk, then one "MTrk" chunk per track. Walking the track
// chunks gives the exact end; it can only shorten the end found by the stop scan.
#include <algorithm>
#include <array>
#include <optional>

#include "engines/carving/byte_tests.h"
#include "engines/carving/end_search.h"
#include "engines/carving/format_modules.h"

namespace keltra {

namespace {

constexpr size_t kHeaderChunk = 14;

// Follows the chunk chain over contiguous pieces of the file, a tag split between pieces
// included.
class TrackWalk : public FooterTest {
  public:
    explicit TrackWalk(uint32_t tracks) : left_(tracks) {}

    void Feed(ByteView data, uint64_t offset) {
        const uint64_t end = offset + data.size();
        while (left_ > 0 && !failed_) {
            const uint64_t at = pos_ + have_;
            if (at < offset) {
                failed_ = true;  // a gap in what was fed: the walk cannot go on
                return;
            }
            if (at >= end) return;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(8 - have_, end - at));
            std::copy_n(data.begin() + static_cast<ptrdiff_t>(at - offset), take,
                        tag_.begin() + static_cast<ptrdiff_t>(have_));
            have_ += take;
            if (have_ < 8) return;
            if (!At(tag_, 0, "MTrk")) {
                failed_ = true;
                return;
            }
            pos_ += 8 + uint64_t{Be32(tag_, 4)};
            have_ = 0;
            --left_;
        }
    }

    std::optional<uint64_t> End() const {
        return left_ == 0 && !failed_ ? std::optional(pos_) : std::nullopt;
    }

    std::optional<uint64_t> OnChunk(const Chunk& c) override {
        Feed(c.read, c.offset);
        const auto end = End();
        if (end && *end <= c.offset + c.stopAt) return end;
        return std::nullopt;
    }
    void Finish(uint64_t& size) override {
        if (const auto end = End(); end && *end < size) size = *end;
    }

  private:
    uint32_t left_;
    uint64_t pos_ = kHeaderChunk;
    std::array<std::byte, 8> tag_{};
    size_t have_ = 0;
    bool failed_ = false;
};

}  // namespace

FileTypeCode RecogniseMidi(CarveSession&, ByteView b) {
    using namespace std::string_view_literals;
    if (b.size() >= 18 && At(b, 0, "MThd\x00\x00\x00\x06"sv) && At(b, 14, "MTrk")) {
        return kTypeMidi;
    }
    return kTypeNone;
}

uint64_t FindMidiEnd(CarveSession& session, ByteView header) {
    TrackWalk walk(header.size() >= 12 ? Be16(header, 10) : 0);
    walk.Feed(header, 0);
    if (const auto end = walk.End(); end && *end <= header.size()) return *end;
    return RunEndSearch(session, 8 * kMiB, kTypeNone, &walk);
}

}  // namespace keltra
