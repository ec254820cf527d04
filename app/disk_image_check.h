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

// The file system of an image that holds one volume and no partition table, named as the source
// list names the file systems of partitions: the engines' own boot-sector test decides, as for a
// scan (a damaged first sector with a sound backup included); a file system no engine reads is
// named by libblkid ("btrfs"). Empty when none is recognised or the file cannot be read.
std::string ImageFileSystemName(const std::string& imagePath);

}  // namespace keltra
