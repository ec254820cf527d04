#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/app_folders.h"
#include "platform/clock.h"
#include "platform/disk_names.h"
#include "platform/status.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace keltra {
namespace {

TEST(Status, ErrnoMapsToTheWindowsNumbersCallersTestFor) {
    EXPECT_EQ(StatusFromErrno(ENOENT), 2);
    EXPECT_EQ(StatusFromErrno(ENOTDIR), 3);
    EXPECT_EQ(StatusFromErrno(EMFILE), 4);
    EXPECT_EQ(StatusFromErrno(EACCES), 5);
    EXPECT_EQ(StatusFromErrno(EPERM), 5);
    EXPECT_EQ(StatusFromErrno(ENOMEM), 8);
    EXPECT_EQ(StatusFromErrno(EROFS), 19);
    EXPECT_EQ(StatusFromErrno(ENOSPC), 112);
    EXPECT_EQ(StatusFromErrno(EINVAL), 87);
    EXPECT_EQ(StatusFromErrno(ENAMETOOLONG), 206);
    EXPECT_EQ(StatusFromErrno(EEXIST), 80);
    EXPECT_EQ(StatusFromErrno(EEXIST, /*isFolder=*/true), 183);
    EXPECT_EQ(StatusFromErrno(EIO), 1117);
}

TEST(Status, EveryCodeTheMappingGivesHasItsOwnText) {
    for (int err = 1; err < 134; ++err) {
        const Status s = StatusFromErrno(err);
        EXPECT_EQ(StatusMessage(s).find("Unknown"), std::string::npos) << "errno " << err;
    }
    // What Linux says, with the status number after it.
    EXPECT_EQ(StatusMessage(kErrFileNotFound), "No such file or directory (status 2)");
    EXPECT_EQ(StatusMessage(kErrAccessDenied), "Permission denied (status 5)");
    EXPECT_EQ(StatusMessage(kErrDiskFull), "No space left on device (status 112)");
    EXPECT_EQ(StatusMessage(kErrReadFault), "Cannot read from the device (status 30)");
    EXPECT_NE(StatusMessage(kCancelled).find("canceled"), std::string::npos);
    EXPECT_EQ(StatusMessage(4242), "Unknown error (4242)");
}

TEST(Text, Utf8AndUtf16RoundTripAndRepairBadInput) {
    const std::string text = "Fotos \xC3\xA4\xE2\x82\xAC \xF0\x9F\x93\xB7";  // ä € 📷
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"Fotos \u00E4\u20AC \U0001F4F7");
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    // A truncated sequence, an overlong form and a lone surrogate become U+FFFD.
    EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(Text, PrefixNeverSplitsACharacter) {
    const std::string s = "ab\xE2\x82\xAC";  // "ab€"
    EXPECT_EQ(Utf8Prefix(s, 5), s);
    EXPECT_EQ(Utf8Prefix(s, 4), "ab");
    EXPECT_EQ(Utf8Prefix(s, 3), "ab");
    EXPECT_EQ(Utf8Prefix(s, 2), "ab");
}

TEST(Text, NamesCompareIgnoringAsciiCase) {
    EXPECT_EQ(CompareNamesIgnoringCase("Photo.JPG", "photo.jpg"), 0);
    EXPECT_LT(CompareNamesIgnoringCase("a", "B"), 0);
    EXPECT_LT(CompareNamesIgnoringCase("ab", "abc"), 0);
    EXPECT_GT(CompareNamesIgnoringCase("b", "A"), 0);
}

TEST(Clock, FileTimeConvertsBothWays) {
    EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
    EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(1500000000, 500)), 1500000000);
    const LocalTimeFields now = LocalTimeNow();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

TEST(AppFolders, DataFolderFollowsXdgThenHome) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", "/srv/data/", 1);
    EXPECT_EQ(ApplicationDataFolder(), "/srv/data");
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(ApplicationDataFolder(), std::string(std::getenv("HOME")) + "/.local/share");
    if (oldXdg) {
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

TEST(DiskNames, WholeDisksInOneStableOrder) {
    test::ScratchDir sys;
    auto add = [&](const std::string& name, const std::string& size, const std::string& backing) {
        std::filesystem::create_directories(sys.Path() / name);
        std::ofstream(sys.Path() / name / "size") << size << "\n";
        if (!backing.empty()) {
            std::filesystem::create_directories(sys.Path() / name / "loop");
            std::ofstream(sys.Path() / name / "loop" / "backing_file") << backing << "\n";
        }
    };
    add("sdb", "100", "");
    add("sda", "100", "");
    add("nvme0n10", "100", "");
    add("nvme0n2", "100", "");
    add("loop10", "100", "/img/b");
    add("loop2", "100", "/img/a");
    add("loop3", "0", "");  // detached
    add("ram0", "100", "");
    add("sdc", "0", "");  // no medium
    const auto disks = ListWholeDisks(sys.Path().string());
    std::vector<std::string> names;
    for (const auto& d : disks) names.push_back(d.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"nvme0n2", "nvme0n10", "sda", "sdb", "loop2", "loop10"}));
    EXPECT_EQ(disks[0].devicePath, "/dev/nvme0n2");
}

TEST(DiskNames, LoopDeviceMapsToItsNumberAndBack) {
    test::LoopDevice loop(test::FixturePath("fat16.img"));
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    const auto number = DiskNumberOfDevice(loop.Device());
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(DiskDevicePath(*number), loop.Device());
    EXPECT_FALSE(PartitionOfDevice(loop.Device()).has_value());
}

}  // namespace
}  // namespace keltra
