#include "engines/ntfs/ntfs_folder_records.h"

namespace keltra::ntfs {

void FolderRecords::Clear() {
    folders_.clear();
    passed_ = 0;
}

void FolderRecords::Note(uint32_t number, uint64_t sector, std::span<const std::byte> record) {
    auto summary = SummariseRecord(record);
    if (!summary || !summary->header.IsDirectory()) return;
    if (!summary->hasName) {
        if (summary->hasAttributeList) folders_.insert_or_assign(number, std::nullopt);
        return;
    }
    summary->name.shrink_to_fit();
    folders_.insert_or_assign(number, Folder{sector, std::move(*summary)});
}

std::optional<const FolderRecords::Folder*> FolderRecords::Find(uint32_t number) const {
    const auto it = folders_.find(number);
    if (it == folders_.end()) {
        if (number < passed_) return nullptr;
        return std::nullopt;
    }
    if (!it->second) return std::nullopt;
    return &*it->second;
}

}  // namespace keltra::ntfs
