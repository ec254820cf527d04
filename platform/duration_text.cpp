#include "platform/duration_text.h"

#include <fmt/format.h>

namespace keltra {

std::string DurationText(uint64_t seconds) {
    if (seconds > 3599) return fmt::format("{} Hour {} Min", seconds / 3600, seconds % 3600 / 60);
    if (seconds > 59) return fmt::format("{} Min {} Sec", seconds / 60, seconds % 60);
    return fmt::format("{} Sec", seconds);
}

}  // namespace keltra
