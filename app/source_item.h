// A source of the main window's source list: a partition of a disk or an image file, with the
// engine of its last scan. The scan worker replaces the engine; everything else belongs to the
// main window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engines/file_recovery_parse.h"
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
    std::optional<VolumeEntry> partition;  // none for an image
    std::unique_ptr<IFileRecoveryParse> engine;
    std::string imagePath;  // empty for a partition
    uint16_t imageTag = 0;  // the tag given to OpenImage

    bool IsPartition() const { return imagePath.empty() && partition.has_value(); }
    // The tag the engine stamps on every record of this source.
    uint16_t SourceTag() const { return IsPartition() ? partition->letter : imageTag; }
};

// Creates and opens the engine for a scan of `source`; null when none fits.
using EngineMaker =
    std::function<std::unique_ptr<IFileRecoveryParse>(const SourceItem& source, bool deep)>;

// The engine factory's choice for the source.
std::unique_ptr<IFileRecoveryParse> MakeSourceEngine(const SourceItem& source, bool deep);

}  // namespace keltra
