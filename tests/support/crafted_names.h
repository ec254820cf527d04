// A FAT volume whose long names were rewritten on disk into names no file system tool would
// write: "." and "..", a "/" and a "../" prefix, control characters, a name of 264 UTF-8 bytes,
// and two names that differ only in case. Every file is deleted (what a quick scan lists) and
// holds its own text, so that a recovered file tells which one it is.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace keltra::test {

struct CraftedFile {
    std::u16string placeholder;  // the name the file was copied in under
    std::u16string name;         // the name written over it on disk
    std::string content;
};

const std::vector<CraftedFile>& CraftedFiles();

// Makes the volume at `image` with mkfs.vfat and mtools; "" or what failed.
std::string MakeCraftedNamesImage(const std::string& image, const std::string& scratch);

// What is wrong with a recovery of every crafted file into `dest`, a folder inside `box`:
// anything written beside `dest`, a name that is no single safe component, a file missing or
// recovered twice, the long name cut inside a character or without its extension. Empty when
// all is well.
std::vector<std::string> CraftedRecoveryProblems(const std::filesystem::path& box,
                                                 const std::filesystem::path& dest);

}  // namespace keltra::test
