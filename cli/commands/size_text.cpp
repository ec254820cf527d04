#include "cli/commands/size_text.h"

#include <fmt/format.h>

#include <array>

namespace keltra::cli {

std::string ByteCountText(uint64_t bytes) {
    static constexpr std::array<const char*, 6> kUnits{"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return fmt::format("{} B", bytes);
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    return fmt::format("{:.1f} {}", value, kUnits[unit]);
}

}  // namespace keltra::cli
