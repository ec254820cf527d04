// A FAT volume whose long names were rewritten on disk into names no file system tool would
// write: "." and "..", a "/" and a "../" prefix, control characters, a name of 264 UTF-8 bytes,
// and two names that differ only in case. `keltra recover` must keep every file inside the
// destination, each under a name that is one safe component, and none in place of another.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/little_endian.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? "" : "failed: " + command;
}

// The long name of the entries before the short entry at `at` (in UTF-16 units), and where
// each of its long-name entries lies.
std::u16string LongNameBefore(const std::vector<std::byte>& image, size_t at,
                              std::vector<size_t>& entries) {
    static constexpr size_t kChars[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    entries.clear();
    std::u16string name;
    for (size_t e = at; e >= 32 && Byte(image, e - 32 + 11) == 0x0F; e -= 32) {
        entries.push_back(e - 32);
        for (size_t c : kChars) {
            const char16_t unit = Le16(image, e - 32 + c);
            if (unit == 0 || unit == 0xFFFF) return name;
            name.push_back(unit);
        }
    }
    return name;
}

// Writes `name` over the long-name entries that hold `placeholder` in the root folder, and
// marks the file deleted (what a quick scan lists).
bool RewriteLongName(std::vector<std::byte>& image, const std::u16string& placeholder,
                     const std::u16string& name) {
    static constexpr size_t kChars[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
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
            for (size_t c : kChars) {
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

struct Crafted {
    std::u16string placeholder;
    std::u16string name;
    std::string content;
};

TEST(CraftedNames, RecoveredFilesStayInsideTheDestinationUnderSafeNames) {
    test::ScratchDir dir;
    const std::string image = dir / "crafted.img";
    const std::u16string longName = std::u16string(130, u'\u00E9') + u".txt";  // 264 UTF-8 bytes
    const std::vector<Crafted> files = {
        {u"dotdot+name.txt", u"..", "two dots"},
        {u"dot+name.txt", u".", "one dot"},
        {u"slash+name.txt", u"a/b.txt", "a slash"},
        {u"escape+name.txt", u"../../escape.txt", "climbing out"},
        {u"control+name.txt", u"ctl\u0001\u001f\u007f.txt", "control characters"},
        {std::u16string(130, u'l') + u".txt", longName, "a long name"},
        {u"case+one.txt", u"Same.txt", "mixed case"},
        {u"case+two.txt", u"SAME.TXT", "upper case"},
    };
    ASSERT_EQ(Shell("mkfs.vfat -C -F 16 -s 1 '" + image + "' 8192"), "");
    for (const Crafted& f : files) {
        const std::string source = dir / "content";
        test::WriteWholeFile(source, std::as_bytes(std::span(f.content)));
        const std::string name(f.placeholder.begin(), f.placeholder.end());
        ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "' '" + source + "' '::/" +
                        name + "'"),
                  "");
    }
    std::vector<std::byte> bytes = test::ReadWholeFile(image);
    for (const Crafted& f : files) {
        ASSERT_TRUE(RewriteLongName(bytes, f.placeholder, f.name))
            << std::string(f.placeholder.begin(), f.placeholder.end());
    }
    test::WriteWholeFile(image, bytes);

    // Both layouts: into category folders, and keeping the found folders.
    for (const bool keepPaths : {false, true}) {
        const fs::path box = dir.Path() / (keepPaths ? "box-paths" : "box-categories");
        const fs::path dest = box / "dest";
        std::vector<std::string> args = {"recover", image, "--to", dest.string()};
        if (keepPaths) args.push_back("--keep-paths");
        const auto r = test::RunKeltra(args, {"XDG_DATA_HOME=" + (dir / "xdg")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // Nothing beside the destination.
        for (const auto& entry : fs::directory_iterator(box)) {
            EXPECT_EQ(entry.path(), dest) << "written outside: " << entry.path();
        }
        std::map<std::string, std::string> recovered;  // content -> name
        for (const auto& entry : fs::recursive_directory_iterator(dest)) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            EXPECT_LE(name.size(), 255u);
            EXPECT_NE(name, ".");
            EXPECT_NE(name, "..");
            for (unsigned char c : name) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << name;
            const auto content = test::ReadWholeFile(entry.path().string());
            recovered[std::string(reinterpret_cast<const char*>(content.data()), content.size())] =
                name;
        }
        EXPECT_EQ(recovered.size(), files.size()) << "every file, none in place of another";
        for (const Crafted& f : files) EXPECT_EQ(recovered.count(f.content), 1u) << f.content;
        // The long name is cut whole characters at a time and keeps its extension.
        const std::string cut = recovered["a long name"];
        EXPECT_TRUE(cut.ends_with(".txt")) << cut;
        EXPECT_EQ((cut.size() - 4) % 2, 0u) << "cut inside a character";
        for (size_t i = 0; i + 4 < cut.size(); i += 2) EXPECT_EQ(cut.substr(i, 2), "\xC3\xA9");
        EXPECT_GE(cut.size(), 250u);
    }
}

}  // namespace
}  // namespace keltra
