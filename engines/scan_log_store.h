// The per-scan record store. Every engine writes what it finds as FoundRecords into one, and
// answers listing, path, search, recovery and preview requests by reading records back.
//
// A store is three files in a scan folder, all named after the log name:
// - the main file (the log name): 346-byte records back to back in the order written; record i
//   (1-based) lies at byte (i - 1) * 346;
// - "<log>_Relation": for each parent key in ascending order " | <key> - [<i>,<i>,...]", the
//   child record indices in the order linked, no line breaks. Parent 5 with children 7 and 9
//   and parent 4294967308 with child 8 read " | 5 - [7,9] | 4294967308 - [8]";
// - "<log>_DirInfo": 268-byte entries: uint32 folder key, uint32 record index, char[260] name.
//
// A parent key is the parent folder's key in the low 32 bits and that folder's depth in the high
// 32 bits (the root has depth 0, a folder under the root depth 1, ...); ParentKey() builds one.
// Records are appended through a buffer of 200 records; the relation map and the folder list
// are kept in memory and rewritten whole by Flush. Not thread-safe: one worker at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engines/child_list.h"
#include "engines/scan_engine.h"
#include "engines/found_record.h"
#include "platform/file_handle.h"
#include "platform/status.h"

namespace keltra {

// One "_DirInfo" entry: 268 bytes on disk.
#pragma pack(push, 1)
struct FolderInfoEntry {
    uint32_t folderKey;
    uint32_t recordIndex;
    char name[260];  // UTF-8, zero-terminated
};
#pragma pack(pop)
static_assert(sizeof(FolderInfoEntry) == 268);
static_assert(offsetof(FolderInfoEntry, recordIndex) == 4);
static_assert(offsetof(FolderInfoEntry, name) == 8);

// The 64-bit parent key of a folder's children.
constexpr uint64_t ParentKey(uint32_t folderKey, uint32_t folderDepth) {
    return (static_cast<uint64_t>(folderDepth) << 32) | folderKey;
}

// Files before folders; then names compared case-insensitively, ascending. Stable.
void SortListedRecords(std::vector<FoundRecord>& records);

class ScanLogStore {
  public:
    static constexpr size_t kBufferRecords = 200;
    static constexpr size_t kBufferBytes = kBufferRecords * kFoundRecordSize;  // 69,200
    static_assert(kBufferBytes == 69200);

    ScanLogStore() = default;
    // Flushes, then closes the three files; they stay on disk.
    ~ScanLogStore();
    ScanLogStore(const ScanLogStore&) = delete;
    ScanLogStore& operator=(const ScanLogStore&) = delete;

    // Creates `folder` (all levels) when missing, opens or creates the three files of
    // `logName` in it, and reads back an existing log: the record count from the main file's
    // size (a torn last record is cut off), the relation map and the folder list. Records
    // appended afterwards continue the indices. Returns the system error of a file that cannot
    // be created, opened, sized or read. Call once per store.
    Status OpenLog(const std::string& folder, const std::string& logName);

    // The next record: a zero-filled slot in the write buffer whose recordIndex is already set
    // (the new record count). The reference stays valid until the next NewRecord, Flush or
    // destruction; fill it at once. When the buffer is full it is written to the main file
    // first; if that write fails the records stay buffered for the next Flush, which reports
    // the error.
    FoundRecord& NewRecord();

    // Files the record `childIndex` under `parentKey`. With a name (folders), also adds a folder
    // entry (childKey, childIndex, name cut to 259 bytes at a character boundary).
    void Link(uint64_t parentKey, uint32_t childIndex, uint32_t childKey,
              std::optional<std::string_view> folderName = std::nullopt);

    // Writes the buffered records, then rewrites the relation and folder files whole (only
    // when they changed since the last Flush). A record write error is returned at once;
    // otherwise the first error of the two rewrites.
    Status Flush();

    // Appends the children of `parentKey` (0 = the smallest key in the map) in sorted order.
    // A photo whose content does not match its type is left out (folder records too). A child that
    // cannot be read ends the listing with the error (87 for an index past the last record);
    // the records already appended stay. Records still in the buffer are read from it.
    Status ListChildren(uint64_t parentKey, std::vector<FoundRecord>& out);

    // Files (non-folder records) in the whole sub-tree of `parentKey` (0 = the smallest key),
    // breadth-first; a child folder's own children are under (its key, depth + 1). Every
    // parent key is visited once, so a corrupt log cannot make it loop.
    Status CountFiles(uint64_t parentKey, uint32_t& count);

    // The first folder record with this key, reading the whole log in 200-record pieces.
    // 87 when there is none.
    Status FindFolderRecord(uint32_t folderKey, FoundRecord& out);
    // Hands every record to `visit` in index order (the main file read in 200-record pieces,
    // then the buffered ones) until it answers false. A read error is returned.
    Status ForEachRecord(const std::function<bool(const FoundRecord&)>& visit);

    // The record's folders from the nearest to the outermost. A record directly under the root
    // (filed under the smallest key) has none; the walk stops where a parent cannot be found,
    // and where a folder would repeat.
    Status Ancestors(const FoundRecord& record, std::vector<FoundRecord>& out);

    // Appends every file record whose extension occurs in `extensions` ("*.jpg|*.png|", cut to
    // 4,095 bytes; case-insensitive substring test), leaving out photos whose content does not
    // match their type (content_verdict.h), sorted. Flushes first and reads the main file in
    // 200-record pieces; after each piece the search callback gets the percent read, and a non-zero
    // answer ends the reading (the records found so far are kept and kOk returned). A read error is
    // returned.
    Status SearchByExtension(std::string_view extensions, std::vector<FoundRecord>& out);

    void SetSearchCallback(SearchProgressCallback callback, void* user);

    // Records written so far, buffered ones included; the index of the last record.
    uint32_t RecordCount() const { return recordCount_; }
    // Files (non-folder records) written so far, buffered ones included. The main file of a
    // reopened log is counted once, the first time, reading it in 200-record pieces; from then
    // on the count follows what is written. A read error is returned, with the files counted
    // before it.
    Status FileCount(uint32_t& count);
    bool IsOpen() const { return main_.IsOpen(); }
    const std::string& LogName() const { return logName_; }
    const std::string& MainPath() const { return mainPath_; }
    const std::string& RelationPath() const { return relationPath_; }
    const std::string& FolderInfoPath() const { return folderInfoPath_; }

  private:
    // Records read back for listing: a few pieces of the main file, the least recently used
    // replaced, so that listing folder after folder reads the file in large pieces.
    static constexpr size_t kListPieceRecords = 3030;  // about 1 MiB
    static constexpr size_t kListPieces = 4;
    struct ListPiece {
        uint32_t first = 0;  // index of records[0]
        uint64_t lastUse = 0;
        std::vector<FoundRecord> records;
    };

    // Records read ahead for one listing: neighbours closer than this are read together.
    static constexpr uint32_t kAheadGapRecords = 32;

    Status WritePending();
    // Reads the children's records that lie in the main file into aheadIndices_ (ascending)
    // and aheadRecords_, in index order, in spans of at most kListPieceRecords.
    void ReadAhead(const ChildList& children);
    Status ReadRecord(uint32_t index, FoundRecord& out);
    // Reads records [first, first + count) of the main file into `into`.
    Status ReadRecords(uint32_t first, uint32_t count, std::vector<FoundRecord>& into);
    // The same into the scratch piece.
    Status ReadPiece(uint32_t first, uint32_t count);
    void ParseRelationText(std::string_view text);
    Status RewriteRelations();
    const ChildList* ChildrenOf(uint64_t parentKey) const;
    // The smallest parent key of a child index, from the relation map.
    std::optional<uint64_t> ParentOf(uint32_t childIndex);

    std::string logName_;
    std::string mainPath_;
    std::string relationPath_;
    std::string folderInfoPath_;
    FileHandle main_;
    FileHandle relation_;
    FileHandle folderInfo_;

    uint32_t recordCount_ = 0;    // records in the main file and the buffer
    uint32_t recordsInFile_ = 0;  // records already written to the main file
    // The files among them; unknown until counted when a log was reopened.
    std::optional<uint32_t> filesInFile_;
    std::vector<FoundRecord> pending_;

    std::map<uint64_t, ChildList> relations_;
    std::vector<FolderInfoEntry> folders_;
    // Lookups kept beside them: the first folder entry of each folder key; and, made from the
    // relation map when a path is first asked for (a scan and its listing never need it), the
    // smallest parent key of each child index: parentKeys_[parentSlot_[index] - 1], 0 = none
    // (indices past the record count, only in a damaged log, in strayParents_).
    std::unordered_map<uint32_t, size_t> firstFolderEntry_;
    std::vector<uint32_t> parentSlot_;
    std::vector<uint64_t> parentKeys_;
    std::unordered_map<uint32_t, uint64_t> strayParents_;
    bool parentsStale_ = true;
    bool relationsDirty_ = false;
    bool foldersDirty_ = false;

    // Scratch piece of up to 200 records for reading the whole main file.
    std::vector<FoundRecord> piece_;
    std::vector<ListPiece> listPieces_;
    std::vector<uint32_t> aheadIndices_;
    std::vector<FoundRecord> aheadRecords_;
    uint64_t listClock_ = 0;

    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUser_ = nullptr;
};

}  // namespace keltra
