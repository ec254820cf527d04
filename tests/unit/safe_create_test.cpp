// Creating recovered files below a destination folder that others can write into.
#include "platform/safe_create.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

TEST(SafeCreate, SplitsADestinationAtItsRoot) {
    EXPECT_EQ(SplitAtRoot("/tmp/out/photo/a.jpg", 2).root, "/tmp/out");
    EXPECT_EQ(SplitAtRoot("/tmp/out/photo/a.jpg", 2).relative, "photo/a.jpg");
    EXPECT_EQ(SplitAtRoot("//photo/a.jpg", 0).root, "/") << "the destination is /";
    EXPECT_EQ(SplitAtRoot("//photo/a.jpg", 0).relative, "photo/a.jpg");
    EXPECT_EQ(SplitAtRoot("/a/b", 5).root, "/a") << "too few separators: the parent";
    EXPECT_EQ(SplitAtRoot("/a/b", 5).relative, "b");
}

TEST(SafeCreate, NeverWritesThroughALink) {
    test::ScratchDir dir;
    const fs::path root = dir / "dest";
    const fs::path outside = dir / "outside";
    fs::create_directories(root / "photo");
    fs::create_directories(outside);
    std::ofstream(outside / "victim") << "precious";
    fs::create_symlink(outside / "victim", root / "photo/a.jpg");
    fs::create_symlink(outside / "nothing-yet", root / "photo/b.jpg");  // dangling
    fs::create_symlink(outside, root / "video");

    FileHandle file;
    std::string made;
    ASSERT_EQ(CreateFileBelow(root, "photo/a.jpg", file, made), kOk);
    EXPECT_EQ(made, (root / "photo/a(1).jpg").string()) << "a link takes its name";
    ASSERT_EQ(CreateFileBelow(root, "photo/b.jpg", file, made), kOk);
    EXPECT_EQ(made, (root / "photo/b(1).jpg").string()) << "a dangling link is never created";
    ASSERT_EQ(CreateFileBelow(root, "photo/.hidden", file, made), kOk);
    ASSERT_EQ(CreateFileBelow(root, "photo/.hidden", file, made), kOk);
    EXPECT_EQ(made, (root / "photo/.hidden(1)").string());

    EXPECT_NE(CreateFileBelow(root, "video/clip.mp4", file, made), kOk);
    EXPECT_NE(CreateFolderBelow(root, "video/2020"), kOk);
    EXPECT_NE(CreateFileBelow(root, "../escape.jpg", file, made), kOk);
    EXPECT_NE(CreateFolderBelow(root, "photo/../../escape"), kOk);
    EXPECT_EQ(CreateFolderBelow(root, "a/b/c"), kOk);
    EXPECT_EQ(CreateFolderBelow(root, "a/b/c"), kOk) << "an existing folder is fine";
    EXPECT_TRUE(fs::is_directory(root / "a/b/c"));

    EXPECT_EQ(Names(outside), std::set<std::string>{"victim"});
    std::ifstream in(outside / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

// A recovered file's modification time is set where it lies; a link in its place or on the way
// has no time of a file outside the destination changed.
TEST(SafeCreate, ModificationTimesAreSetWithoutFollowingLinks) {
    test::ScratchDir dir;
    const fs::path root = dir / "dest";
    const fs::path outside = dir / "outside";
    fs::create_directories(root / "photo");
    fs::create_directories(outside);
    std::ofstream(root / "photo/a.jpg") << "mine";
    std::ofstream(outside / "victim") << "precious";
    fs::create_symlink(outside / "victim", root / "photo/link.jpg");
    fs::create_symlink(outside, root / "video");
    const auto victimTime = fs::last_write_time(outside / "victim");

    constexpr int64_t kTaken = 1'500'000'000;  // 2017-07-14 02:40:00 UTC
    ASSERT_EQ(SetModifiedTimeBelow(root, "photo/a.jpg", kTaken, 500), kOk);
    struct stat st {};
    ASSERT_EQ(::stat((root / "photo/a.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, kTaken);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);

    EXPECT_EQ(SetModifiedTimeBelow(root, "photo/link.jpg", kTaken, 0), kOk) << "the link's own";
    EXPECT_NE(SetModifiedTimeBelow(root, "video/victim", kTaken, 0), kOk);
    EXPECT_NE(SetModifiedTimeBelow(root, "photo/missing.jpg", kTaken, 0), kOk);
    EXPECT_NE(SetModifiedTimeBelow(root, "", kTaken, 0), kOk);
    EXPECT_EQ(fs::last_write_time(outside / "victim"), victimTime);
}

// A link swapped in between one level and the next (the race a check-then-open leaves open):
// whatever the timing, every file lands below the destination or fails.
TEST(SafeCreate, LinksPlantedDuringTheWalkAreNotFollowed) {
    test::ScratchDir dir;
    const fs::path root = dir / "dest";
    const fs::path outside = dir / "outside";
    fs::create_directories(root);
    fs::create_directories(outside);
    std::atomic<bool> stop{false};
    std::thread planter([&] {
        std::error_code ec;
        while (!stop) {
            fs::remove_all(root / "photo", ec);
            fs::create_symlink(outside, root / "photo", ec);
            fs::remove(root / "photo", ec);
            fs::create_directory(root / "photo", ec);
        }
    });
    int made = 0;
    for (int i = 0; i < 2000; ++i) {
        FileHandle file;
        std::string path;
        if (CreateFileBelow(root, "photo/f" + std::to_string(i), file, path) == kOk) {
            ++made;
            EXPECT_TRUE(path.starts_with(root.string() + "/photo/")) << path;
        }
    }
    stop = true;
    planter.join();
    EXPECT_TRUE(Names(outside).empty()) << made << " files made; none may reach outside";
}

}  // namespace
}  // namespace keltra
