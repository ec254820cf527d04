#include "storage/rescue_map.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace keltra {

namespace {

constexpr std::string_view kAreaStatuses = "?*/-+";
constexpr std::string_view kPhases = "?*/-FG+";

// How far a status is from copied, for the picture's cells.
int Severity(AreaStatus status) {
    switch (status) {
        case AreaStatus::kFinished:
            return 0;
        case AreaStatus::kNonTried:
            return 1;
        case AreaStatus::kNonTrimmed:
            return 2;
        case AreaStatus::kNonScraped:
            return 3;
        case AreaStatus::kBad:
            return 4;
    }
    return 0;
}

// A number as ddrescue writes and reads them: "0x" hexadecimal, "0" octal, else decimal.
bool ParseNumber(const std::string& token, uint64_t& value) {
    if (token.empty() || token[0] == '-' || token[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(token.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0';
}

std::vector<std::string> Tokens(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    return tokens;
}

}  // namespace

RescueMap::RescueMap(uint64_t size) : size_(size) {
    if (size != 0) {
        areas_.emplace(0, Extent{size, AreaStatus::kNonTried});
        Add(AreaStatus::kNonTried, static_cast<int64_t>(size), 1);
    }
}

size_t RescueMap::Index(AreaStatus status) {
    return kAreaStatuses.find(static_cast<char>(status));
}

void RescueMap::Add(AreaStatus status, int64_t bytes, int64_t areas) {
    const size_t i = Index(status);
    bytes_[i] = static_cast<uint64_t>(static_cast<int64_t>(bytes_[i]) + bytes);
    counts_[i] = static_cast<size_t>(static_cast<int64_t>(counts_[i]) + areas);
}

std::optional<RescueMap> RescueMap::Parse(std::string_view text, std::string& error) {
    RescueMap map;
    bool haveCurrent = false;
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNumber;
        if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        const auto tokens = Tokens(line);
        if (tokens.empty()) continue;
        const auto fail = [&](const std::string& why) {
            error = fmt::format("line {}: {}", lineNumber, why);
            return std::nullopt;
        };
        if (!haveCurrent) {
            uint64_t pos = 0;
            if (tokens.size() < 2 || tokens.size() > 3 || !ParseNumber(tokens[0], pos) ||
                tokens[1].size() != 1 || kPhases.find(tokens[1][0]) == std::string_view::npos) {
                return fail("expected the current position and status");
            }
            uint64_t pass = 1;
            if (tokens.size() == 3 && (!ParseNumber(tokens[2], pass) || pass == 0 || pass > 100)) {
                return fail("bad current pass");
            }
            map.currentPos = pos;
            map.currentPhase = static_cast<RescuePhase>(tokens[1][0]);
            map.currentPass = static_cast<int>(pass);
            haveCurrent = true;
            continue;
        }
        uint64_t pos = 0, size = 0;
        if (tokens.size() != 3 || !ParseNumber(tokens[0], pos) || !ParseNumber(tokens[1], size) ||
            tokens[2].size() != 1 || kAreaStatuses.find(tokens[2][0]) == std::string_view::npos) {
            return fail("expected an area: position, size and one of ?*/-+");
        }
        if (pos < map.size_) return fail("areas overlap or are out of order");
        if (size > UINT64_MAX - pos) return fail("area past the largest position");
        if (size == 0) continue;
        const uint64_t gapStart = map.size_;
        map.size_ = pos + size;
        if (gapStart < pos) map.Mark(gapStart, pos - gapStart, AreaStatus::kNonTried);
        map.Mark(pos, size, static_cast<AreaStatus>(tokens[2][0]));
    }
    if (!haveCurrent) {
        error = "no current position and status";
        return std::nullopt;
    }
    return map;
}

std::string RescueMap::Format(const std::vector<std::string>& comments) const {
    std::string text;
    for (const std::string& c : comments) text += "# " + c + "\n";
    text += "# current_pos  current_status  current_pass\n";
    text += fmt::format("0x{:08X}     {}               {}\n", currentPos,
                        static_cast<char>(currentPhase), currentPass);
    text += "#      pos        size  status\n";
    for (const auto& [pos, extent] : areas_) {
        text += fmt::format("0x{:08X}  0x{:08X}  {}\n", pos, extent.size,
                            static_cast<char>(extent.status));
    }
    return text;
}

void RescueMap::Mark(uint64_t pos, uint64_t size, AreaStatus status) {
    if (pos >= size_) return;
    const uint64_t end = pos + std::min(size, size_ - pos);
    if (end == pos) return;
    // Cuts the areas at `pos` and `end` so that whole areas lie between them.
    const auto split = [this](uint64_t at) {
        auto it = areas_.upper_bound(at);
        if (it == areas_.begin()) return;
        --it;
        const uint64_t start = it->first;
        Extent& e = it->second;
        if (start == at || start + e.size <= at) return;
        const Extent rest{start + e.size - at, e.status};
        e.size = at - start;
        areas_.emplace(at, rest);
        Add(rest.status, 0, 1);
    };
    split(pos);
    split(end);
    auto it = areas_.lower_bound(pos);
    while (it != areas_.end() && it->first < end) {
        Add(it->second.status, -static_cast<int64_t>(it->second.size), -1);
        it = areas_.erase(it);
    }
    auto placed = areas_.emplace(pos, Extent{end - pos, status}).first;
    Add(status, static_cast<int64_t>(end - pos), 1);
    // Joins neighbours of the same status.
    if (auto next = std::next(placed); next != areas_.end() && next->second.status == status) {
        placed->second.size += next->second.size;
        areas_.erase(next);
        Add(status, 0, -1);
    }
    if (placed != areas_.begin()) {
        auto prev = std::prev(placed);
        if (prev->second.status == status) {
            prev->second.size += placed->second.size;
            areas_.erase(placed);
            Add(status, 0, -1);
        }
    }
}

AreaStatus RescueMap::StatusAt(uint64_t pos) const {
    auto it = areas_.upper_bound(pos);
    if (it == areas_.begin() || pos >= size_) return AreaStatus::kNonTried;
    return std::prev(it)->second.status;
}

std::optional<RescueArea> RescueMap::NextArea(uint64_t from, AreaStatus status) const {
    auto it = areas_.upper_bound(from);
    if (it != areas_.begin()) --it;
    for (; it != areas_.end(); ++it) {
        const uint64_t end = it->first + it->second.size;
        if (it->second.status != status || end <= from) continue;
        const uint64_t start = std::max(it->first, from);
        return RescueArea{start, end - start, status};
    }
    return std::nullopt;
}

std::optional<RescueArea> RescueMap::PreviousArea(uint64_t before, AreaStatus status) const {
    auto it = areas_.lower_bound(before);
    while (it != areas_.begin()) {
        --it;
        if (it->second.status != status) continue;
        const uint64_t end = std::min(it->first + it->second.size, before);
        return RescueArea{it->first, end - it->first, status};
    }
    return std::nullopt;
}

uint64_t RescueMap::BytesWith(AreaStatus status) const {
    return bytes_[Index(status)];
}

size_t RescueMap::AreasWith(AreaStatus status) const {
    return counts_[Index(status)];
}

std::vector<RescueArea> RescueMap::Areas() const {
    std::vector<RescueArea> out;
    out.reserve(areas_.size());
    for (const auto& [pos, extent] : areas_) out.push_back({pos, extent.size, extent.status});
    return out;
}

std::vector<AreaStatus> RescueMap::Cells(size_t cells) const {
    std::vector<AreaStatus> out(cells, AreaStatus::kFinished);
    if (cells == 0 || size_ == 0) return out;
    const auto cellOf = [&](uint64_t pos) {
        return static_cast<size_t>(static_cast<unsigned __int128>(pos) * cells / size_);
    };
    std::vector<bool> touched(cells, false);
    for (const auto& [pos, extent] : areas_) {
        const size_t first = cellOf(pos);
        const size_t last = std::min(cells - 1, cellOf(pos + extent.size - 1));
        for (size_t c = first; c <= last; ++c) {
            if (!touched[c] || Severity(extent.status) > Severity(out[c])) out[c] = extent.status;
            touched[c] = true;
        }
    }
    return out;
}

}  // namespace keltra
