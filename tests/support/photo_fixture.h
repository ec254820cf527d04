// The photo tree of tests/fixtures/make_photos.sh, which make_tables.sh puts on every volume
// of its partitioned images, and the command line's output read line by line.
#pragma once

#include <string>
#include <vector>

namespace keltra::test {

// The tree's deleted files, by the path a scan finds them at.
const std::vector<std::string>& PhotoDeletedFiles();
// The original of a file of the tree, by that path.
std::string PhotoOriginal(const std::string& path);
// The lines of a command's output, without their line ends.
std::vector<std::string> OutputLines(const std::string& text);

}  // namespace keltra::test
