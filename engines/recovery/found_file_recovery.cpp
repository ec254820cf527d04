#include "engines/recovery/found_file_recovery.h"

#include "engines/photo/photo_metadata.h"
#include "platform/clock.h"
#include "platform/safe_create.h"

namespace keltra {

namespace {

constexpr uint64_t kFileTimeTicksPerSecond = 10'000'000;

}  // namespace

FoundFileRecovery::FoundFileRecovery(std::string folder, RecoveryChoice choice)
    : folder_(std::move(folder)), choice_(choice), rootSeparators_(RootSeparatorCount(folder_)) {}

std::string FoundFileRecovery::TargetOf(FoundFiles& engine, const FoundRecord& record,
                                        std::string_view folderPath) const {
    if (choice_.nameByDate && record.isFolder == 0) {
        const std::string dated =
            NameByDateTaken(ReadFoundPhotoMetadata(engine, record), record.Name());
        if (!dated.empty()) {
            FoundRecord renamed = record;
            renamed.SetName(dated);
            return RecoveryTargetPath(folder_, renamed, folderPath, choice_.layout);
        }
    }
    return RecoveryTargetPath(folder_, record, folderPath, choice_.layout);
}

Status FoundFileRecovery::MakeFolder(const std::string& target) const {
    if (choice_.layout != RecoveryLayout::KeepPaths) return kOk;
    const SplitDestination split = SplitAtRoot(target, rootSeparators_);
    return CreateFolderBelow(split.root, split.relative);
}

Status FoundFileRecovery::KeepModifiedTime(const std::string& written,
                                           const FoundRecord& record) const {
    if (record.modified == 0 || record.isFolder != 0) return kOk;
    const SplitDestination split = SplitAtRoot(written, rootSeparators_);
    const auto nanoseconds = static_cast<uint32_t>(record.modified % kFileTimeTicksPerSecond * 100);
    return SetModifiedTimeBelow(split.root, split.relative, UnixFromFileTime(record.modified),
                                nanoseconds);
}

}  // namespace keltra
