#include "engines/scan_log_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <deque>
#include <filesystem>
#include <span>
#include <unordered_set>

#include "engines/content_verdict.h"
#include "engines/extension_categories.h"
#include "platform/text.h"

namespace keltra {
namespace {

constexpr size_t kMaxExtensionListBytes = 4095;

bool IsFolderRecord(const FoundRecord& r) {
    return r.isFolder != 0;
}

uint32_t FilesAmong(std::span<const FoundRecord> records) {
    return static_cast<uint32_t>(
        std::count_if(records.begin(), records.end(), [](const FoundRecord& r) {
            return !IsFolderRecord(r);
        }));
}

// A photo whose first data failed the content check is not shown (a damaged carved photo is).
bool IsHiddenPhoto(const FoundRecord& r) {
    return VerdictOf(r) == ContentVerdict::kNotItsType &&
           ExtensionInList(ExtensionOf(r.Name()), kPhotoExtensions);
}

// The extension of a name lower-cased into `scratch` (the same rule as ExtensionInList, without
// an allocation per record: the search tests a million of them).
std::string_view LowerExtension(std::string_view name,
                                std::array<char, sizeof(FoundRecord::name)>& scratch) {
    const std::string_view extension = ExtensionOf(name);
    for (size_t i = 0; i < extension.size(); ++i) {
        const char c = extension[i];
        scratch[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return {scratch.data(), extension.size()};
}

std::span<const std::byte> BytesOf(const std::vector<FoundRecord>& records) {
    return std::as_bytes(std::span(records));
}

Status ReadWholeFile(const FileHandle& file, std::string& out) {
    uint64_t size = 0;
    if (const Status s = file.Size(size); s != kOk) return s;
    out.resize(size);
    size_t total = 0;
    while (total < out.size()) {
        size_t done = 0;
        const auto into = std::as_writable_bytes(std::span(out)).subspan(total);
        if (const Status s = file.ReadAt(total, into, done); s != kOk) return s;
        if (done == 0) break;
        total += done;
    }
    out.resize(total);
    return kOk;
}

Status RewriteWhole(const FileHandle& file, std::span<const std::byte> bytes) {
    if (const Status s = file.WriteAllAt(0, bytes); s != kOk) return s;
    return file.Truncate(bytes.size());
}

constexpr size_t kRelationWriteBytes = 65536;

// One relation entry " | <key> - [<i>,<i>,...]" appended to `text`.
void AppendRelation(std::string& text, uint64_t key, const ChildList& children) {
    std::array<char, 24> digits;
    text += " | ";
    text.append(digits.data(), std::to_chars(digits.begin(), digits.end(), key).ptr);
    text += " - [";
    bool first = true;
    children.ForEach([&](uint32_t index) {
        if (!first) text += ',';
        first = false;
        text.append(digits.data(), std::to_chars(digits.begin(), digits.end(), index).ptr);
        return true;
    });
    text += ']';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

void SortListedRecords(std::vector<FoundRecord>& records) {
    if (records.size() < 2) return;
    // The names are lower-cased once into one arena, so that each comparison is a plain byte
    // comparison (the same order as CompareNamesIgnoringCase); the sort moves small keys and
    // each 346-byte record is moved once at the end.
    std::string lowered;
    std::vector<size_t> offsets;
    offsets.reserve(records.size() + 1);
    for (const FoundRecord& r : records) {
        offsets.push_back(lowered.size());
        lowered += AsciiLower(r.Name());
    }
    offsets.push_back(lowered.size());
    struct SortKey {
        bool folder;
        std::string_view name;
        size_t position;
    };
    std::vector<SortKey> keys;
    keys.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        keys.push_back({IsFolderRecord(records[i]),
                        std::string_view(lowered).substr(offsets[i], offsets[i + 1] - offsets[i]),
                        i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const SortKey& a, const SortKey& b) {
        if (a.folder != b.folder) return !a.folder;
        return a.name < b.name;
    });
    std::vector<FoundRecord> sorted;
    sorted.reserve(records.size());
    for (const SortKey& key : keys) sorted.push_back(records[key.position]);
    records = std::move(sorted);
}

ScanLogStore::~ScanLogStore() {
    if (IsOpen()) {
        IgnoreStatus(Flush(), "a destructor cannot report; owners flush before they let it go");
    }
}

Status ScanLogStore::OpenLog(const std::string& folder, const std::string& logName) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return StatusFromErrno(ec.value(), true);

    logName_ = logName;
    mainPath_ = JoinPath(folder, logName);
    relationPath_ = mainPath_ + "_Relation";
    folderInfoPath_ = mainPath_ + "_DirInfo";
    if (const Status s = FileHandle::OpenOrCreate(mainPath_, main_); s != kOk) return s;
    if (const Status s = FileHandle::OpenOrCreate(relationPath_, relation_); s != kOk) return s;
    if (const Status s = FileHandle::OpenOrCreate(folderInfoPath_, folderInfo_); s != kOk) return s;

    // A reopened log continues after its last whole record; a torn last record is cut off.
    uint64_t mainBytes = 0;
    if (const Status s = main_.Size(mainBytes); s != kOk) return s;
    const uint64_t records = mainBytes / kFoundRecordSize;
    if (records >= UINT32_MAX) return kErrFileTooLarge;
    if (records * kFoundRecordSize != mainBytes) {
        if (const Status s = main_.Truncate(records * kFoundRecordSize); s != kOk) return s;
    }
    recordCount_ = recordsInFile_ = static_cast<uint32_t>(records);
    filesInFile_.reset();
    if (records == 0) filesInFile_ = 0;
    pending_.clear();
    pending_.reserve(kBufferRecords);
    piece_.clear();
    listPieces_.clear();

    relations_.clear();
    parentsStale_ = true;
    folders_.clear();
    firstFolderEntry_.clear();
    std::string text;
    if (const Status s = ReadWholeFile(relation_, text); s != kOk) return s;
    ParseRelationText(text);
    if (const Status s = ReadWholeFile(folderInfo_, text); s != kOk) return s;
    const size_t entries = text.size() / sizeof(FolderInfoEntry);
    folders_.resize(entries);
    if (entries != 0) std::memcpy(folders_.data(), text.data(), entries * sizeof(FolderInfoEntry));
    for (size_t i = 0; i < folders_.size(); ++i) {
        folders_[i].name[sizeof(folders_[i].name) - 1] = '\0';
        const uint32_t folderKey = folders_[i].folderKey;
        firstFolderEntry_.try_emplace(folderKey, i);
    }
    relationsDirty_ = foldersDirty_ = false;
    return kOk;
}

// Entries " | <key> - [<index>,...]" one after another; reading stops at the first malformed
// entry, keeping those before it.
void ScanLogStore::ParseRelationText(std::string_view text) {
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    auto take = [&](std::string_view literal) {
        if (static_cast<size_t>(end - p) < literal.size() ||
            std::string_view(p, literal.size()) != literal) {
            return false;
        }
        p += literal.size();
        return true;
    };
    while (p < end) {
        uint64_t key = 0;
        if (!take(" | ")) return;
        auto [afterKey, keyError] = std::from_chars(p, end, key);
        if (keyError != std::errc()) return;
        p = afterKey;
        if (!take(" - [")) return;
        ChildList& children = relations_[key];
        if (take("]")) continue;
        while (true) {
            uint32_t index = 0;
            auto [afterIndex, indexError] = std::from_chars(p, end, index);
            if (indexError != std::errc()) return;
            p = afterIndex;
            children.push_back(index);
            if (take("]")) break;
            if (!take(",")) return;
        }
    }
}

std::optional<uint64_t> ScanLogStore::ParentOf(uint32_t childIndex) {
    if (parentsStale_) {
        // Keys in ascending order: the first one met for a child is its smallest.
        parentSlot_.assign(size_t{recordCount_} + 1, 0);
        parentKeys_.clear();
        strayParents_.clear();
        for (const auto& entry : relations_) {
            const uint64_t key = entry.first;
            parentKeys_.push_back(key);
            const uint32_t slot = static_cast<uint32_t>(parentKeys_.size());
            entry.second.ForEach([&](uint32_t child) {
                if (child < parentSlot_.size()) {
                    if (parentSlot_[child] == 0) parentSlot_[child] = slot;
                } else {
                    strayParents_.try_emplace(child, key);
                }
                return true;
            });
        }
        parentsStale_ = false;
    }
    if (childIndex < parentSlot_.size()) {
        const uint32_t slot = parentSlot_[childIndex];
        if (slot == 0) return std::nullopt;
        return parentKeys_[slot - 1];
    }
    const auto stray = strayParents_.find(childIndex);
    if (stray == strayParents_.end()) return std::nullopt;
    return stray->second;
}

FoundRecord& ScanLogStore::NewRecord() {
    if (pending_.size() >= kBufferRecords && pending_.size() % kBufferRecords == 0) {
        IgnoreStatus(WritePending(),
                     "the records stay buffered; the next Flush writes them or reports it");
    }
    FoundRecord& slot = pending_.emplace_back(EmptyRecord());
    slot.recordIndex = ++recordCount_;
    return slot;
}

Status ScanLogStore::WritePending() {
    if (pending_.empty()) return kOk;
    const uint64_t offset = static_cast<uint64_t>(recordsInFile_) * kFoundRecordSize;
    if (const Status s = main_.WriteAllAt(offset, BytesOf(pending_)); s != kOk) return s;
    recordsInFile_ += static_cast<uint32_t>(pending_.size());
    if (filesInFile_) *filesInFile_ += FilesAmong(pending_);
    pending_.clear();
    return kOk;
}

void ScanLogStore::Link(uint64_t parentKey, uint32_t childIndex, uint32_t childKey,
                        std::optional<std::string_view> folderName) {
    relations_[parentKey].push_back(childIndex);
    relationsDirty_ = true;
    parentsStale_ = true;
    if (!folderName) return;
    FolderInfoEntry entry{};
    entry.folderKey = childKey;
    entry.recordIndex = childIndex;
    const std::string_view fitted = Utf8Prefix(*folderName, sizeof(entry.name) - 1);
    if (!fitted.empty()) std::memcpy(entry.name, fitted.data(), fitted.size());
    firstFolderEntry_.try_emplace(childKey, folders_.size());
    folders_.push_back(entry);
    foldersDirty_ = true;
}

Status ScanLogStore::RewriteRelations() {
    // Written in pieces, so that a large map never stands in memory a second time as text.
    std::string text;
    uint64_t written = 0;
    for (const auto& [key, children] : relations_) {
        AppendRelation(text, key, children);
        if (text.size() < kRelationWriteBytes) continue;
        if (const Status s = relation_.WriteAllAt(written, std::as_bytes(std::span(text)));
            s != kOk) {
            return s;
        }
        written += text.size();
        text.clear();
    }
    if (const Status s = relation_.WriteAllAt(written, std::as_bytes(std::span(text))); s != kOk) {
        return s;
    }
    return relation_.Truncate(written + text.size());
}

Status ScanLogStore::Flush() {
    if (const Status s = WritePending(); s != kOk) return s;
    Status relationStatus = kOk;
    if (relationsDirty_) {
        relationStatus = RewriteRelations();
        if (relationStatus == kOk) relationsDirty_ = false;
    }
    Status folderStatus = kOk;
    if (foldersDirty_) {
        folderStatus = RewriteWhole(folderInfo_, std::as_bytes(std::span(folders_)));
        if (folderStatus == kOk) foldersDirty_ = false;
    }
    return folderStatus != kOk ? folderStatus : relationStatus;
}

Status ScanLogStore::ReadRecords(uint32_t first, uint32_t count, std::vector<FoundRecord>& into) {
    into.resize(count);
    const auto bytes = std::as_writable_bytes(std::span(into));
    const uint64_t offset = static_cast<uint64_t>(first - 1) * kFoundRecordSize;
    size_t total = 0;
    while (total < bytes.size()) {
        size_t done = 0;
        if (const Status s = main_.ReadAt(offset + total, bytes.subspan(total), done); s != kOk) {
            into.clear();
            return s;
        }
        if (done == 0) {  // the file is shorter than it was
            into.clear();
            return kErrInvalidParameter;
        }
        total += done;
    }
    return kOk;
}

Status ScanLogStore::ReadPiece(uint32_t first, uint32_t count) {
    return ReadRecords(first, count, piece_);
}

Status ScanLogStore::ReadRecord(uint32_t index, FoundRecord& out) {
    if (index == 0 || index > recordCount_) return kErrInvalidParameter;
    if (index > recordsInFile_) {
        out = pending_[index - recordsInFile_ - 1];
        return kOk;
    }
    const uint32_t first = (index - 1) / kListPieceRecords * kListPieceRecords + 1;
    ListPiece* piece = nullptr;
    for (ListPiece& p : listPieces_) {
        if (p.first == first) piece = &p;
    }
    // A piece read while the file was shorter is read again.
    if (piece == nullptr || index - first >= piece->records.size()) {
        if (piece == nullptr) {
            if (listPieces_.size() < kListPieces) {
                piece = &listPieces_.emplace_back();
            } else {
                piece = &*std::min_element(
                    listPieces_.begin(), listPieces_.end(),
                    [](const ListPiece& a, const ListPiece& b) { return a.lastUse < b.lastUse; });
            }
        }
        piece->first = 0;
        const uint32_t count = std::min<uint32_t>(kListPieceRecords, recordsInFile_ - first + 1);
        if (const Status s = ReadRecords(first, count, piece->records); s != kOk) return s;
        piece->first = first;
    }
    piece->lastUse = ++listClock_;
    out = piece->records[index - first];
    return kOk;
}

const ChildList* ScanLogStore::ChildrenOf(uint64_t parentKey) const {
    if (relations_.empty()) return nullptr;
    const auto it = parentKey == 0 ? relations_.begin() : relations_.find(parentKey);
    return it == relations_.end() ? nullptr : &it->second;
}

void ScanLogStore::ReadAhead(const ChildList& children) {
    aheadIndices_.clear();
    aheadRecords_.clear();
    std::vector<uint32_t> wanted;
    wanted.reserve(children.size());
    children.ForEach([&](uint32_t index) {
        if (index != 0 && index <= recordsInFile_) wanted.push_back(index);
        return true;
    });
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<FoundRecord> span;
    for (size_t first = 0; first < wanted.size();) {
        size_t last = first + 1;
        while (last < wanted.size() && wanted[last] - wanted[last - 1] <= kAheadGapRecords &&
               wanted[last] - wanted[first] < kListPieceRecords) {
            ++last;
        }
        // A span that cannot be read is left to ReadRecord, which tells the error.
        if (ReadRecords(wanted[first], wanted[last - 1] - wanted[first] + 1, span) == kOk) {
            for (size_t i = first; i < last; ++i) {
                aheadIndices_.push_back(wanted[i]);
                aheadRecords_.push_back(span[wanted[i] - wanted[first]]);
            }
        }
        first = last;
    }
}

Status ScanLogStore::ListChildren(uint64_t parentKey, std::vector<FoundRecord>& out) {
    const ChildList* children = ChildrenOf(parentKey);
    if (children == nullptr) return kOk;
    out.reserve(out.size() + children->size());
    // A folder's children lie scattered over the log when the scan met them in another order
    // than folder by folder: they are read in index order, neighbours together.
    ReadAhead(*children);
    FoundRecord record;
    Status status = kOk;
    children->ForEach([&](uint32_t index) {
        const auto at = std::lower_bound(aheadIndices_.begin(), aheadIndices_.end(), index);
        if (at != aheadIndices_.end() && *at == index) {
            record = aheadRecords_[static_cast<size_t>(at - aheadIndices_.begin())];
        } else {
            status = ReadRecord(index, record);
            if (status != kOk) return false;
        }
        if (!IsHiddenPhoto(record)) out.push_back(record);
        return true;
    });
    aheadIndices_.clear();
    aheadRecords_.clear();
    if (status != kOk) return status;
    SortListedRecords(out);
    return kOk;
}

Status ScanLogStore::CountFiles(uint64_t parentKey, uint32_t& count) {
    count = 0;
    if (relations_.empty()) return kOk;
    if (parentKey == 0) parentKey = relations_.begin()->first;
    std::deque<uint64_t> queue{parentKey};
    std::unordered_set<uint64_t> visited{parentKey};
    FoundRecord record;
    while (!queue.empty()) {
        const uint64_t key = queue.front();
        queue.pop_front();
        const auto it = relations_.find(key);
        if (it == relations_.end()) continue;
        const uint32_t depth = static_cast<uint32_t>(key >> 32);
        Status status = kOk;
        it->second.ForEach([&](uint32_t index) {
            status = ReadRecord(index, record);
            if (status != kOk) return false;
            if (!IsFolderRecord(record)) {
                ++count;
                return true;
            }
            const uint64_t childKey = ParentKey(record.key, depth + 1);
            if (visited.insert(childKey).second) queue.push_back(childKey);
            return true;
        });
        if (status != kOk) return status;
    }
    return kOk;
}

Status ScanLogStore::FindFolderRecord(uint32_t folderKey, FoundRecord& out) {
    bool found = false;
    const Status s = ForEachRecord([&](const FoundRecord& r) {
        if (!IsFolderRecord(r) || r.key != folderKey) return true;
        out = r;
        found = true;
        return false;
    });
    if (s != kOk) return s;
    return found ? kOk : kErrInvalidParameter;
}

Status ScanLogStore::FileCount(uint32_t& count) {
    count = 0;
    if (!filesInFile_) {
        uint32_t files = 0;
        uint32_t seen = 0;
        const Status s = ForEachRecord([&](const FoundRecord& r) {
            if (seen++ == recordsInFile_) return false;  // the buffered ones are counted below
            if (!IsFolderRecord(r)) ++files;
            return true;
        });
        if (s != kOk) {
            count = files;
            return s;
        }
        filesInFile_ = files;
    }
    count = *filesInFile_ + FilesAmong(pending_);
    return kOk;
}

Status ScanLogStore::ForEachRecord(const std::function<bool(const FoundRecord&)>& visit) {
    for (uint32_t first = 1; first <= recordsInFile_; first += kBufferRecords) {
        const uint32_t count = std::min<uint32_t>(kBufferRecords, recordsInFile_ - first + 1);
        if (const Status s = ReadPiece(first, count); s != kOk) return s;
        for (const FoundRecord& r : piece_) {
            if (!visit(r)) return kOk;
        }
    }
    for (const FoundRecord& r : pending_) {
        if (!visit(r)) return kOk;
    }
    return kOk;
}

Status ScanLogStore::Ancestors(const FoundRecord& record, std::vector<FoundRecord>& out) {
    if (relations_.empty()) return kOk;
    const uint64_t rootKey = relations_.begin()->first;
    std::unordered_set<uint32_t> seen{record.recordIndex};
    uint32_t current = record.recordIndex;
    while (true) {
        const auto parent = ParentOf(current);
        if (!parent || *parent == rootKey) return kOk;
        const uint32_t folderKey = static_cast<uint32_t>(*parent);
        FoundRecord folder = EmptyRecord();
        if (const auto entry = firstFolderEntry_.find(folderKey);
            entry != firstFolderEntry_.end()) {
            const FolderInfoEntry& info = folders_[entry->second];
            folder.isFolder = 1;
            folder.key = info.folderKey;
            folder.recordIndex = info.recordIndex;
            folder.SetName(std::string_view(info.name, strnlen(info.name, sizeof(info.name))));
        } else {
            const Status s = FindFolderRecord(folderKey, folder);
            if (s == kErrInvalidParameter) return kOk;
            if (s != kOk) return s;
        }
        const uint32_t folderIndex = folder.recordIndex;  // a copy: the record is packed
        if (folderIndex == current || !seen.insert(folderIndex).second) return kOk;
        out.push_back(folder);
        current = folderIndex;
    }
}

Status ScanLogStore::SearchByExtension(std::string_view extensions, std::vector<FoundRecord>& out) {
    if (const Status s = Flush(); s != kOk) return s;
    const std::string_view list = Utf8Prefix(extensions, kMaxExtensionListBytes);
    const uint64_t totalBytes = static_cast<uint64_t>(recordsInFile_) * kFoundRecordSize;
    std::array<char, sizeof(FoundRecord::name)> lowered;
    for (uint32_t first = 1; first <= recordsInFile_; first += kBufferRecords) {
        const uint32_t count = std::min<uint32_t>(kBufferRecords, recordsInFile_ - first + 1);
        if (const Status s = ReadPiece(first, count); s != kOk) return s;
        for (const FoundRecord& r : piece_) {
            if (IsFolderRecord(r)) continue;
            const std::string_view extension = LowerExtension(r.Name(), lowered);
            if (extension.empty()) continue;
            if (VerdictOf(r) == ContentVerdict::kNotItsType &&
                kPhotoExtensions.find(extension) != std::string_view::npos) {
                continue;
            }
            if (list.find(extension) != std::string_view::npos) out.push_back(r);
        }
        if (searchCallback_ != nullptr) {
            const uint64_t bytesRead = static_cast<uint64_t>(first - 1 + count) * kFoundRecordSize;
            const int percent = static_cast<int>(bytesRead * 100 / totalBytes);
            if (searchCallback_(searchUser_, percent, 0) != 0) break;
        }
    }
    SortListedRecords(out);
    return kOk;
}

void ScanLogStore::SetSearchCallback(SearchProgressCallback callback, void* user) {
    searchCallback_ = callback;
    searchUser_ = user;
}

}  // namespace keltra
