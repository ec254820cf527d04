// Where scan logs live, and the names engines give their logs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace keltra {

// The ScanLog folder: the application-data folder + "/KeltraPhotoRecovery/ScanLog" (no
// trailing "/"). It holds `config`, the numbered scan folders and the preview's temporary
// files "tmp.jpg" and "tmp.avi".
std::string ScanLogFolder();

// Log-name prefixes, one per engine kind.
inline constexpr std::string_view kQuickLogPrefix = "Fast_";
// The quick exFAT engine's logs; the name holds kQuickLogPrefix, so that a search for the quick
// scan's log finds them too.
inline constexpr std::string_view kQuickExFatLogPrefix = "Fast_ExFat_";
inline constexpr std::string_view kDeepNtfsLogPrefix = "Pro_Ntfs_";
inline constexpr std::string_view kDeepFatLogPrefix = "Pro_Fat_";
inline constexpr std::string_view kCarvingLogPrefix = "File_Type_";
inline constexpr std::string_view kDeepExFatLogPrefix = "Pro_ExFat_";

// A new log's name: the prefix, the partition's first sector as a signed decimal (0 for an
// image), "_", then year, month, day and hour without leading zeros and the minute right-aligned
// in two characters (padded with a blank): prefix + "%lld_%d%d%d%d%2d". A scan at sector 2048
// on 4 March 2018 at 09:05 with "Fast_" gives "Fast_2048_2018349 5". Cut to 259 bytes.
std::string MakeLogName(std::string_view prefix, int64_t startSector, const LocalTimeFields& time);
// The same with the local time now.
std::string MakeLogName(std::string_view prefix, int64_t startSector);

}  // namespace keltra
