// The deep NTFS search's record handler on arbitrary bytes: the input becomes a small in-memory
// source whose first sixteen 1 KiB slots carry the "FILE" signature and the update sequence
// number at their first sector's end (as the deep scan's test demands); every slot is handed to
// the handler at its own sector, then the folders are written, listed and their files' data
// located and read, as the deep scan and the windows do afterwards; last the log is reopened as
// a continued scan reopens it.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engines/ntfs/deep_ntfs_search.h"
#include "fuzz/memory_source.h"
#include "fuzz/scratch_folder.h"
#include "scanlog/scan_history.h"
#include "scanlog/scan_log_folder.h"

namespace {

using namespace keltra;

constexpr size_t kRecords = 16;
constexpr size_t kVolumeBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(kVolumeBytes);
    std::memcpy(bytes.data(), data, std::min(size, bytes.size()));
    for (size_t n = 0; n < kRecords; ++n) {
        std::memcpy(bytes.data() + n * 1024, "FILE", 4);
        std::memcpy(bytes.data() + n * 1024 + 510, bytes.data() + n * 1024 + 48, 2);
    }
    std::vector<std::byte> volume;
    SectorSource source = fuzz::MemorySource(bytes.data(), bytes.size(), 512, volume);

    static const std::string folder = fuzz::MakeScratchFolder("keltra-ntfs-deep-fuzz");
    {
        DeepNtfsSearch engine;
        const uint64_t sectors = source.totalSectors;
        if (engine.OpenSource(std::move(source), kImageSectorSize, 0, sectors, 1) != kOk) return 0;
        engine.SetLogFolder(folder);
        if (engine.OpenLog(std::nullopt) != kOk) return 0;
        for (size_t n = 0; n < kRecords; ++n) {
            engine.HandleFileRecord(std::span(volume).subspan(n * 1024, 1024), n * 2);
        }
        engine.Finish();
        std::vector<FoundRecord> listed;
        engine.ListFolder(nullptr, 0, listed);
        std::vector<std::byte> buffer(4096);
        for (const FoundRecord& r : listed) {
            if (r.isFolder != 0) continue;
            engine.FirstDataSector(r);
            std::string temp;
            uint32_t got = static_cast<uint32_t>(buffer.size());
            if (PreviewFileName(r.Name()).empty()) {
                engine.ReadRecordData(r, temp, buffer, got, nullptr, nullptr);
                if (got > buffer.size()) __builtin_trap();
            }
        }
    }
    // The log reopened as a continued scan reopens it: the volumes and folder tags are taken
    // back from its records.
    if (std::string logName; ScanHistory::FindLogFile(kDeepNtfsLogPrefix, folder, logName) == kOk) {
        DeepNtfsSearch again;
        SectorSource reread = fuzz::ViewSource(volume, 512);
        const uint64_t sectors = reread.totalSectors;
        if (again.OpenSource(std::move(reread), kImageSectorSize, 0, sectors, 1) == kOk) {
            again.SetLogFolder(folder);
            std::vector<FoundRecord> listed;
            if (again.OpenLog(logName) == kOk) again.ListFolder(nullptr, 0, listed);
        }
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
    return 0;
}
