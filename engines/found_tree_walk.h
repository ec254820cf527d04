// The walk over everything an engine found: each folder's files, then each of its folders with
// everything under it, from the root down, with the folder path of every item. The command line
// and the desktop program list found files through it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engines/found_files.h"
#include "engines/found_record.h"
#include "platform/status.h"

namespace keltra {

// One item as the walk hands it over.
struct WalkedItem {
    const FoundRecord& record;
    const std::string& folderPath;  // "a/b/" (the root prefix first), empty at the root
    int depth;                      // folders: the depth their children are listed with
};

// Walks the engine's folder tree depth-first (pre-order: a folder, its files, then its
// folders), holding only the folder being listed and the folders still to enter. `rootPath`
// goes before every folder path ("Partition 2/" for a volume of an image, or empty). A folder met
// a second time on one branch (a loop in a corrupt volume) is not entered again. A listing that
// fails is told to `onError` with the folder's path ("/" for the root) and ends that branch only.
// `visit` answers false to end the walk; the answer is then false.
bool WalkFoundTree(FoundFiles& engine, const std::string& rootPath,
                   const std::function<bool(const WalkedItem&)>& visit,
                   const std::function<void(const std::string& path, Status status)>& onError);

}  // namespace keltra
