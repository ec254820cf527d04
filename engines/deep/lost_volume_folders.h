// Found volumes stay apart, and are named. A deep scan that meets volumes other than the one its
// source begins with (a lost partition of a disk whose table is gone, an earlier volume of a
// re-partitioned card) lists each of them under a top folder of its own, "Lost NTFS volume at
// sector 2048 (40 MiB)", as the partitions of a disk image with a table are listed; what the
// source's own volume holds, and files found in no volume, stay at the root.
//
// The volumes come from the boot sectors (or their backups) the pass meets, kept with the scan
// so that a continued scan knows them too, and from the deep searches' records themselves: an
// NTFS record names its volume's first sector, a FAT or exFAT record its volume's data area.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/deep/volume_boot_finder.h"
#include "engines/found_record.h"
#include "engines/sector_examiner.h"
#include "scanlog/source_identity.h"
#include "storage/sector_source.h"

namespace keltra {

// The origin of a lost volume's folder record: it is no engine's find, so it lies beyond the
// engines' RecordOrigin values.
inline constexpr uint32_t kLostVolumeOrigin = 7;
// The log of the boot sectors a deep scan met: one sector number a line.
inline constexpr std::string_view kLostVolumesLogPrefix = "Volumes_";

class LostVolumeFolders final : public SectorExaminer {
  public:
    // In the deep scan's pass: Begin with the scan's folder and its volumes' log; every span
    // read is looked at for a boot sector and none is taken; Finish.
    Status Begin(const PassStart& start) override;
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override;
    Status Finish(const PassEnd& end) override;
    std::unique_ptr<SectorScreen> MakeScreen(int sectorSize) const override;

    // A new or continued scan of the source that begins at `sourceStart`; `scanFolder` holds its
    // logs, and `resumedLog` names the volumes' log of the scan continued.
    void Begin(std::string scanFolder, SourceIdentity identity, uint64_t sourceStart,
               const std::optional<std::string>& resumedLog);
    // The end of the pass (also after a stop): keeps the boot sectors met with the scan and
    // works out their volumes.
    void Finish(const SectorSource& source, uint32_t sectorSize);

    // The volumes the boot sectors describe, the source's own left out.
    const std::vector<FoundVolume>& BootVolumes() const { return bootVolumes_; }

    // Takes the records of a lost volume out of the root listing `root` and lists the volume's
    // folder there instead.
    void Group(std::vector<FoundRecord>& root);
    static bool IsVolumeFolder(const FoundRecord& record) {
        return record.origin == kLostVolumeOrigin;
    }
    // The records a volume folder of the last Group holds.
    std::vector<FoundRecord> Members(const FoundRecord& folder) const;
    // The folder path ("Lost NTFS volume at sector 2048 (40 MiB)/") a record of a deep search
    // lies under; empty for the root.
    std::string FolderPathOf(const FoundRecord& record);

  private:
    // The volume (an index into volumes_) a deep search's record lies in; nothing for the
    // source's own volume and for a record no volume explains. A volume known only from an
    // NTFS record is added.
    std::optional<size_t> VolumeOf(const FoundRecord& record);
    // The boot volumes, with no records yet.
    void StartVolumes();
    std::string LogPath() const { return scanFolder_ + "/" + logName_; }

    std::string scanFolder_;
    std::string logName_;
    SourceIdentity identity_;
    uint64_t sourceStart_ = 0;
    VolumeBootFinder finder_;
    std::vector<FoundVolume> bootVolumes_;
    std::vector<FoundVolume> volumes_;  // the boot volumes, then those known from records
    std::vector<std::vector<FoundRecord>> members_;
};

}  // namespace keltra
