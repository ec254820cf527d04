#include "app/disk_access.h"

#include <algorithm>

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

bool RootWouldHelp(const std::vector<DiskAccessProblem>& problems, bool runningAsRoot) {
    if (runningAsRoot) return false;
    return std::any_of(problems.begin(), problems.end(), [](const DiskAccessProblem& problem) {
        return problem.status == kErrAccessDenied;
    });
}

}  // namespace keltra
