// Byte counts for people: "512 B", "1.5 KiB", "100.0 MiB", "20.0 GiB".
#pragma once

#include <cstdint>
#include <string>

namespace keltra::cli {

std::string ByteCountText(uint64_t bytes);

}  // namespace keltra::cli
