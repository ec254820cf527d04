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

// Whether starting the program as root would let it read a disk it cannot: not when it runs as
// root already, nor when no disk was refused for want of permission (a reader without a card,
// a device that fails).
bool RootWouldHelp(const std::vector<DiskAccessProblem>& problems, bool runningAsRoot);

}  // namespace keltra
