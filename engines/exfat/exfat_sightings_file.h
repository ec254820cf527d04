// The deep exFAT search's sightings kept beside its log: the directory sectors and entry sets a
// stopped pass had met, so that a continued pass rebuilds the tree from everything met before
// and after the stop, as one whole pass would.
//
// Layout (little-endian): "KXEXSET1"; uint32 directory sectors; uint32 sets; then per directory
// sector uint64 sector, uint8 flags (1 set start first, 2 end of folder, 4 root entries); then
// per set uint64 sector, uint32 offset, uint8 deleted, uint8 entry count, uint16 attributes,
// uint64 created, modified, accessed, uint32 first cluster, uint8 NoFatChain, uint64 valid
// length, uint64 length, uint16 name hash, uint8 name length, the name's UTF-16 units; then
// uint32 up-case tables and per table uint64 sector of the root entry that names it, uint32
// first cluster, uint64 length, uint32 checksum. Files written before the tables were kept end
// after the sets and load as before.
#pragma once

#include <string>
#include <vector>

#include "engines/exfat/exfat_tree_rebuild.h"
#include "platform/status.h"

namespace keltra {

// An up-case table a root folder names, as met in the pass: read at the end, when the cluster
// heap is known, and used if its bytes match the checksum.
struct ExFatUpcaseSighting {
    uint64_t sector = 0;  // the directory sector holding the table's entry
    ExFatStream table;
    uint32_t checksum = 0;
};
// A card holds one table; a few more come from older volumes on the same disk.
inline constexpr size_t kExFatMaxUpcaseSightings = 16;

// The file beside the log named `logPath`.
std::string ExFatSightingsPath(const std::string& logPath);

Status SaveExFatSightings(const std::string& path, const std::vector<ExFatDirSighting>& dirs,
                          const std::vector<ExFatFoundSet>& sets,
                          const std::vector<ExFatUpcaseSighting>& upcases);
// Appends what the file holds; false (nothing appended) when it is missing, of another kind,
// cut short or holds values no pass can have met. Sets taken back count as checksum-verified.
bool LoadExFatSightings(const std::string& path, std::vector<ExFatDirSighting>& dirs,
                        std::vector<ExFatFoundSet>& sets, std::vector<ExFatUpcaseSighting>& upcases);

}  // namespace keltra
