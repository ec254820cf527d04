// The SOURCE argument of the commands: an image file, a part of one ("IMAGE@N" for partition
// N of its table, "IMAGE@START:COUNT" for 512-byte sectors), a whole-disk or partition device
// node, or "disk:N[:START:COUNT]".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "storage/source_ref.h"

namespace keltra::cli {

inline constexpr char kSourceForms[] =
    "image file, IMAGE@N (partition N of an image), IMAGE@START:COUNT (sectors of an image), "
    "device node, or disk:N[:START:COUNT]";

// How images of whole disks are scanned, for the commands' help.
inline constexpr char kImageTablesHelp[] =
    "An image with a partition table (MBR or GPT) is scanned partition by partition, the\n"
    "files of each under a first folder naming it (\"Partition 1 (NTFS)/...\"); IMAGE@N\n"
    "scans partition N only, IMAGE@START:COUNT the 512-byte sectors given ('keltra probe\n"
    "IMAGE' lists them). Table entries past the image's end or overlapping are told.\n";

struct SourceArgument {
    bool isImage = false;
    std::string imagePath;  // images
    int diskNumber = -1;    // disks and partitions
    uint64_t startSector = 0;
    uint64_t sectorCount = 0;  // 0: the whole disk or image
    std::string text;          // as the user wrote it
    // A volume of an image's partition table: its number and its name ("Partition 1 (NTFS)").
    int partitionNumber = 0;
    std::string volumeName;
    // One of the volumes a whole image was taken apart into: the paths found on it start with
    // its name, and a volume no engine fits is passed over instead of ending the scan.
    bool inWholeImage = false;

    bool IsWholeImage() const { return isImage && sectorCount == 0; }
    // What the engines open, with `tag` for the records found.
    SourceRef Ref(uint16_t tag) const {
        if (IsWholeImage()) return SourceRef::Image(imagePath, tag);
        if (isImage) return SourceRef::ImageVolume(imagePath, startSector, sectorCount, tag);
        return SourceRef::Partition(diskNumber, startSector, sectorCount, tag);
    }
};

// Resolves the argument. On failure `error` holds one line for the user.
bool ParseSourceArgument(const std::string& text, SourceArgument& out, std::string& error);

// A whole image that starts with a partition table becomes its volumes, in the order of the
// table's places (stretches no volume covers are left out); each table entry the image cannot
// hold is told as one line in `notes`. Anything else, and an image whose table holds no usable
// volume, stays as it is.
std::vector<SourceArgument> ExpandImageVolumes(const SourceArgument& source,
                                               std::vector<std::string>& notes);

}  // namespace keltra::cli
