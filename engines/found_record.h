// The found-file record: 346 bytes, little-endian, packed; the same bytes in memory, in a
// scan's main log file and in every list handed to the windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace keltra {

enum class RecordOrigin : uint32_t {
    QuickNtfs = 0,
    QuickFat = 1,
    DeepNtfs = 2,
    DeepFat = 3,
    Carving = 4,
    QuickExFat = 5,
    DeepExFat = 6,
};

#pragma pack(push, 1)
struct FoundRecord {
    uint16_t sourceTag;       // drive letter, running number or image tag of the source
    uint32_t origin;          // RecordOrigin
    uint32_t isFolder;        // 1 = folder record
    uint32_t folderDeleted;   // FAT engines: folder entry deleted or inside a deleted folder
    uint32_t contentIntact;   // 1 = first data passed the content check (or no check applies)
    uint32_t recordIndex;     // 1-based position in the store's main file
    uint32_t key;             // identity of the file-system object; children filed under it
    int32_t clusterBytes;     // bytes per cluster, or -1
    uint64_t created;         // FILETIME, 0 = unknown
    uint64_t accessed;        // FILETIME
    uint64_t modified;        // FILETIME
    uint64_t size;            // bytes
    uint64_t dataAreaStart;   // FAT engines: first data sector from the partition start
    uint64_t location;        // where the engine finds the data again
    uint64_t partitionStart;  // start sector of the partition on the disk (0 for images)
    char name[260];           // UTF-8, zero-terminated

    // The name up to its terminating zero (or all 260 bytes when a corrupt record has none).
    std::string_view Name() const { return {name, strnlen(name, sizeof(name))}; }
    // Sets the name, cut at a character boundary to fit with its terminator.
    void SetName(std::string_view text);
};
#pragma pack(pop)

inline constexpr size_t kFoundRecordSize = 346;
static_assert(sizeof(FoundRecord) == kFoundRecordSize);
static_assert(offsetof(FoundRecord, sourceTag) == 0);
static_assert(offsetof(FoundRecord, origin) == 2);
static_assert(offsetof(FoundRecord, isFolder) == 6);
static_assert(offsetof(FoundRecord, folderDeleted) == 10);
static_assert(offsetof(FoundRecord, contentIntact) == 14);
static_assert(offsetof(FoundRecord, recordIndex) == 18);
static_assert(offsetof(FoundRecord, key) == 22);
static_assert(offsetof(FoundRecord, clusterBytes) == 26);
static_assert(offsetof(FoundRecord, created) == 30);
static_assert(offsetof(FoundRecord, accessed) == 38);
static_assert(offsetof(FoundRecord, modified) == 46);
static_assert(offsetof(FoundRecord, size) == 54);
static_assert(offsetof(FoundRecord, dataAreaStart) == 62);
static_assert(offsetof(FoundRecord, location) == 70);
static_assert(offsetof(FoundRecord, partitionStart) == 78);
static_assert(offsetof(FoundRecord, name) == 86);

// A zero-filled record, as every record starts.
inline FoundRecord EmptyRecord() {
    FoundRecord r;
    std::memset(&r, 0, sizeof(r));
    return r;
}

}  // namespace keltra
