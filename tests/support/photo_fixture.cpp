#include "support/photo_fixture.h"

#include <sstream>

#include "support/test_support.h"

namespace keltra::test {

const std::vector<std::string>& PhotoDeletedFiles() {
    static const std::vector<std::string> files = {
        "Camera roll/Holiday_001.JPG", "Photos/2017/Beach day.jpg", "Photos/2018/Beach day.jpg",
        "Photos/Company logo.png",     "Photos/Read me first",      "Docs/Meeting notes.txt"};
    return files;
}

std::string PhotoOriginal(const std::string& path) {
    return FixturePath("photos_originals/" + path);
}

std::vector<std::string> OutputLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace keltra::test
