// End finding for formats that close with a fixed trailer (GIF, PNG): the trailer in the
// header sector, else the first one taken by footer acceptance in the sectors after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engines/carving/carve_session.h"

namespace keltra {

uint64_t FindTrailerEnd(CarveSession& session, std::span<const std::byte> header,
                        std::string_view trailer, uint64_t limit);

}  // namespace keltra
