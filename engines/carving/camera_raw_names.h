// Which camera RAW format a TIFF-based file is, from what its directories hold.
#pragma once

#include <string>

#include "engines/carving/file_type_code.h"

namespace keltra {

// What the directory walk of a TIFF file noted for naming it.
struct TiffMarks {
    std::string make;   // IFD0's Make, as written
    std::string model;  // IFD0's Model
    bool dngVersion = false;  // IFD0 holds DNGVersion
    // Some directory holds sensor data: a colour-filter-array or linear-raw picture, or data in
    // one of the makers' own raw compressions.
    bool sensorData = false;
};

// Photometric interpretations and compressions that only sensor data use.
bool IsSensorPhotometric(uint64_t photometric);
bool IsRawCompression(uint64_t compression);

// `mark`: what the header says (kTypeTiff, or the CR2, ORF, RW2 marks). A plain TIFF stays
// kTypeTiff unless it is a DNG or holds sensor data from a known maker's camera.
FileTypeCode CameraRawType(FileTypeCode mark, const TiffMarks& marks);

}  // namespace keltra
