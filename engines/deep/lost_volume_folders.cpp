#include "engines/deep/lost_volume_folders.h"

#include <algorithm>

#include "scanlog/scan_log_folder.h"

namespace keltra {

Status LostVolumeFolders::Begin(const PassStart& start) {
    Begin(start.folder, start.identity, start.source.startSector,
          start.resumedLog(kLostVolumesLogPrefix));
    return kOk;
}

SpanVerdict LostVolumeFolders::Examine(std::span<const std::byte> span, uint64_t firstSector,
                                       PassPosition& at) {
    const auto sectorSize = static_cast<size_t>(at.sectorSize);
    if (span.size() >= sectorSize) finder_.Examine(span.first(sectorSize), firstSector);
    return {};
}

std::unique_ptr<SectorScreen> LostVolumeFolders::MakeScreen(int sectorSize) const {
    const auto test = [](std::span<const std::byte> sector) {
        return VolumeBootFinder::MayBeBootSector(sector);
    };
    return std::make_unique<EachSectorScreen<decltype(test)>>(sectorSize, test);
}

Status LostVolumeFolders::Finish(const PassEnd& end) {
    Finish(end.source, end.sectorSize);
    return kOk;
}

void LostVolumeFolders::Begin(std::string scanFolder, SourceIdentity identity, uint64_t sourceStart,
                              const std::optional<std::string>& resumedLog) {
    scanFolder_ = std::move(scanFolder);
    identity_ = std::move(identity);
    sourceStart_ = sourceStart;
    finder_.Clear();
    bootVolumes_.clear();
    volumes_.clear();
    members_.clear();
    logName_.clear();
    if (resumedLog && finder_.Load(scanFolder_ + "/" + *resumedLog) == kOk) logName_ = *resumedLog;
}

void LostVolumeFolders::Finish(const SectorSource& source, uint32_t sectorSize) {
    if (!scanFolder_.empty() && (!finder_.Sightings().empty() || !logName_.empty())) {
        if (logName_.empty()) {
            logName_ = MakeLogName(kLostVolumesLogPrefix, static_cast<int64_t>(sourceStart_));
            IgnoreStatus(WriteSourceIdentity(scanFolder_, logName_, identity_),
                         "as without the log, below");
        }
        // Without the log a continued scan names only the volumes it meets itself; this scan
        // lists its own from memory.
        IgnoreStatus(finder_.Save(LogPath()), "only a continued scan misses the sightings");
    }
    bootVolumes_ = finder_.Resolve(source, sectorSize);
    std::erase_if(bootVolumes_,
                  [this](const FoundVolume& v) { return v.firstSector == sourceStart_; });
}

std::optional<size_t> LostVolumeFolders::VolumeOf(const FoundRecord& record) {
    const auto find = [this](auto&& matches) -> std::optional<size_t> {
        const auto it = std::find_if(volumes_.begin(), volumes_.end(), matches);
        if (it == volumes_.end()) return std::nullopt;
        return static_cast<size_t>(it - volumes_.begin());
    };
    switch (static_cast<RecordOrigin>(record.origin)) {
        case RecordOrigin::DeepNtfs: {
            const uint64_t start = record.partitionStart;
            if (start == sourceStart_) return std::nullopt;
            if (const auto known = find([start](const FoundVolume& v) {
                    return v.fileSystem == SourceClass::Ntfs && v.firstSector == start;
                })) {
                return known;
            }
            // A volume known by its MFT alone: its length is not known.
            FoundVolume v;
            v.fileSystem = SourceClass::Ntfs;
            v.firstSector = start;
            v.dataStart = start;
            volumes_.push_back(v);
            members_.emplace_back();
            return volumes_.size() - 1;
        }
        case RecordOrigin::DeepFat:
        case RecordOrigin::DeepExFat: {
            // The searches place a volume by its data area; the boot sector tells where it starts.
            const bool exfat = record.origin == static_cast<uint32_t>(RecordOrigin::DeepExFat);
            const uint64_t data = record.partitionStart + record.dataAreaStart;
            return find([&](const FoundVolume& v) {
                const bool sameKind =
                    exfat ? v.fileSystem == SourceClass::ExFat : IsFat(v.fileSystem);
                return sameKind && v.dataStart == data;
            });
        }
        default:
            return std::nullopt;
    }
}

void LostVolumeFolders::StartVolumes() {
    volumes_ = bootVolumes_;
    members_.assign(volumes_.size(), {});
}

void LostVolumeFolders::Group(std::vector<FoundRecord>& root) {
    StartVolumes();
    std::vector<FoundRecord> kept;
    kept.reserve(root.size());
    for (const FoundRecord& record : root) {
        if (const std::optional<size_t> v = VolumeOf(record)) {
            members_[*v].push_back(record);
        } else {
            kept.push_back(record);
        }
    }
    for (size_t i = 0; i < volumes_.size(); ++i) {
        if (members_[i].empty()) continue;
        FoundRecord folder = EmptyRecord();
        folder.origin = kLostVolumeOrigin;
        folder.isFolder = 1;
        folder.contentIntact = 1;
        folder.recordIndex = static_cast<uint32_t>(i + 1);
        folder.key = static_cast<uint32_t>(i + 1);
        folder.clusterBytes = -1;
        folder.location = volumes_[i].firstSector;
        folder.partitionStart = volumes_[i].firstSector;
        folder.SetName(volumes_[i].FolderName());
        if (!root.empty()) folder.sourceTag = root.front().sourceTag;
        kept.push_back(folder);
    }
    root = std::move(kept);
}

std::vector<FoundRecord> LostVolumeFolders::Members(const FoundRecord& folder) const {
    if (!IsVolumeFolder(folder) || folder.recordIndex == 0 || folder.recordIndex > members_.size())
        return {};
    return members_[folder.recordIndex - 1];
}

std::string LostVolumeFolders::FolderPathOf(const FoundRecord& record) {
    if (volumes_.size() < bootVolumes_.size()) StartVolumes();  // before the first listing
    const std::optional<size_t> v = VolumeOf(record);
    if (!v) return {};
    return volumes_[*v].FolderName() + "/";
}

}  // namespace keltra
