// Every record an engine lists, walked from the root down through its folders.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "engines/found_files.h"

namespace keltra::test {

struct Listed {
    std::string path;  // folders from the root, "/" after each, then the name
    FoundRecord record;
};

// Calls `visit` with every record reachable from the root and its path (at most 100,000
// records and 64 levels).
void WalkTree(FoundFiles& engine,
              const std::function<void(const std::string& path, const FoundRecord&)>& visit);
// The engine's whole tree by path; of records sharing a path, the last one listed.
std::map<std::string, Listed> ListTree(FoundFiles& engine);

}  // namespace keltra::test
