// An image made by a rescue copy holds zeros wherever its map ("IMAGE.map") says the disk
// could not be read, or was not read yet. Those zeros are not the disk's data: read through
// this reader, the image fails there as the disk did, so that scans count those sectors as
// unreadable and a found file that lies partly in them is not copied as if it were whole.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/file_handle.h"
#include "storage/rescue_map.h"
#include "storage/sector_reader.h"

namespace keltra {

class CopiedAreasReader : public SectorReader {
  public:
    CopiedAreasReader(FileHandle image, RescueMap map);

    // The map beside `imagePath` when there is one that reads as a map of an image of
    // `imageBytes` bytes; nothing otherwise (no map, another size, not a map).
    static std::optional<RescueMap> MapOfImage(const std::string& imagePath, uint64_t imageBytes);

    // Reads the copied bytes from `offset` on, up to the first byte the map does not mark
    // copied; a read that starts on such a byte fails with 1117, as a bad sector's does.
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override;

    const RescueMap& Map() const { return map_; }

  private:
    FileHandle image_;
    RescueMap map_;
};

}  // namespace keltra
