// Where a recovered file goes: the category sub-folder of its name, a name that does not
// collide with what is already there, and the target path for the two layouts. The recovery
// window and the command line both build their targets here.
#pragma once

#include <string>
#include <string_view>

#include "engines/found_record.h"

namespace keltra {

enum class RecoveryLayout {
    ByCategory,  // folder/<category>/<name>
    KeepPaths,   // folder/<found folder path>/<name>
};

// The category sub-folder of a name: the text after its last "." (empty without one),
// lower-cased, searched as a plain substring of the photo, audio, video, document and archive
// lists in that order; "others" when none holds it. An empty extension occurs in every list
// and so gives "photo".
std::string_view GetFileCategory(std::string_view name);

// The path unchanged when nothing exists there; otherwise the first of base(1).ext,
// base(2).ext, ... in the same folder that does not exist. A dangling link counts as existing.
std::string MakeUniquePath(const std::string& path);

// Separators ("/" or "\") in the destination folder, its last character not counted: what
// RecoverRecord subtracts to find a folder's depth below the destination.
int RootSeparatorCount(std::string_view folder);

// The target of a found file or folder under `folder` (without a trailing "/"). `folderPath`
// is the record's folder path as GetRecordPath gives it ("a/b/", empty at the root); only the
// KeepPaths layout uses it. Every found name becomes a path component through
// SafePathComponent, so the target always lies inside `folder`. The result has passed through
// MakeUniquePath, except a folder's in the KeepPaths layout: there the files of folders of the
// same name are merged into one.
std::string RecoveryTargetPath(std::string_view folder, const FoundRecord& record,
                               std::string_view folderPath, RecoveryLayout layout);

}  // namespace keltra
