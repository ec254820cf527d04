// The picture a camera RAW file carries for showing: the largest whole baseline or progressive
// JPEG inside it (the lossless JPEG that holds some cameras' sensor data is no picture to show).
#pragma once

#include <cstddef>
#include <span>

namespace keltra {

// The bytes of the largest such JPEG, from its start-of-image to its end-of-image marker;
// empty when the data holds none.
std::span<const std::byte> LargestEmbeddedJpeg(std::span<const std::byte> data);

}  // namespace keltra
