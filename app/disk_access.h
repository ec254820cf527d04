// Which of the machine's disks this process cannot read, and why (raw disks need root).
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace keltra {

struct DiskAccessProblem {
    std::string devicePath;  // "/dev/sda"
    Status status;           // why it cannot be opened for reading
};

// Every whole disk that cannot be opened for reading. `sysBlock` is for tests.
std::vector<DiskAccessProblem> UnreadableDisks(const std::string& sysBlock = "/sys/block");

}  // namespace keltra
