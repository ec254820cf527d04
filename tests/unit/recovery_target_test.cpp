#include "engines/recovery_target.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

FoundRecord Named(std::string_view name, bool folder = false) {
    FoundRecord r = EmptyRecord();
    r.SetName(name);
    r.isFolder = folder ? 1 : 0;
    return r;
}

TEST(RecoveryTarget, CategoryFolderFollowsTheRecoveryRules) {
    EXPECT_EQ(GetFileCategory("IMG_0001.JPG"), "photo") << "the extension is lower-cased";
    EXPECT_EQ(GetFileCategory("readme"), "photo") << "no extension occurs in every list";
    EXPECT_EQ(GetFileCategory("trailing."), "photo");
    EXPECT_EQ(GetFileCategory("a.jp"), "photo") << "a fragment of *.jpg|";
    EXPECT_EQ(GetFileCategory("x.RM"), "audio") << "audio is tried before video";
    EXPECT_EQ(GetFileCategory("clip.mkv"), "video");
    EXPECT_EQ(GetFileCategory("a.tar.gz"), "archive");
    EXPECT_EQ(GetFileCategory("notes.DOCX"), "document");
    EXPECT_EQ(GetFileCategory("a.xyz"), "others");
    EXPECT_EQ(GetFileCategory("folder.d/x"), "others") << "the text after the last dot";
}

TEST(RecoveryTarget, UniquePathAddsANumberBeforeTheExtension) {
    test::ScratchDir dir;
    const std::string a = dir / "photo/a.jpg";
    EXPECT_EQ(MakeUniquePath(a), a) << "nothing there yet";
    Touch(a);
    EXPECT_EQ(MakeUniquePath(a), dir / "photo/a(1).jpg");
    Touch(dir / "photo/a(1).jpg");
    EXPECT_EQ(MakeUniquePath(a), dir / "photo/a(2).jpg");

    Touch(dir / "photo/readme");
    EXPECT_EQ(MakeUniquePath(dir / "photo/readme"), dir / "photo/readme(1)");
    Touch(dir / "my.photos/readme");
    EXPECT_EQ(MakeUniquePath(dir / "my.photos/readme"), dir / "my.photos/readme(1)")
        << "a dot in a folder name is no extension";
    Touch(dir / "photo/a.tar.gz");
    EXPECT_EQ(MakeUniquePath(dir / "photo/a.tar.gz"), dir / "photo/a.tar(1).gz");

    // A folder and a dangling link are in the way as much as a file is.
    fs::create_directories(dir / "photo/b.jpg");
    EXPECT_EQ(MakeUniquePath(dir / "photo/b.jpg"), dir / "photo/b(1).jpg");
    fs::create_symlink(dir / "nowhere", dir / "photo/c.jpg");
    EXPECT_EQ(MakeUniquePath(dir / "photo/c.jpg"), dir / "photo/c(1).jpg");
}

TEST(RecoveryTarget, TargetPathsForBothLayouts) {
    test::ScratchDir dir;
    const std::string root = dir.Path().string();
    EXPECT_EQ(RecoveryTargetPath(root, Named("a.JPG"), "Photos/2017/", RecoveryLayout::ByCategory),
              root + "/photo/a.JPG");
    EXPECT_EQ(RecoveryTargetPath(root, Named("a.JPG"), "Photos/2017/", RecoveryLayout::KeepPaths),
              root + "/Photos/2017/a.JPG");
    EXPECT_EQ(RecoveryTargetPath(root, Named("a.JPG"), "", RecoveryLayout::KeepPaths),
              root + "/a.JPG");
    Touch(root + "/photo/a.JPG");
    EXPECT_EQ(RecoveryTargetPath(root, Named("a.JPG"), "x/", RecoveryLayout::ByCategory),
              root + "/photo/a(1).JPG");

    // Names from a corrupt or hostile volume never lead outside the folder.
    EXPECT_EQ(RecoveryTargetPath(root, Named(".."), "", RecoveryLayout::ByCategory),
              root + "/photo/__");
    EXPECT_EQ(RecoveryTargetPath(root, Named("../../etc/passwd"), "", RecoveryLayout::ByCategory),
              root + "/others/.._.._etc_passwd");
    EXPECT_EQ(RecoveryTargetPath(root, Named("x.txt"), "../../", RecoveryLayout::KeepPaths),
              root + "/__/__/x.txt");
    EXPECT_EQ(RecoveryTargetPath(root, Named("x.txt"), "a\\b/./", RecoveryLayout::KeepPaths),
              root + "/a_b/_/x.txt");

    // A kept folder merges with one of the same name rather than being renamed.
    fs::create_directories(root + "/Photos");
    EXPECT_EQ(RecoveryTargetPath(root, Named("Photos", true), "", RecoveryLayout::KeepPaths),
              root + "/Photos");
    EXPECT_EQ(RecoveryTargetPath(root, Named("Photos", true), "", RecoveryLayout::ByCategory),
              root + "/photo/Photos");
}

TEST(RecoveryTarget, RootSeparatorsLeaveOutTheLastCharacter) {
    EXPECT_EQ(RootSeparatorCount("/home/u/out"), 3);
    EXPECT_EQ(RootSeparatorCount("/home/u/out/"), 3);
    EXPECT_EQ(RootSeparatorCount("C:\\out"), 1);
    EXPECT_EQ(RootSeparatorCount("out"), 0);
    EXPECT_EQ(RootSeparatorCount(""), 0);
}

}  // namespace
}  // namespace keltra
