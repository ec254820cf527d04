// The carver's first test of a sector, made right after the pass reads it: some format's anchor
// bytes hold at the sector's start, it is not a zero sector where no format can start with
// one, and a recogniser whose answer depends on the session or the disk applies, or one that
// needs the sector alone answers.
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
