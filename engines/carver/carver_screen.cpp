#include "engines/carver/carver_screen.h"

#include <algorithm>

#include "engines/carving/carve_session.h"
#include "engines/carving/signature_table.h"
#include "engines/carving/zero_sectors.h"

namespace keltra {

CarverScreen::CarverScreen(int sectorSize)
    : sectorSize_(static_cast<size_t>(std::max(sectorSize, 0))),
      carvable_(IsCarvableSectorSize(sectorSize)),
      zeroSectorMayStartFile_(!carvable_ || ZeroSectorMayStartFile(sectorSize_)) {}

void CarverScreen::Mark(std::span<const std::byte> sectors, std::span<uint8_t> marks,
                        uint8_t bit) const {
    const size_t count = sectorSize_ == 0 ? 0 : std::min(sectors.size() / sectorSize_, marks.size());
    if (!carvable_) {
        for (size_t i = 0; i < count; ++i) marks[i] |= bit;
        return;
    }
    MarkAnchoredSectors(sectors, sectorSize_, marks, bit);
    // Where an anchor holds, the recognisers that need nothing but the sector are asked too
    // (after the cheaper zero test): only sectors where a file may start stay marked.
    CarveSession scratch;
    scratch.sectorSize = static_cast<uint32_t>(sectorSize_);
    for (size_t i = 0; i < count; ++i) {
        if ((marks[i] & bit) == 0) continue;
        const auto sector = sectors.subspan(i * sectorSize_, sectorSize_);
        const bool passedOver =
            (!zeroSectorMayStartFile_ && LeadingZeroSectors(sector, sectorSize_) == 1) ||
            !SomeRecogniserMayAnswer(scratch, sector);
        if (passedOver) marks[i] &= static_cast<uint8_t>(~bit);
    }
}

}  // namespace keltra
