// The map file kept beside a rescue image ("OUT.img.map"): read when a copy continues, and
// replaced as a whole (a new file renamed over the old one) each time the copy saves its work,
// so that a kill or a crash leaves either the old map or the new one, never half of one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "storage/rescue_map.h"

namespace keltra {

// "NAME.img" → "NAME.img.map".
std::string RescueMapPath(const std::string& imagePath);

// Reads the map at `path`: kOk with `out` empty when there is none; 1392 with a line for the user
// in `error` when it cannot be read as a map.
Status LoadRescueMap(const std::string& path, std::optional<RescueMap>& out, std::string& error);

// Writes the map with its comment lines to `path`, by way of "PATH.new", synced before it is
// renamed into place.
Status SaveRescueMap(const std::string& path, const RescueMap& map,
                     const std::vector<std::string>& comments);

}  // namespace keltra
