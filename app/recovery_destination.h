// The choice of the folder that recovered files go into.
#pragma once

#include <string>
#include <vector>

#include "storage/volume_entry.h"

class QWidget;

namespace keltra {

// The folder browser's title, a fixed text.
inline constexpr const char* kRecoveryFolderTitle = "Select location for recovery";

// The chosen path without one trailing separator.
std::string TrimRecoveryFolder(std::string path);

// Whether recovery into `folder` may go on: when it lies on one of the scanned partitions, a
// Confirm box asks "MSG0805" once and OK goes on; any other answer stops.
bool ConfirmRecoveryDestination(QWidget* owner, const std::string& folder,
                                const std::vector<VolumeEntry>& scannedPartitions);

// Opens the folder browser owned by `owner`. Cancel: false, `recoverFolder` unchanged.
// Otherwise the trimmed path becomes `recoverFolder`, and the answer is that of
// ConfirmRecoveryDestination.
bool ChooseRecoveryDestination(QWidget* owner, const std::vector<VolumeEntry>& scannedPartitions,
                               std::string& recoverFolder);

}  // namespace keltra
