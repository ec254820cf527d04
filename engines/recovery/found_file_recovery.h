// The recovery of found files into the folder the user chose, the same for the desktop program
// and the command line: where each file goes (sorted by type, or in the folders it was found
// in), its name (a carved picture's by the date it was taken, when asked), the found folders
// made without following links, and the file's modification time given back once it is
// written.
#pragma once

#include <string>
#include <string_view>

#include "engines/found_files.h"
#include "engines/found_record.h"
#include "engines/recovery_target.h"
#include "platform/status.h"

namespace keltra {

// A found file or folder and the folder it was found in ("a/b/", empty at the root).
struct FoundFileItem {
    FoundRecord record;
    std::string folderPath;
};

struct RecoveryChoice {
    RecoveryLayout layout = RecoveryLayout::ByCategory;
    bool nameByDate = false;  // carved pictures named by their EXIF date taken
};

class FoundFileRecovery {
  public:
    // `folder`: the destination, without a trailing separator.
    FoundFileRecovery(std::string folder, RecoveryChoice choice);

    const std::string& Folder() const { return folder_; }
    const RecoveryChoice& Choice() const { return choice_; }
    // What the engines' RecoverRecord takes to tell the destination from the found folders.
    int RootSeparators() const { return rootSeparators_; }

    // The target of a found file or folder found in `folderPath` ("a/b/", empty at the root).
    std::string TargetOf(FoundFiles& engine, const FoundRecord& record,
                         std::string_view folderPath) const;
    // Makes a found folder's target (only the KeepPaths layout keeps folders; empty ones too).
    Status MakeFolder(const std::string& target) const;
    // Gives the file its engine wrote at `written` the record's modification time, when the
    // scan knows one (a carved file has none).
    Status KeepModifiedTime(const std::string& written, const FoundRecord& record) const;

  private:
    std::string folder_;
    RecoveryChoice choice_;
    int rootSeparators_;
};

}  // namespace keltra
