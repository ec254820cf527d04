// The deep scan's pass, as far as the deep exFAT search sees it: every sector of a source is
// read once, in order, in 64 KiB spans, each span handed to the search; Finish ends the pass.
#pragma once

#include <algorithm>
#include <vector>

#include "engines/exfat/deep_exfat_search.h"
#include "storage/sector_source.h"

namespace keltra::test {

inline Status FeedDeepExFat(DeepExFatSearch& search, const SectorSource& source,
                            uint32_t sectorSize = 512) {
    const uint32_t chunk = static_cast<uint32_t>(kReadPieceBytes / sectorSize);
    std::vector<std::byte> buffer(kReadPieceBytes);
    for (uint64_t at = 0; at < source.totalSectors; at += chunk) {
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(chunk, source.totalSectors - at));
        uint32_t read = 0;
        IgnoreStatus(ReadSectors(source, count, buffer, at, static_cast<int>(sectorSize), read),
                     "what was read is fed, as the pass does");
        search.ExamineSectors(std::span<const std::byte>(buffer).first(size_t{read} * sectorSize),
                              at);
    }
    return search.Finish();
}

}  // namespace keltra::test
