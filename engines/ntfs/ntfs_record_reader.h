// Reads MFT FILE records from the volume, by sector or by record number, with their fixups
// applied.
#pragma once

#include <cstdint>
#include <span>

#include "engines/ntfs/ntfs_geometry.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra::ntfs {

class RecordReader {
  public:
    RecordReader(const SectorSource& source, const Geometry& geometry, const MftMap& mft)
        : source_(source), geometry_(geometry), mft_(mft) {}

    // Reads the record at the sector into `out` (one record size) and applies its fixups.
    // A failed read gives its status (30 when nothing was read).
    Status ReadAt(uint64_t sector, std::span<std::byte> out) const;
    // The same for record `number`; 87 when no $MFT run holds it.
    Status ReadNumber(uint64_t number, std::span<std::byte> out) const;

    const Geometry& Volume() const { return geometry_; }
    const MftMap& Mft() const { return mft_; }
    const SectorSource& Source() const { return source_; }

  private:
    const SectorSource& source_;
    const Geometry& geometry_;
    const MftMap& mft_;
};

}  // namespace keltra::ntfs
