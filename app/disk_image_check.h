// Whether a file the user loads as a disk image looks like one: it holds a partition table, a
// file system libblkid recognises, or one an engine of this program can quick-scan. A photo or
// a document loaded by mistake holds none of these (a card image whose file system was wiped
// holds none either, which is why the user is asked rather than refused).
#pragma once

#include <string>

#include "storage/image_volumes.h"

namespace keltra {

// `volumes`: what ListImageVolumes read of the file.
bool LooksLikeDiskImage(const std::string& imagePath, const ImageVolumes& volumes);

}  // namespace keltra
