// Every record an engine lists, walked from the root down through its folders.
#pragma once

#include <map>
#include <string>

#include "engines/file_recovery_parse.h"

namespace keltra::test {

struct Listed {
    std::string path;  // folders from the root, "/" after each, then the name
    FoundRecord record;
};

// The engine's whole tree by path (at most 100,000 records and 64 levels).
std::map<std::string, Listed> ListTree(IFileRecoveryParse& engine);

}  // namespace keltra::test
