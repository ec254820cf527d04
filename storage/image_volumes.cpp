#include "storage/image_volumes.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/file_handle.h"
#include "storage/gpt_table.h"
#include "storage/partition_probe.h"
#include "storage/sector_source.h"
#include "storage/volume_enumerator.h"

namespace keltra {

namespace {

// An image has no geometry: gaps are looked for as on a disk whose geometry is unknown.
constexpr uint64_t kImageFirstTrack = 63;
constexpr uint64_t kImageCylinder = 16065;

struct Candidate {
    PartitionSlot slot;
    uint64_t start = 0;   // sectors
    uint64_t length = 0;  // sectors, cut to the image's end
    uint64_t End() const { return start + length; }
};

std::string Sectors(uint64_t first, uint64_t last) {
    return fmt::format("sectors {} to {}", first, last);
}

}  // namespace

std::string ImageTableProblem::Text() const {
    const std::string cut = fmt::format(
        "its GPT partition table is of a disk of {} sectors, but the image holds only {} (it was "
        "cut short)",
        diskSectors, imageSectors);
    const std::string what = fmt::format("partition {} ({})", partition, Sectors(first, last));
    switch (kind) {
        case Kind::kCutShort:
            return cut + "; the partitions are read from the table at its start";
        case Kind::kCutShortAndDamaged:
            return cut +
                   ", and that table is damaged: it cannot be used; IMAGE@START:COUNT scans "
                   "a part of it";
        case Kind::kStartsPastEnd:
            return fmt::format("{} starts past the end of the image ({} sectors); left out", what,
                               imageSectors);
        case Kind::kEndsPastEnd:
            return fmt::format(
                "{} ends past the end of the image ({} sectors); only its first {} sectors are "
                "there",
                what, imageSectors, keptSectors);
        case Kind::kOverlaps:
            return fmt::format("{} overlaps partition {} ({}); left out", what, otherPartition,
                               Sectors(otherFirst, otherLast));
    }
    return what;
}

std::string ImageVolumeName(const VolumeEntry& volume) {
    std::string name = fmt::format("Partition {}", volume.partitionNumber);
    if (!volume.fileSystemName.empty()) name += " (" + volume.fileSystemName + ")";
    return name;
}

Status ListImageVolumes(const std::string& imagePath, ImageVolumes& out) {
    out = {};
    FileHandle image;
    if (const Status s = FileHandle::OpenForReading(imagePath, image); s != kOk) return s;
    uint64_t bytes = 0;
    if (const Status s = image.Size(bytes); s != kOk) return s;
    out.totalSectors = bytes / kImageSectorSize;
    std::string tableType;
    auto table = ReadPartitionTable(image, &tableType);
    if (!table) {
        // An image cut short (a disk that could not be copied to its end) keeps the GPT table
        // at its start, but libblkid refuses a table whose disk is longer than the image: that
        // table is read here, when its checksums hold.
        const auto gpt = ReadGptHeader(image);
        if (!gpt || gpt->header.diskSectors <= out.totalSectors) return kOk;
        ImageTableProblem told{.kind = ImageTableProblem::Kind::kCutShort,
                               .imageSectors = out.totalSectors,
                               .diskSectors = gpt->header.diskSectors};
        if (gpt->checksumHolds) table = ReadGptEntries(image, gpt->header);
        if (!table) {
            told.kind = ImageTableProblem::Kind::kCutShortAndDamaged;
            out.problems.push_back(told);
            return kOk;
        }
        tableType = "gpt";
        out.problems.push_back(told);
    }
    out.tableType = tableType;

    // Entries the image cannot hold are told and left out; one cut by the image's end keeps
    // what is there (an image of a disk that could not be read to its end).
    std::vector<Candidate> candidates;
    for (const PartitionSlot& slot : *table) {
        Candidate c{slot, slot.startBytes / kImageSectorSize, slot.lengthBytes / kImageSectorSize};
        if (c.length == 0) continue;
        ImageTableProblem told{.imageSectors = out.totalSectors,
                               .partition = slot.number,
                               .first = c.start,
                               .last = c.End() - 1};
        if (c.start >= out.totalSectors) {
            told.kind = ImageTableProblem::Kind::kStartsPastEnd;
            out.problems.push_back(told);
            continue;
        }
        if (c.length > out.totalSectors - c.start) {
            c.length = out.totalSectors - c.start;
            told.kind = ImageTableProblem::Kind::kEndsPastEnd;
            told.keptSectors = c.length;
            out.problems.push_back(told);
        }
        candidates.push_back(std::move(c));
    }
    // Of volumes that overlap, the one that starts first is kept (ties: the first in the table).
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.start < b.start; });
    std::vector<VolumeEntry> entries;
    const Candidate* reach = nullptr;  // the kept volume that ends last so far
    for (const Candidate& c : candidates) {
        if (reach != nullptr && c.start < reach->End()) {
            out.problems.push_back({.kind = ImageTableProblem::Kind::kOverlaps,
                                    .imageSectors = out.totalSectors,
                                    .partition = c.slot.number,
                                    .first = c.start,
                                    .last = c.End() - 1,
                                    .otherPartition = reach->slot.number,
                                    .otherFirst = reach->start,
                                    .otherLast = reach->End() - 1});
            continue;
        }
        if (reach == nullptr || c.End() > reach->End()) reach = &c;
        VolumeEntry entry = DescribeVolume(image, c.slot.number, c.start * kImageSectorSize,
                                           c.length * kImageSectorSize, KindOfSlot(c.slot));
        entry.totalBytes = entry.length;
        entry.usedBytes = entry.length;
        entries.push_back(std::move(entry));
    }
    DiskLayout layout;
    layout.known = true;
    layout.bytesPerSector = kImageSectorSize;
    layout.sectorsPerTrack = kImageFirstTrack;
    layout.sectorsPerCylinder = kImageCylinder;
    layout.diskSectors = out.totalSectors;
    uint32_t bytesPerSector = kImageSectorSize;
    CompleteDiskEntries(-1, layout, bytesPerSector, entries);
    uint16_t number = 0;
    for (VolumeEntry& entry : entries) {
        entry.letter = ++number;
        entry.volumePath = imagePath;
    }
    out.entries = std::move(entries);
    return kOk;
}

}  // namespace keltra
