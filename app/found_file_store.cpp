#include "app/found_file_store.h"

#include <QDir>
#include <algorithm>

#include "app/found_files.h"

namespace keltra {

FoundFileStore::FoundFileStore(const QString& folder)
    : file_(QDir(folder).filePath(QStringLiteral("found-XXXXXX"))) {
    QDir().mkpath(folder);
    if (!file_.open()) error_ = kErrAccessDenied;
    buffer_.reserve(kBufferRecords);
}

Status FoundFileStore::Add(const FoundRecord& record, std::string_view folderPath,
                           uint16_t source) {
    if (error_ != kOk) return error_;
    auto [folder, added] =
        folderIds_.try_emplace(std::string(folderPath), static_cast<uint32_t>(folders_.size()));
    if (added) folders_.push_back(folder->first);
    // Past 65,535 different extensions the rest share the last group.
    std::string extension = GroupExtension(record.Name());
    auto found = extensionIds_.find(extension);
    if (found == extensionIds_.end()) {
        const auto id = static_cast<uint16_t>(std::min<size_t>(extensions_.size(), 0xFFFF));
        if (extensions_.size() <= 0xFFFF) {
            extensions_.push_back({extension, std::string(record.Name())});
        }
        found = extensionIds_.emplace(std::move(extension), id).first;
    }
    entries_.push_back({record.size, folder->second, found->second, source});
    buffer_.push_back(record);
    return buffer_.size() == kBufferRecords ? WriteBuffer() : kOk;
}

Status FoundFileStore::WriteBuffer() {
    const auto bytes = static_cast<qint64>(buffer_.size() * sizeof(FoundRecord));
    if (!buffer_.empty() &&
        file_.write(reinterpret_cast<const char*>(buffer_.data()), bytes) != bytes) {
        error_ = kErrDiskFull;
    }
    buffer_.clear();
    return error_;
}

Status FoundFileStore::Finish() {
    if (const Status s = WriteBuffer(); s != kOk) return s;
    folderIds_ = {};
    extensionIds_ = {};
    if (entries_.empty()) return kOk;
    if (!file_.flush()) return error_ = kErrWriteFault;
    uchar* map = file_.map(0, file_.size(), QFileDevice::MapPrivateOption);
    if (map == nullptr) return error_ = kErrNotEnoughMemory;
    records_ = reinterpret_cast<const FoundRecord*>(map);
    return kOk;
}

}  // namespace keltra
