// A source of the main window's source list: a partition of a disk, an image file, or a volume
// inside an image that holds a partition table, with the engine of its last scan. The scan
// worker replaces the engine; everything else belongs to the main window.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engines/scan_engine.h"
#include "storage/source_ref.h"
#include "storage/volume_entry.h"

namespace keltra {

// Image sources are tagged from here on, so that their records never share a source tag with
// a partition's (partitions are tagged by their running number, 1, 2, ...).
inline constexpr uint16_t kFirstImageTag = 0x8000;

// A drive-letter field that holds a letter (else it is a running number).
inline bool IsDriveLetter(uint16_t letter) {
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

struct SourceItem {
    // A partition of a disk; for a volume inside an image, its entry of the image's table
    // (start and length in the image's 512-byte sectors). None for a whole image.
    std::optional<VolumeEntry> partition;
    std::unique_ptr<ScanEngine> engine;
    std::string imagePath;  // empty for a partition of a disk
    uint16_t imageTag = 0;  // the tag given to the engine of an image or of a volume inside one
    int leases = 0;         // SourceLeases holding the engine's source open

    bool IsPartition() const { return imagePath.empty() && partition.has_value(); }
    bool IsImageVolume() const { return !imagePath.empty() && partition.has_value(); }
    // The tag the engine stamps on every record of this source.
    uint16_t SourceTag() const { return IsPartition() ? partition->letter : imageTag; }
    // What the engines open for this source.
    SourceRef Ref() const;
};

// The name of a volume inside an image, from the current language: "Partition 3", or the
// unallocated-space text for a stretch no volume covers.
QString ImageVolumeText(const VolumeEntry& volume);

// How the progress windows name an image source: its file name, followed for a volume inside
// it by the volume's name ("card.img, Partition 1").
QString ImageSourceText(const SourceItem& source);

// How the results name a source: "E:", "Volume 3", or the image's text as above.
QString SourceName(const SourceItem& source);

// Creates and opens the engine for a scan of `source`; null when none fits.
using EngineMaker =
    std::function<std::unique_ptr<ScanEngine>(const SourceItem& source, bool deep)>;

// The engine factory's choice for the source.
std::unique_ptr<ScanEngine> MakeSourceEngine(const SourceItem& source, bool deep);

}  // namespace keltra
