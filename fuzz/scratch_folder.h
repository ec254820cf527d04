// A private scratch folder for a fuzz target's files, made once per process, in memory when
// the machine has /dev/shm so that the files written for every input cost no disk traffic.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace keltra::fuzz {

inline std::string MakeScratchFolder(const std::string& prefix) {
    const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

}  // namespace keltra::fuzz
