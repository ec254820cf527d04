// The carver's first test of a sector, made on the pass's reading thread: some format's anchor
// bytes hold at the sector's start, and it is not a zero sector where no format can start
// with one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engines/sector_examiner.h"

namespace keltra {

class CarverScreen final : public SectorScreen {
  public:
    explicit CarverScreen(int sectorSize);
    void Mark(std::span<const std::byte> sectors, std::span<uint8_t> marks,
              uint8_t bit) const override;

  private:
    size_t sectorSize_;
    // Outside the carvable sector sizes every sector is left to the carver, which refuses it.
    bool carvable_;
    bool zeroSectorMayStartFile_;
};

}  // namespace keltra
