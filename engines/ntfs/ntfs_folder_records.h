// Folder records met while the quick scan reads the MFT, kept in summary form, so that walking
// up from a deleted file and writing the folders afterwards need not read again a record the
// scan has already read. A folder whose record lies beyond what the scan has read so far, or
// whose name lies in an extension record, is still read from the disk.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>

#include "engines/ntfs/ntfs_record_parse.h"

namespace keltra::ntfs {

class FolderRecords {
  public:
    // A directory record that names itself, as the engine would read it by its number.
    struct Folder {
        uint64_t sector = 0;
        RecordSummary summary;
    };

    void Clear();
    // The scan read record `number` at `sector` (the sector its number maps to) with its fixups
    // applied. Directory records are kept; a directory that names itself only through its
    // attribute list is left for the disk.
    void Note(uint32_t number, uint64_t sector, std::span<const std::byte> record);
    // Every record below `number` has been read (and noted) by the scan.
    void SetPassed(uint64_t number) { passed_ = number; }

    // The answer for record `number` without reading it: nothing when the disk must be asked;
    // a null folder when the record is no directory with a name in its own record (or was not
    // readable); else the folder.
    std::optional<const Folder*> Find(uint32_t number) const;

  private:
    // Named directories; nullopt: a directory to read from the disk.
    std::unordered_map<uint32_t, std::optional<Folder>> folders_;
    uint64_t passed_ = 0;
};

}  // namespace keltra::ntfs
