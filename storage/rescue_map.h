// What a rescue copy knows of each byte of its source, in the mapfile format of GNU ddrescue, so
// that ddrescue, ddrescuelog and ddrescueview read our maps and we read theirs:
//
//   # comment lines
//   0x00120000     ?               1        current position, current phase, current pass
//   0x00000000  0x00117000  +               one line per area: start, size, status
//   0x00117000  0x00000200  -
//
// Area statuses: '?' not tried, '*' failed in a big read and not trimmed yet, '/' trimmed but not
// scraped, '-' bad sector(s), '+' copied. Positions are bytes from the start of the copy.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keltra {

enum class AreaStatus : char {
    kNonTried = '?',
    kNonTrimmed = '*',
    kNonScraped = '/',
    kBad = '-',
    kFinished = '+',
};

// The phase a copy is in, as the map's current status: the four phases use their areas' status
// characters; 'F' and 'G' are ddrescue's own fill and generate modes, kept when read.
enum class RescuePhase : char {
    kCopying = '?',
    kTrimming = '*',
    kScraping = '/',
    kRetrying = '-',
    kFilling = 'F',
    kGenerating = 'G',
    kFinished = '+',
};

struct RescueArea {
    uint64_t pos = 0;
    uint64_t size = 0;
    AreaStatus status = AreaStatus::kNonTried;
    uint64_t End() const { return pos + size; }
    bool operator==(const RescueArea&) const = default;
};

class RescueMap {
  public:
    // A map of `size` bytes, all of them not tried.
    explicit RescueMap(uint64_t size = 0);

    // Reads a mapfile. Areas must be in order and must not overlap; a gap between two areas, or
    // before the first, is not tried. On failure `error` names the line.
    static std::optional<RescueMap> Parse(std::string_view text, std::string& error);
    // The mapfile text: `comments` (each line gets "# " before it), the current position, phase
    // and pass, then the areas, adjacent areas of one status joined.
    std::string Format(const std::vector<std::string>& comments) const;

    // Bytes covered: the end of the last area.
    uint64_t Size() const { return size_; }
    // Sets the status of [pos, pos + size), clipped to the map.
    void Mark(uint64_t pos, uint64_t size, AreaStatus status);
    AreaStatus StatusAt(uint64_t pos) const;

    // The first area of `status` that ends after `from`, cut to start no earlier than `from`.
    std::optional<RescueArea> NextArea(uint64_t from, AreaStatus status) const;
    // The last area of `status` that starts before `before`, cut to end no later than `before`.
    std::optional<RescueArea> PreviousArea(uint64_t before, AreaStatus status) const;

    uint64_t BytesWith(AreaStatus status) const;
    // How many separate areas have `status`.
    size_t AreasWith(AreaStatus status) const;
    std::vector<RescueArea> Areas() const;

    // The status of each of `cells` equal parts of the map, for a picture of it: of the statuses
    // a part holds, the one furthest from copied (bad before not tried before copied).
    std::vector<AreaStatus> Cells(size_t cells) const;

    uint64_t currentPos = 0;
    RescuePhase currentPhase = RescuePhase::kCopying;
    int currentPass = 1;

  private:
    struct Extent {
        uint64_t size;
        AreaStatus status;
    };
    void Add(AreaStatus status, int64_t bytes, int64_t areas);
    static size_t Index(AreaStatus status);

    uint64_t size_ = 0;
    std::map<uint64_t, Extent> areas_;  // by start; adjacent areas never share a status
    std::array<uint64_t, 5> bytes_{};
    std::array<size_t, 5> counts_{};
};

}  // namespace keltra
