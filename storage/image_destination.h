// Whether an image file would be written onto the very sectors it copies.
#pragma once

#include <cstdint>
#include <string>

namespace keltra {

// True when the file system that would hold `imagePath` (the file, or its folder when the file
// does not exist yet) lives on disk N within the sectors [firstSector, firstSector + count), or
// on the whole of disk N.
bool ImageLandsOnSource(const std::string& imagePath, int diskNumber, uint64_t firstSector,
                        uint64_t sectorCount);

}  // namespace keltra
