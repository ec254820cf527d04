// Reads inside one FAT volume that both FAT engines make: sectors within the volume's bounds,
// and the guess of a deleted FAT32 entry's cleared high cluster word.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engines/fat/fat_directory_walker.h"

namespace keltra {

// Reads `count` whole sectors at absolute `sector`; 87 outside the volume, 30 for a short read.
Status ReadVolumeSectors(const FatVolume& volume, uint64_t sector, uint32_t count,
                         std::span<std::byte> out);

// The cluster of a deleted FAT32 entry whose high word reads 0: the first high word 0 … 256
// whose cluster starts like the entry (a folder: a dot pair naming that cluster; a file: the
// content check for `extension` accepts its first sector), else the stored low word. `scratch`
// is a reusable buffer.
uint32_t GuessFolderCluster(const FatVolume& volume, uint16_t low, std::vector<std::byte>& scratch);
uint32_t GuessFileCluster(const FatVolume& volume, uint16_t low, std::string_view extension,
                          const FatContentCheck& check, std::vector<std::byte>& scratch);

}  // namespace keltra
