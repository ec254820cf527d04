// Making a disk image from the main window: the file name offered, the checks on the chosen
// path, the copy window, and the question whether to add the image as a source.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "app/create_image_process_wnd.h"

class QWidget;

namespace keltra {

inline constexpr uint64_t kFat32MaxImageBytes = 4294967296ULL;
inline constexpr uint64_t kFatMaxImageBytes = 2147483648ULL;

// The image of a partition (its length in the disk's own sectors), or of a whole disk.
ImageSourceChoice ImageOfVolume(const VolumeEntry& entry);
ImageSourceChoice ImageOfDisk(int diskNumber);

// The file name offered in the save dialog: "%d (%s, %s)" for a partition (its running number,
// file system, size), "Physical Disk %d" for a whole disk (numbered from 1).
QString DefaultImageName(const ImageSourceChoice& source);

// The key of the message for the first check the path fails, or an empty text: the image
// would lie on what it copies ("MSG0218"); FAT32 and the image is over 4 GiB ("MSG0220");
// another FAT (not exFAT) and over 2 GiB ("MSG0219"); no more free space than the image needs
// ("MSG0221"; passes when the free space cannot be read). An image with its map beside it is
// continued, and needs room only for what it does not hold yet.
std::string ImageDestinationProblem(const std::string& imagePath, const ImageSourceChoice& source);

// The same rules on what is known of the destination: whether it lies on the source, its file
// system's name and its free bytes (nothing when they could not be read).
std::string ImageDestinationProblem(bool onSource, const std::optional<std::string>& fileSystem,
                                    std::optional<uint64_t> freeBytes, uint64_t imageBytes);

// What to tell the user once the image window closed with `windowResult`: the "Messages" key
// ("MSG0234" stopped, "MSG0235" the disk stopped answering, "MSG0236" a map or image refused,
// "MSG0217" another failure, "MSG0233" made with unreadable areas) and its arguments; an empty
// key when the image was made whole.
std::string ImageOutcomeMessage(const CCreateImageProcessWnd& window, int windowResult,
                                QStringList& args);

// The save dialog (reopened after a failed check), the copy window and "MSG0217" when it failed.
// An existing file with a map beside it is continued; one without asks "MSG0237" first.
// Then "MSG0214": the image's path when the user wants it added as a source; nothing when the
// save dialog was cancelled or the answer was no.
std::optional<std::string> CreateImageFromSource(QWidget* owner, const ImageSourceChoice& source);

}  // namespace keltra
