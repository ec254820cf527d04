#include "engines/carving/camera_raw_names.h"

#include <string_view>

#include "platform/text.h"

namespace keltra {

namespace {

bool StartsWith(const std::string& text, std::string_view prefix) {
    return AsciiLower(text).rfind(AsciiLower(prefix), 0) == 0;
}

bool Contains(const std::string& text, std::string_view part) {
    return AsciiLower(text).find(AsciiLower(part)) != std::string::npos;
}

FileTypeCode TypeOfMaker(const TiffMarks& m) {
    if (StartsWith(m.make, "NIKON")) {
        return StartsWith(m.model, "COOLPIX") ? kTypeNrw : kTypeNef;
    }
    if (StartsWith(m.make, "SONY")) {
        if (m.model == "DSC-R1") return kTypeSr2;
        if (m.model == "DSC-F828" || m.model == "DSC-V3") return kTypeSrf;
        return kTypeArw;
    }
    if (StartsWith(m.make, "PENTAX") || StartsWith(m.make, "RICOH IMAGING") ||
        StartsWith(m.make, "ASAHI")) {
        return kTypePef;
    }
    if (StartsWith(m.make, "SAMSUNG")) return kTypeSrw;
    if (StartsWith(m.make, "Hasselblad")) return kType3fr;
    if (Contains(m.make, "EPSON")) return kTypeErf;
    if (Contains(m.make, "KODAK")) return Contains(m.model, "DCS") ? kTypeDcr : kTypeKdc;
    if (StartsWith(m.make, "Phase One")) return kTypeIiq;
    if (StartsWith(m.make, "Leaf")) return kTypeMos;
    if (StartsWith(m.make, "Mamiya")) return kTypeMef;
    return kTypeTiff;
}

}  // namespace

bool IsSensorPhotometric(uint64_t photometric) {
    return photometric == 32803 || photometric == 34892;  // CFA, linear raw
}

bool IsRawCompression(uint64_t compression) {
    switch (compression) {
        case 32767:  // Sony ARW
        case 32769:  // Epson, Samsung packed
        case 32770:  // Samsung
        case 32772:  // Samsung
        case 34713:  // Nikon NEF
        case 65000:  // Kodak DCR
        case 65535:  // Pentax PEF
            return true;
        default:
            return false;
    }
}

FileTypeCode CameraRawType(FileTypeCode mark, const TiffMarks& marks) {
    if (mark == kTypeRw2) return StartsWith(marks.make, "LEICA") ? kTypeRwl : kTypeRw2;
    if (mark != kTypeTiff) return mark;
    if (marks.dngVersion) return kTypeDng;
    if (!marks.sensorData) return kTypeTiff;
    return TypeOfMaker(marks);
}

}  // namespace keltra
