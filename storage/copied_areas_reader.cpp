#include "storage/copied_areas_reader.h"

#include <algorithm>

#include "storage/rescue_map_file.h"

namespace keltra {

CopiedAreasReader::CopiedAreasReader(FileHandle image, RescueMap map)
    : image_(std::move(image)), map_(std::move(map)) {}

std::optional<RescueMap> CopiedAreasReader::MapOfImage(const std::string& imagePath,
                                                       uint64_t imageBytes) {
    std::optional<RescueMap> map;
    std::string error;
    if (LoadRescueMap(RescueMapPath(imagePath), map, error) != kOk || !map ||
        map->Size() != imageBytes) {
        return std::nullopt;
    }
    return map;
}

Status CopiedAreasReader::ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) {
    done = 0;
    if (offset >= map_.Size() || buffer.empty()) return image_.ReadAt(offset, buffer, done);
    if (map_.StatusAt(offset) != AreaStatus::kFinished) return kErrIoDevice;
    const auto copied = map_.NextArea(offset, AreaStatus::kFinished);
    if (!copied || copied->pos != offset) return kErrIoDevice;
    const uint64_t allowed = std::min<uint64_t>(buffer.size(), copied->End() - offset);
    return image_.ReadAt(offset, buffer.first(static_cast<size_t>(allowed)), done);
}

}  // namespace keltra
