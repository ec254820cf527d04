// The guess of a deleted FAT32 entry's cleared high cluster word, made by both FAT engines.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "engines/fat/fat_volume.h"
#include "platform/status.h"

namespace keltra {

// Reads the one sector at an absolute sector number into `out` (a sector long); kOk or the error.
using FatSectorRead = std::function<Status(uint64_t sector, std::span<std::byte> out)>;

// The clusters a deleted FAT32 entry whose high word reads 0 may begin at, in the order they are
// tried: high word 0 … 256 over the stored low word, up to the volume's last cluster.
std::vector<uint32_t> HighWordCandidates(const FatGeometry& geometry, uint16_t low);

// The cluster of a deleted FAT32 entry whose high word reads 0: the first high word 0 … 256
// whose cluster starts like the entry (a folder: a dot pair naming that cluster; a file: the
// content check for `extension` accepts its first sector), else the stored low word. The search
// stops at the volume's last cluster and at the first read error. `scratch` is a reusable buffer.
uint32_t GuessFolderCluster(const FatVolume& volume, uint16_t low, const FatSectorRead& read,
                            std::vector<std::byte>& scratch);
uint32_t GuessFileCluster(const FatVolume& volume, uint16_t low, std::string_view extension,
                          const FatContentCheck& check, const FatSectorRead& read,
                          std::vector<std::byte>& scratch);

}  // namespace keltra
