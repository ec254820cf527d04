#include "support/crafted_names.h"

#include <cstdlib>
#include <map>

#include "platform/little_endian.h"
#include "support/test_support.h"

namespace keltra::test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kNameChars[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

std::string Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? "" : "failed: " + command;
}

// The long name of the entries before the short entry at `at` (in UTF-16 units), and where
// each of its long-name entries lies.
std::u16string LongNameBefore(const std::vector<std::byte>& image, size_t at,
                              std::vector<size_t>& entries) {
    entries.clear();
    std::u16string name;
    for (size_t e = at; e >= 32 && Byte(image, e - 32 + 11) == 0x0F; e -= 32) {
        entries.push_back(e - 32);
        for (size_t c : kNameChars) {
            const char16_t unit = Le16(image, e - 32 + c);
            if (unit == 0 || unit == 0xFFFF) return name;
            name.push_back(unit);
        }
    }
    return name;
}

// Writes `name` over the long-name entries that hold `placeholder` in the root folder, and
// marks the file deleted.
bool RewriteLongName(std::vector<std::byte>& image, const std::u16string& placeholder,
                     const std::u16string& name) {
    const size_t bps = Le16(image, 11);
    const size_t root = (Le16(image, 14) + Byte(image, 16) * size_t{Le16(image, 22)}) * bps;
    const size_t end = root + Le16(image, 17) * size_t{32};
    for (size_t at = root; at < end; at += 32) {
        if (Byte(image, at + 11) == 0x0F || Byte(image, at) == 0) continue;
        std::vector<size_t> entries;
        if (LongNameBefore(image, at, entries) != placeholder) continue;
        if (name.size() > entries.size() * 13) return false;
        size_t i = 0;
        for (size_t e : entries) {
            for (size_t c : kNameChars) {
                const char16_t unit = i < name.size() ? name[i] : i == name.size() ? 0 : 0xFFFF;
                StoreLE<uint16_t>(image, e + c, unit);
                ++i;
            }
            image[e] = std::byte{0xE5};
        }
        image[at] = std::byte{0xE5};
        return true;
    }
    return false;
}

}  // namespace

const std::vector<CraftedFile>& CraftedFiles() {
    static const std::vector<CraftedFile> files = {
        {u"dotdot+name.txt", u"..", "two dots"},
        {u"dot+name.txt", u".", "one dot"},
        {u"slash+name.txt", u"a/b.txt", "a slash"},
        {u"escape+name.txt", u"../../escape.txt", "climbing out"},
        {u"control+name.txt", u"ctl\u0001\u001f\u007f.txt", "control characters"},
        {std::u16string(130, u'l') + u".txt", std::u16string(130, u'\u00E9') + u".txt",
         "a long name"},  // 264 UTF-8 bytes
        {u"case+one.txt", u"Same.txt", "mixed case"},
        {u"case+two.txt", u"SAME.TXT", "upper case"},
    };
    return files;
}

std::string MakeCraftedNamesImage(const std::string& image, const std::string& scratch) {
    if (std::string s = Shell("mkfs.vfat -C -F 16 -s 1 '" + image + "' 8192"); !s.empty()) {
        return s;
    }
    for (const CraftedFile& f : CraftedFiles()) {
        const std::string source = scratch + "/content";
        WriteWholeFile(source, std::as_bytes(std::span(f.content)));
        const std::string name(f.placeholder.begin(), f.placeholder.end());
        if (std::string s = Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "' '" + source +
                                  "' '::/" + name + "'");
            !s.empty()) {
            return s;
        }
    }
    std::vector<std::byte> bytes = ReadWholeFile(image);
    for (const CraftedFile& f : CraftedFiles()) {
        if (!RewriteLongName(bytes, f.placeholder, f.name)) {
            return "no entry named " + std::string(f.placeholder.begin(), f.placeholder.end());
        }
    }
    WriteWholeFile(image, bytes);
    return "";
}

std::vector<std::string> CraftedRecoveryProblems(const fs::path& box, const fs::path& dest) {
    std::vector<std::string> problems;
    for (const auto& entry : fs::directory_iterator(box)) {
        if (entry.path() != dest) problems.push_back("written outside: " + entry.path().string());
    }
    std::map<std::string, std::vector<std::string>> recovered;  // content -> names
    for (const auto& entry : fs::recursive_directory_iterator(dest)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        if (name.size() > 255) problems.push_back("longer than 255 bytes: " + name);
        if (name == "." || name == "..") problems.push_back("named " + name);
        for (const unsigned char c : name) {
            if (c < 0x20 || c == 0x7F) {
                problems.push_back("control character in " + name);
                break;
            }
        }
        const auto content = ReadWholeFile(entry.path().string());
        recovered[std::string(reinterpret_cast<const char*>(content.data()), content.size())]
            .push_back(name);
    }
    for (const CraftedFile& f : CraftedFiles()) {
        const auto it = recovered.find(f.content);
        if (it == recovered.end() || it->second.size() != 1) {
            problems.push_back("'" + f.content + "' recovered " +
                               std::to_string(it == recovered.end() ? 0 : it->second.size()) +
                               " times");
        }
    }
    if (recovered.size() != CraftedFiles().size()) {
        problems.push_back(std::to_string(recovered.size()) + " different files recovered");
    }
    // The long name is cut whole characters at a time and keeps its extension.
    if (const auto it = recovered.find("a long name"); it != recovered.end()) {
        const std::string& cut = it->second.front();
        bool whole = cut.ends_with(".txt") && (cut.size() - 4) % 2 == 0 && cut.size() >= 250;
        for (size_t i = 0; whole && i + 4 < cut.size(); i += 2) {
            whole = cut.substr(i, 2) == "\xC3\xA9";
        }
        if (!whole) problems.push_back("long name cut badly: " + cut);
    }
    return problems;
}

}  // namespace keltra::test
