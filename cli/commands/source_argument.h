// The SOURCE argument of the commands: an image file, a whole-disk or partition device node,
// or "disk:N[:START:COUNT]".
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace keltra::cli {

struct SourceArgument {
    bool isImage = false;
    std::string imagePath;  // images
    int diskNumber = -1;    // disks and partitions
    uint64_t startSector = 0;
    uint64_t sectorCount = 0;  // 0 with a disk: the whole disk
    std::string text;          // as the user wrote it
};

// Resolves the argument. On failure `error` holds one line for the user.
bool ParseSourceArgument(const std::string& text, SourceArgument& out, std::string& error);

}  // namespace keltra::cli
