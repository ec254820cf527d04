// The deep scan's pass, as far as the deep FAT search sees it: every sector of a source is
// looked at once, in order, and handed to the search when it starts a folder (a "." / ".."
// pair) or else holds directory entries; Finish ends the pass.
#pragma once

#include <algorithm>
#include <vector>

#include "engines/fat/fat_entry.h"
#include "engines/fat/deep_fat_search.h"
#include "storage/sector_source.h"

namespace keltra::test {

inline void FeedDeepFat(DeepFatSearch& engine, const SectorSource& source,
                        uint32_t sectorSize = 512) {
    const uint32_t chunk = static_cast<uint32_t>(kReadPieceBytes / sectorSize);
    std::vector<std::byte> buffer(kReadPieceBytes);
    for (uint64_t at = 0; at < source.totalSectors; at += chunk) {
        const uint32_t count =
            static_cast<uint32_t>(std::min<uint64_t>(chunk, source.totalSectors - at));
        uint32_t read = 0;
        ReadSectors(source, count, buffer, at, static_cast<int>(sectorSize), read);
        for (uint32_t i = 0; i < read; ++i) {
            const auto sector =
                std::span<const std::byte>(buffer).subspan(size_t{i} * sectorSize, sectorSize);
            if (IsDotPair(sector)) {
                engine.HandleFolderStart(sector, at + i);
            } else if (LooksLikeFatDirSector(sector)) {
                engine.HandleDirectorySector(sector, at + i);
            }
        }
    }
    engine.Finish();
}

}  // namespace keltra::test
