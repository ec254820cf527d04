// Durations as the program words them in progress lines: "%d Hour %d Min", "%d Min %d Sec" or
// "%d Sec".
#pragma once

#include <cstdint>
#include <string>

namespace keltra {

// Above 3,599 seconds: hours and minutes; above 59: minutes and seconds; else seconds.
std::string DurationText(uint64_t seconds);

}  // namespace keltra
