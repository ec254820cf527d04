// The volumes inside a disk image that starts with a partition table (a copy of a whole disk
// or memory card): read with the same table and file-system probing as the disks of the
// machine, so that an image is listed as its disk would be.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "storage/volume_entry.h"

namespace keltra {

// A table entry the image cannot hold, or a table the image cannot hold whole: the figures of
// one line told to the user, in the words of each language.
struct ImageTableProblem {
    enum class Kind {
        kCutShort,            // a GPT table of a longer disk, read from the image's start
        kCutShortAndDamaged,  // the same, but its table is damaged: no table is used
        kStartsPastEnd,       // left out
        kEndsPastEnd,         // cut to the image's end
        kOverlaps,            // overlaps `other`, which starts first; left out
    };
    Kind kind = Kind::kCutShort;
    uint64_t imageSectors = 0;
    uint64_t diskSectors = 0;  // cut short: the sectors of the disk the table names
    // The entry told, its first and last sectors as the table gives them.
    int partition = 0;
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t keptSectors = 0;  // ends past the end: the sectors of it the image holds
    // Overlaps: the partition kept, as far as the image holds it.
    int otherPartition = 0;
    uint64_t otherFirst = 0;
    uint64_t otherLast = 0;

    // The line in English, as the command line tells it.
    std::string Text() const;
};

struct ImageVolumes {
    // libblkid's name of the table: "dos" (MBR, with its logical partitions) or "gpt"; empty
    // when the image holds no partition table (a file system image: the image is its volume).
    std::string tableType;
    uint64_t totalSectors = 0;  // the image's 512-byte sectors
    // The table's volumes and the stretches no volume covers (kind 0), start and length in
    // the image's sectors, ordered by start and numbered 1, 2, ... in `letter`. A volume keeps
    // its table number in `partitionNumber` (logical MBR partitions from 5); `volumePath` is
    // the image's path; `diskNumber` is -1. The whole image is the image itself.
    std::vector<VolumeEntry> entries;
    // One line for each table entry that is left out or cut short: it starts past the end of
    // the image, ends past it (cut to the image's end), or overlaps a volume that starts before
    // it (left out). An image shorter than the disk its GPT table names gets one line first:
    // its table is read from the image's start, or, when that table is damaged, the image has
    // no table.
    std::vector<ImageTableProblem> problems;
};

// Reads the partition table of the image file. 0, or the error of opening or sizing the file;
// an image without a table is no error (an empty `tableType`).
Status ListImageVolumes(const std::string& imagePath, ImageVolumes& out);

// The name a volume of an image goes by: "Partition 1 (NTFS)", or "Partition 3" when its file
// system is not known. It is also the first folder of the paths found on that volume when a
// whole image is scanned, so that the volumes' files stay apart.
std::string ImageVolumeName(const VolumeEntry& volume);

}  // namespace keltra
