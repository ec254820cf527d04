#include "app/disk_access.h"

#include "platform/disk_names.h"
#include "platform/file_handle.h"

namespace keltra {

std::vector<DiskAccessProblem> UnreadableDisks(const std::string& sysBlock) {
    std::vector<DiskAccessProblem> problems;
    for (const auto& disk : ListWholeDisks(sysBlock)) {
        FileHandle handle;
        if (Status s = FileHandle::OpenForReading(disk.devicePath, handle); s != kOk) {
            problems.push_back({disk.devicePath, s});
        }
    }
    return problems;
}

}  // namespace keltra
