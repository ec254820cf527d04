// What scans list, as a user meets it on the command line: a deleted tree whose folders the
// quick scan cannot all follow, and ext4 volumes, whose live files a deep scan must not list.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::RunKeltra;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    for (const std::string& line : test::OutputLines(text)) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

// Every file `scan --json` lists, by path and name, with how often.
std::map<std::string, int> ListedFiles(const std::string& out) {
    std::map<std::string, int> files;
    for (const nlohmann::json& j : JsonLines(out)) {
        if (!j["is_folder"]) ++files[j["path"].get<std::string>() + j["name"].get<std::string>()];
    }
    return files;
}

std::set<std::string> TreeFiles() {
    std::set<std::string> files;
    std::ifstream in(test::FixturePath("fat_tree_files.txt"));
    for (std::string line; std::getline(in, line);) files.insert(line);
    return files;
}

// Whether a listed path is the original one: a deleted short name has lost its first letter,
// which listings show as "!".
bool SamePath(const std::string& listed, const std::string& original) {
    std::vector<std::string> a, b;
    for (const auto& part : fs::path(listed)) a.push_back(part.string());
    for (const auto& part : fs::path(original)) b.push_back(part.string());
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (a[i].size() != b[i].size() || a[i].front() != '!' || a[i].substr(1) != b[i].substr(1)) {
            return false;
        }
    }
    return true;
}

TEST(DeletedTree, QuickScanListsNoFileTwiceAndSaysADeepScanFindsTheRest) {
    test::ScratchDir dir;
    const std::set<std::string> tree = TreeFiles();
    ASSERT_EQ(tree.size(), 400u);
    const auto quick = RunKeltra({"scan", test::FixturePath("fat32_tree.img"), "--json"},
                                 {"XDG_DATA_HOME=" + (dir / "xdg")});
    ASSERT_EQ(quick.exitCode, 0) << quick.err;
    const std::map<std::string, int> listed = ListedFiles(quick.out);
    EXPECT_FALSE(listed.empty());
    EXPECT_LT(listed.size(), tree.size()) << "DCIM's later clusters cannot be followed";
    for (const auto& [listedPath, times] : listed) {
        EXPECT_EQ(times, 1) << listedPath;
        const std::string path = listedPath;
        EXPECT_EQ(
            std::count_if(tree.begin(), tree.end(),
                          [&](const std::string& original) { return SamePath(path, original); }),
            1)
            << "listed at a path it never had: " << path;
    }
    EXPECT_NE(quick.err.find("could not be followed"), std::string::npos) << quick.err;
    EXPECT_NE(quick.err.find("--deep"), std::string::npos) << quick.err;
}

TEST(DeletedTree, DeepScanListsEveryPhotoOnceAndRecoversEachWhole) {
    test::ScratchDir dir;
    const std::string image = test::FixturePath("fat32_tree.img");
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const auto deep = RunKeltra({"scan", image, "--deep", "--json"}, {env});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    std::map<std::string, int> byName;
    for (const auto& [path, times] : ListedFiles(deep.out)) {
        byName[fs::path(path).filename().string()] += times;
    }
    const std::set<std::string> tree = TreeFiles();
    for (const std::string& path : tree) {
        EXPECT_EQ(byName[fs::path(path).filename().string()], 1) << path;
    }
    // The quick scan's folders keep their names: the deep search's copy of each joins them.
    const std::map<std::string, int> quick =
        ListedFiles(RunKeltra({"scan", image, "--json"}, {env}).out);
    const std::map<std::string, int> listed = ListedFiles(deep.out);
    for (const auto& [path, times] : quick) EXPECT_EQ(listed.count(path), 1u) << path;

    const std::string out = dir / "out";
    const auto recovered = RunKeltra({"recover", image, "--deep", "--to", out}, {env});
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    std::map<std::string, int> written;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        ++written[name];
        const auto original = std::find_if(tree.begin(), tree.end(), [&](const std::string& p) {
            return fs::path(p).filename() == name;
        });
        ASSERT_NE(original, tree.end()) << name;
        EXPECT_EQ(test::Sha256OfFile(entry.path().string()),
                  test::Sha256OfFile(test::FixturePath("fat_tree_originals/" + *original)))
            << name;
    }
    EXPECT_EQ(written.size(), tree.size());
}

// SHA-256 of every file under `folder`.
std::multiset<std::string> HashesUnder(const std::string& folder) {
    std::multiset<std::string> hashes;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) hashes.insert(test::Sha256OfFile(entry.path().string()));
    }
    return hashes;
}

std::set<std::string> OriginalHashes(const std::string& which) {
    std::set<std::string> hashes;
    for (const auto& entry : fs::directory_iterator(test::FixturePath("ext4_originals/" + which))) {
        hashes.insert(test::Sha256OfFile(entry.path().string()));
    }
    return hashes;
}

// Free sectors of an ext volume of 1 KiB blocks by e2fsprogs: its superblock's free block count.
uint64_t FreeSectors(const std::string& image) {
    std::string out;
    const std::string command = "dumpe2fs -h '" + image + "' 2>/dev/null";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
        pclose(pipe);
    }
    const size_t at = out.find("Free blocks:");
    return at == std::string::npos ? 0 : 2 * std::stoull(out.substr(at + 12));
}

// PhotoRec in its free-space mode, its jpg and png searches only, into a folder inside `folder`.
void RunPhotoRec(const std::string& image, const std::string& folder) {
    const std::string command = "photorec /d '" + folder + "/f' /cmd '" + image +
                                "' partition_none,fileopt,everything,disable,jpg,enable,png,"
                                "enable,freespace,search >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class ExtDeep : public testing::TestWithParam<const char*> {};

TEST_P(ExtDeep, ListsNoLiveFileAndFindsTheDeletedOnes) {
    test::ScratchDir dir;
    const std::string image = dir / GetParam();
    fs::copy_file(test::FixturePath(GetParam()), image);
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");

    const auto quick = RunKeltra({"scan", image}, {env});
    EXPECT_EQ(quick.exitCode, 0) << quick.err;
    EXPECT_NE(quick.err.find("ext2/3/4 volume"), std::string::npos) << quick.err;
    EXPECT_NE(quick.err.find("--deep"), std::string::npos) << quick.err;

    const std::string out = dir / "out";
    const auto deep = RunKeltra({"recover", image, "--deep", "--to", out}, {env});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_NE(deep.err.find("passed the free space of the volume: " +
                            std::to_string(FreeSectors(image)) + " sectors read"),
              std::string::npos)
        << deep.err;
    const std::multiset<std::string> ours = HashesUnder(out);
    for (const std::string& live : OriginalHashes("live")) {
        EXPECT_EQ(ours.count(live), 0u) << "a live file was listed as lost";
    }
    size_t found = 0;
    for (const std::string& deleted : OriginalHashes("deleted")) found += ours.count(deleted);
    EXPECT_EQ(found, OriginalHashes("deleted").size());

    const std::string photorec = dir / "photorec";
    fs::create_directories(photorec);
    RunPhotoRec(image, photorec);
    const std::multiset<std::string> theirs = HashesUnder(photorec);
    size_t theirsFound = 0;
    for (const std::string& deleted : OriginalHashes("deleted"))
        theirsFound += theirs.count(deleted);
    std::cout << GetParam() << ": deleted files found whole: keltra " << found << ", PhotoRec "
              << theirsFound << " (PhotoRec wrote " << theirs.size() << " files)\n";
    EXPECT_GE(found, theirsFound);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExtDeep, testing::Values("ext4_deleted.img", "ext4_metabg.img"),
                         [](const auto& info) {
                             return std::string(info.param).find("metabg") != std::string::npos
                                        ? std::string("MetaGroups")
                                        : std::string("FlexGroups64Bit");
                         });

}  // namespace
}  // namespace keltra
