// The files one search found, over every source it searched: the records themselves are kept in
// a scratch file beside the scan logs and read back through a memory map, so the program holds
// only sixteen bytes per file (its size, its folder, its extension and its source) however many
// were found, and reads a record only when it is shown.
#pragma once

#include <QString>
#include <QTemporaryFile>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engines/found_record.h"
#include "platform/status.h"

namespace keltra {

class FoundFileStore {
  public:
    // The scratch file goes into `folder` (made when missing).
    explicit FoundFileStore(const QString& folder);
    FoundFileStore(const FoundFileStore&) = delete;
    FoundFileStore& operator=(const FoundFileStore&) = delete;

    // Adds a file found on source `source` (the caller's numbering) in `folderPath`.
    Status Add(const FoundRecord& record, std::string_view folderPath, uint16_t source);
    // Writes what is still buffered and maps the file: the records can be read from now on.
    Status Finish();

    size_t Count() const { return entries_.size(); }
    // The record of file `i`; valid while the store lives (after Finish).
    const FoundRecord& Record(size_t i) const { return records_[i]; }
    uint64_t Size(size_t i) const { return entries_[i].size; }
    uint16_t Source(size_t i) const { return entries_[i].source; }
    // "DCIM/100CANON/", empty at the root.
    const std::string& FolderPath(size_t i) const { return folders_[entries_[i].folder]; }
    // The folder path's number: files of one folder path share it.
    uint32_t FolderId(size_t i) const { return entries_[i].folder; }
    // The file's extension as the results group it (GroupExtension), as an index into
    // Extensions(); each with the name of its first file, which tells its category.
    uint16_t Extension(size_t i) const { return entries_[i].extension; }
    struct ExtensionGroup {
        std::string extension;
        std::string firstName;
    };
    const std::vector<ExtensionGroup>& Extensions() const { return extensions_; }

  private:
    struct Entry {
        uint64_t size;
        uint32_t folder;
        uint16_t extension;
        uint16_t source;
    };
    static_assert(sizeof(Entry) == 16);

    static constexpr size_t kBufferRecords = 1024;

    Status WriteBuffer();

    QTemporaryFile file_;
    std::vector<Entry> entries_;
    std::vector<std::string> folders_;
    std::unordered_map<std::string, uint32_t> folderIds_;
    std::vector<ExtensionGroup> extensions_;
    std::unordered_map<std::string, uint16_t> extensionIds_;
    std::vector<FoundRecord> buffer_;
    const FoundRecord* records_ = nullptr;
    Status error_ = kOk;
};

}  // namespace keltra
