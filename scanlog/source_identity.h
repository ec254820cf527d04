// Which source a scan log and a remembered deep scan belong to: the device or image, the
// volume's place and size on it, its sector size, and a fingerprint of the volume (its serial
// number where the file system keeps one, else a hash of its first sectors). Every log gets a
// "_Source" companion holding its source's identity, and every remembered deep scan a "Source"
// file in its scan folder, so that a continued scan never takes up another source's logs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// The companion of a log "NAME" that names its source: "NAME_Source".
inline constexpr std::string_view kLogSourceSuffix = "_Source";
// The file in a scan folder that names the source of the deep scan remembered with it.
inline constexpr std::string_view kFolderSourceFile = "Source";

struct SourceIdentity {
    std::string device;  // the image file's path, or the disk's device
    uint64_t firstSector = 0;
    uint64_t sectorCount = 0;
    uint32_t sectorSize = 0;
    std::string fingerprint;  // "serial:..." or "head:..."

    bool operator==(const SourceIdentity&) const = default;
    // One line per field, as stored.
    std::string Text() const;
    // Reads Text() back; nothing for anything else.
    static std::optional<SourceIdentity> FromText(std::string_view text);
    // "'/x/card.img', sectors 2048 to 34815, volume serial 1A2B-3C4D" for messages.
    std::string Describe() const;
};

// The fingerprint of a volume from its first sectors (at least its first 4 KiB; fewer give a
// hash of what there is): the serial number of an NTFS, exFAT, FAT or ext volume, else a hash.
std::string VolumeFingerprint(std::span<const std::byte> firstSectors);

// The identity of the `sectorCount` sectors at `firstSector` of an open source (0 sectors: to
// its end). `device` names it.
SourceIdentity IdentifySource(const SectorSource& source, std::string device, uint64_t firstSector,
                              uint64_t sectorCount, uint32_t sectorSize);
// How disk N is named in an identity: its device node, or "disk:N".
std::string DiskIdentityName(int diskNumber);
// The same, opening the image (512-byte sectors) or disk N; nothing when it cannot be opened.
std::optional<SourceIdentity> IdentifyImageSource(const std::string& imagePath,
                                                  uint64_t firstSector, uint64_t sectorCount);
std::optional<SourceIdentity> IdentifyDiskSource(int diskNumber, uint64_t firstSector,
                                                 uint64_t sectorCount);

// Writes `identity` beside the log `logName` of `folder`, or as the folder's own Source file
// when `logName` is empty.
Status WriteSourceIdentity(const std::string& folder, const std::string& logName,
                           const SourceIdentity& identity);
// The identity stored beside the log (or of the folder, for an empty `logName`); nothing when
// there is none (logs of earlier versions) or it cannot be read.
std::optional<SourceIdentity> ReadSourceIdentity(const std::string& folder,
                                                 const std::string& logName);

// The main log of `folder` whose name holds `prefix` and that belongs to `identity`: one whose
// stored identity equals it, else one of an earlier version (no identity stored) whose name
// holds the same first sector, when `trustUnmarked`. Logs of other sources are never chosen.
std::optional<std::string> FindSourceLog(std::string_view prefix, const std::string& folder,
                                         const SourceIdentity& identity, bool trustUnmarked);

}  // namespace keltra
