// The keltra command run as a user runs it, on the photo fixture images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli/commands/interrupt.h"
#include "scanlog/scan_history.h"
#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::RunKeltra;

// Runs keltra with a ScanLog folder of its own for each run (or a given one).
class CliOnPhotos : public testing::TestWithParam<const char*> {
  protected:
    std::string Image() const { return test::FixturePath(GetParam()); }
    test::CommandResult Run(std::vector<std::string> args, std::string xdg = {}) {
        if (xdg.empty()) xdg = data_ / ("xdg" + std::to_string(++runs_));
        return RunKeltra(args, {"XDG_DATA_HOME=" + xdg});
    }
    // Skips while the engine of the image's file system is not built in yet.
    bool EngineMissing(const test::CommandResult& r) {
        return r.exitCode == 1 &&
               r.err.find("not available in this build yet") != std::string::npos;
    }
    test::ScratchDir data_;
    int runs_ = 0;
};

#define SKIP_WITHOUT_ENGINE(r) \
    if (EngineMissing(r)) GTEST_SKIP() << (r).err

TEST_P(CliOnPhotos, ScanJsonListsTheDeletedFiles) {
    const auto r = Run({"scan", Image(), "--json"});
    SKIP_WITHOUT_ENGINE(r);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> found;
    for (const std::string& line : test::OutputLines(r.out)) {
        const auto j = nlohmann::json::parse(line);
        found[j["path"].get<std::string>() + j["name"].get<std::string>()] = j;
    }
    for (const std::string& path : test::PhotoDeletedFiles()) {
        ASSERT_TRUE(found.count(path)) << path << " not listed:\n" << r.out;
        const auto& j = found[path];
        EXPECT_EQ(j["size"], fs::file_size(test::PhotoOriginal(path))) << path;
        EXPECT_EQ(j["is_folder"], false);
        EXPECT_EQ(j["intact"], true) << path;
        ASSERT_TRUE(j["modified"].is_string()) << path;
        EXPECT_EQ(j["modified"].get<std::string>().size(), 20u) << j["modified"];
        EXPECT_EQ(j["modified"].get<std::string>().back(), 'Z');
        EXPECT_TRUE(j["location"].is_number());
    }
    EXPECT_EQ(found["Camera roll/Holiday_001.JPG"]["category"], "photo");
    EXPECT_EQ(found["Photos/Read me first"]["category"], "photo");
    EXPECT_EQ(found["Docs/Meeting notes.txt"]["category"], "document");
    ASSERT_TRUE(found.count("Photos/2017")) << "folders are listed too";
    EXPECT_EQ(found["Photos/2017"]["is_folder"], true);
    EXPECT_EQ(found["Photos/2017"]["path"], "Photos/");
    EXPECT_NE(r.err.find("ScanLog"), std::string::npos) << "says where the scan log is: " << r.err;

    const auto tree = Run({"scan", Image(), "--types", "document"});
    ASSERT_EQ(tree.exitCode, 0) << tree.err;
    EXPECT_NE(tree.out.find("  Docs/\n    Meeting notes.txt  "), std::string::npos) << tree.out;
    EXPECT_EQ(tree.out.find(".jpg"), std::string::npos) << tree.out;
}

TEST_P(CliOnPhotos, RecoverIntoCategoryFolders) {
    test::ScratchDir out;
    const auto r = Run({"recover", Image(), "--to", out / "dest"});
    SKIP_WITHOUT_ENGINE(r);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string dest = out / "dest";
    for (const auto& [recovered, original] : std::vector<std::pair<std::string, std::string>>{
             {"photo/Holiday_001.JPG", "Camera roll/Holiday_001.JPG"},
             {"photo/Company logo.png", "Photos/Company logo.png"},
             {"photo/Read me first", "Photos/Read me first"},
             {"document/Meeting notes.txt", "Docs/Meeting notes.txt"}}) {
        EXPECT_EQ(test::Sha256OfFile(dest + "/" + recovered),
                  test::Sha256OfFile(test::PhotoOriginal(original)))
            << recovered;
    }
    // Two found files of one name: the second gets "(1)" before its extension.
    const std::set<std::string> beaches = {test::Sha256OfFile(dest + "/photo/Beach day.jpg"),
                                           test::Sha256OfFile(dest + "/photo/Beach day(1).jpg")};
    EXPECT_EQ(beaches, (std::set<std::string>{
                           test::Sha256OfFile(test::PhotoOriginal("Photos/2017/Beach day.jpg")),
                           test::Sha256OfFile(test::PhotoOriginal("Photos/2018/Beach day.jpg"))}));
    const auto lines = test::OutputLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with(" recovered, 0 failed")) << lines.back();

    // A second run into the same folder overwrites nothing.
    const auto again = Run({"recover", Image(), "--to", dest, "--types", "document"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(test::OutputLines(again.out).back(), "1 recovered, 0 failed");
    EXPECT_EQ(test::Sha256OfFile(dest + "/document/Meeting notes(1).txt"),
              test::Sha256OfFile(test::PhotoOriginal("Docs/Meeting notes.txt")));
}

TEST_P(CliOnPhotos, RecoverKeepingTheFoundFolders) {
    test::ScratchDir out;
    const auto r =
        Run({"recover", Image(), "--to", out.Path().string() + "/", "--keep-paths", "--json"});
    SKIP_WITHOUT_ENGINE(r);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& path : test::PhotoDeletedFiles()) {
        EXPECT_EQ(test::Sha256OfFile(out / path), test::Sha256OfFile(test::PhotoOriginal(path)))
            << path;
    }
    for (const std::string& line : test::OutputLines(r.out)) {
        const auto j = nlohmann::json::parse(line);
        EXPECT_EQ(j["recovered"], true) << line;
        EXPECT_TRUE(j["target"].get<std::string>().starts_with(out.Path().string() + "/")) << line;
    }
    EXPECT_NE(r.err.find(" recovered, 0 failed"), std::string::npos) << r.err;

    // Each file has the modification time the scan found for it.
    const auto scan = Run({"scan", Image(), "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    size_t timed = 0;
    for (const std::string& line : test::OutputLines(scan.out)) {
        const auto j = nlohmann::json::parse(line);
        const std::string path = j["path"].get<std::string>() + j["name"].get<std::string>();
        if (j["is_folder"] == true || !j["modified"].is_string()) continue;
        if (!fs::exists(out / path)) continue;
        const auto written = std::chrono::file_clock::to_sys(fs::last_write_time(out / path));
        const std::time_t seconds = std::chrono::system_clock::to_time_t(
            std::chrono::time_point_cast<std::chrono::seconds>(written));
        std::tm utc{};
        ::gmtime_r(&seconds, &utc);
        char iso[32];
        std::strftime(iso, sizeof(iso), "%Y-%m-%dT%H:%M:%SZ", &utc);
        EXPECT_EQ(std::string(iso), j["modified"].get<std::string>()) << path;
        ++timed;
    }
    EXPECT_GE(timed, test::PhotoDeletedFiles().size());
}

// Links planted in the destination (as anyone may in /tmp or on a shared card) are never
// followed: nothing outside the destination changes, and the files land under free names.
TEST_P(CliOnPhotos, PlantedLinksInTheDestinationAreNotFollowed) {
    test::ScratchDir out;
    const fs::path outside = out / "outside";
    fs::create_directories(outside);
    { std::ofstream(outside / "victim") << "precious"; }
    const fs::path byCategory = out / "bycat";
    fs::create_directories(byCategory / "photo");
    fs::create_symlink(outside / "victim", byCategory / "photo/Company logo.png");
    fs::create_symlink(outside, byCategory / "document");  // a whole category folder
    const auto r = Run({"recover", Image(), "--to", byCategory});
    SKIP_WITHOUT_ENGINE(r);
    EXPECT_EQ(r.exitCode, 3) << "the document folder cannot be made: " << r.err;
    EXPECT_EQ(test::Sha256OfFile(byCategory / "photo/Company logo(1).png"),
              test::Sha256OfFile(test::PhotoOriginal("Photos/Company logo.png")));
    EXPECT_NE(r.out.find("Company logo(1).png"), std::string::npos) << "names the file made";
    EXPECT_NE(r.err.find("Meeting notes.txt"), std::string::npos) << r.err;

    const fs::path kept = out / "kept";
    fs::create_directories(kept / "Camera roll");
    fs::create_symlink(outside, kept / "Photos");
    fs::create_symlink(outside / "victim", kept / "Camera roll/Holiday_001.JPG");
    const auto k = Run({"recover", Image(), "--to", kept, "--keep-paths"});
    EXPECT_EQ(k.exitCode, 3) << k.err;
    EXPECT_EQ(test::Sha256OfFile(kept / "Camera roll/Holiday_001(1).JPG"),
              test::Sha256OfFile(test::PhotoOriginal("Camera roll/Holiday_001.JPG")));
    EXPECT_EQ(test::Sha256OfFile(kept / "Docs/Meeting notes.txt"),
              test::Sha256OfFile(test::PhotoOriginal("Docs/Meeting notes.txt")));

    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(outside)) left.insert(entry.path().filename());
    EXPECT_EQ(left, std::set<std::string>{"victim"}) << "nothing was written through a link";
    std::ifstream in(outside / "victim");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

TEST_P(CliOnPhotos, SelectionsAndFailures) {
    test::ScratchDir out;
    const auto one = Run({"recover", Image(), "--to", out / "one", "--path", "Photos/2017/"});
    SKIP_WITHOUT_ENGINE(one);
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(test::OutputLines(one.out).back(), "1 recovered, 0 failed");
    EXPECT_TRUE(fs::exists(out / "one/photo/Beach day.jpg"));

    const auto ext = Run({"recover", Image(), "--to", out / "ext", "--ext", "JPG", "--keep-paths"});
    ASSERT_EQ(ext.exitCode, 0) << ext.err;
    EXPECT_TRUE(fs::exists(out / "ext/Camera roll/Holiday_001.JPG"));
    EXPECT_TRUE(fs::exists(out / "ext/Photos/2018/Beach day.jpg"));
    EXPECT_FALSE(fs::exists(out / "ext/Photos/Company logo.png"));

    const auto none = Run({"recover", Image(), "--to", out / "none", "--path", "No/Such"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("nothing was found at 'No/Such'"), std::string::npos) << none.err;

    // Photos cannot land where a file stands in for the photo folder; the rest still does.
    fs::create_directories(out / "blocked");
    std::ofstream(out / "blocked/photo") << "in the way";
    const auto blocked = Run({"recover", Image(), "--to", out / "blocked"});
    EXPECT_EQ(blocked.exitCode, 3) << blocked.err;
    EXPECT_NE(blocked.err.find("failed: " + (out / "blocked/photo/Holiday_001.JPG") + ": "),
              std::string::npos)
        << blocked.err;
    EXPECT_NE(blocked.err.find("Not a directory (status 3)"), std::string::npos)
        << blocked.err;
    EXPECT_TRUE(test::OutputLines(blocked.out).back().starts_with("1 recovered, "));
    EXPECT_TRUE(fs::exists(out / "blocked/document/Meeting notes.txt"));
}

TEST_P(CliOnPhotos, ScanningAgainListsEachFileOnce) {
    // Two scans within the same minute name their logs alike; the second must not add its
    // records to the first one's.
    const std::string xdg = data_ / "shared";
    const auto first = Run({"scan", Image(), "--json", "--types", "document"}, xdg);
    SKIP_WITHOUT_ENGINE(first);
    const auto second = Run({"scan", Image(), "--json", "--types", "document"}, xdg);
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(test::OutputLines(first.out).size(), 1u) << first.out;
    EXPECT_EQ(test::OutputLines(second.out).size(), 1u) << second.out;
}

TEST_P(CliOnPhotos, CatWritesOneFoundFile) {
    const auto text = Run({"cat", Image(), "Docs/Meeting notes.txt"});
    SKIP_WITHOUT_ENGINE(text);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const auto original = test::ReadWholeFile(test::PhotoOriginal("Docs/Meeting notes.txt"));
    EXPECT_EQ(text.out,
              std::string(reinterpret_cast<const char*>(original.data()), original.size()));

    test::ScratchDir out;
    const auto photo = Run({"cat", Image(), "/Photos/2018/Beach day.jpg"});
    ASSERT_EQ(photo.exitCode, 0) << photo.err;
    test::WriteWholeFile(out / "got.jpg", std::as_bytes(std::span(photo.out)));
    EXPECT_EQ(test::Sha256OfFile(out / "got.jpg"),
              test::Sha256OfFile(test::PhotoOriginal("Photos/2018/Beach day.jpg")));

    const auto folder = Run({"cat", Image(), "Photos/2018"});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
    const auto missing = Run({"cat", Image(), "Photos/nothing.jpg"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nothing was found"), std::string::npos) << missing.err;
}

INSTANTIATE_TEST_SUITE_P(Images, CliOnPhotos,
                         testing::Values("photos_fat.img", "photos_ntfs.img", "photos_exfat.img"),
                         [](const auto& info) {
                             const std::string image = info.param;
                             if (image.find("exfat") != std::string::npos) return "ExFat";
                             return image.find("fat") != std::string::npos ? "Fat32" : "Ntfs";
                         });

TEST(CliCommands, SourcesAreScannedInTheOrderGiven) {
    test::ScratchDir dir;
    const std::string fat = test::FixturePath("photos_fat.img");
    const std::string ntfs = test::FixturePath("photos_ntfs.img");
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const auto r = RunKeltra({"scan", ntfs, fat, "--json", "--types", "photo"}, {env});
    if (r.exitCode == 1 && r.err.find("not available in this build yet") != std::string::npos) {
        GTEST_SKIP() << r.err;
    }
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> sources;
    for (const std::string& line : test::OutputLines(r.out)) {
        sources.push_back(nlohmann::json::parse(line)["source"]);
    }
    // Five photos on each (the name without a dot counts as one), NTFS first as asked.
    EXPECT_EQ(sources,
              (std::vector<std::string>{ntfs, ntfs, ntfs, ntfs, ntfs, fat, fat, fat, fat, fat}));

    // A source without an engine ends the pass: nothing is listed.
    const std::string blank = dir / "blank.img";
    test::WriteWholeFile(blank, std::vector<std::byte>(1 << 20));
    const auto stopped = RunKeltra({"scan", fat, blank}, {env});
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_TRUE(stopped.out.empty()) << stopped.out;
    EXPECT_NE(stopped.err.find("blank.img"), std::string::npos) << stopped.err;
}

TEST(CliCommands, HelpOfEveryCommand) {
    for (const char* command : {"probe", "scan", "recover", "cat", "history"}) {
        const auto r = RunKeltra({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_NE(r.out.find("Usage: keltra " + std::string(command)), std::string::npos) << r.out;
    }
    const auto top = RunKeltra({"--help"});
    EXPECT_EQ(top.exitCode, 0);
    for (const char* command : {"probe", "scan", "recover", "cat", "history"}) {
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
    }
}

TEST(CliCommands, BadInputGivesOneLineAndTheRightCode) {
    test::ScratchDir dir;
    const std::string ext4 = test::FixturePath("ext4.img");
    const std::string blank = dir / "blank.img";  // no file system, no partition table
    test::WriteWholeFile(blank, std::vector<std::byte>(1 << 20));
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"scan"}, 2},
        {{"scan", ext4, "--types", "pictures"}, 2},
        {{"scan", ext4, "--restart"}, 2},
        {{"scan", ext4, "--bogus"}, 2},
        {{"recover", ext4}, 2},
        {{"cat", ext4}, 2},
        {{"scan", dir / "missing.img"}, 1},
        {{"recover", dir / "missing.img", "--to", dir / "out"}, 1},
        {{"scan", blank}, 1},
        {{"recover", ext4, "--to", ext4 + "/under-a-file"}, 1},
        {{"cat", ext4, "a/b.jpg"}, 1},
    };
    for (const auto& [args, code] : cases) {
        const auto r = RunKeltra(args, {"XDG_DATA_HOME=" + (dir / "xdg")});
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.exitCode, code) << shown << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << shown;
        EXPECT_EQ(r.err.find("terminate"), std::string::npos) << shown << r.err;
    }
    const auto none = RunKeltra({"scan", blank}, {"XDG_DATA_HOME=" + (dir / "xdg")});
    EXPECT_NE(none.err.find("no NTFS, exFAT, FAT or Ext file system"), std::string::npos)
        << none.err;

    const std::string tiny = dir / "tiny.img";
    test::WriteWholeFile(tiny, std::vector<std::byte>(4096));
    const auto small = RunKeltra({"scan", tiny}, {"XDG_DATA_HOME=" + (dir / "xdg")});
    EXPECT_EQ(small.exitCode, 1);
    EXPECT_NE(small.err.find("too small"), std::string::npos) << small.err;
}

TEST(CliCommands, ProgressIsDrawnOnlyOnATerminal) {
    test::ScratchDir dir;
    const std::string ext4 = test::FixturePath("ext4.img");
    const auto piped = RunKeltra({"scan", ext4}, {"XDG_DATA_HOME=" + (dir / "xdg")});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err.find("Scanning"), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);

    // script(1) gives the command a terminal and copies what it drew.
    const std::string log = dir / "typescript";
    const std::string command = "XDG_DATA_HOME='" + (dir / "xdg") + "' script -qec \"'" +
                                std::string(KELTRA_BINARY) + "' scan '" + ext4 + "'\" '" + log +
                                "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto drawn = test::ReadWholeFile(log);
    const std::string text(reinterpret_cast<const char*>(drawn.data()), drawn.size());
    EXPECT_NE(text.find("\rScanning " + ext4 + ": 0%"), std::string::npos) << text;
}

TEST(CliCommands, DestinationOnTheSourceIsRefusedUnlessForced) {
    test::ScratchDir dir;
    const std::string image = dir / "volume.img";
    fs::copy_file(test::FixturePath("ext4.img"), image);
    const std::string mnt = dir / "mnt";
    fs::create_directories(mnt);
    const std::string setup = "dev=$(losetup --find --show '" + image + "') && echo $dev > '" +
                              (dir / "dev") + "' && mount $dev '" + mnt + "'";
    if (std::system((setup + " 2>/dev/null").c_str()) != 0) {
        std::system(("losetup -d $(cat '" + (dir / "dev") + "') 2>/dev/null").c_str());
        GTEST_SKIP() << "cannot mount a loop device here";
    }
    std::ifstream devFile(dir / "dev");
    std::string device;
    devFile >> device;
    const auto refused =
        RunKeltra({"recover", device, "--to", mnt + "/out"}, {"XDG_DATA_HOME=" + (dir / "xdg")});
    const auto forced = RunKeltra({"recover", device, "--to", mnt + "/out", "--force"},
                                  {"XDG_DATA_HOME=" + (dir / "xdg")});
    const auto elsewhere =
        RunKeltra({"recover", device, "--to", dir / "out"}, {"XDG_DATA_HOME=" + (dir / "xdg")});
    std::system(("umount '" + mnt + "'; losetup -d " + device).c_str());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("which is being recovered"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos);
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_NE(forced.err.find("warning"), std::string::npos) << forced.err;
    EXPECT_EQ(elsewhere.exitCode, 0) << elsewhere.err;
    EXPECT_EQ(elsewhere.err.find("warning"), std::string::npos) << elsewhere.err;
}

TEST(CliCommands, CtrlCStopsARecoveryAndKeepsThePartFile) {
    test::ScratchDir dir;
    const std::string image = dir / "card.img";
    const std::string make =
        "cd '" + dir.Path().string() +
        "' && mkfs.vfat -C -F 32 card.img 300000 >/dev/null && "
        "truncate -s 200M Big_file.txt && export MTOOLS_SKIP_CHECK=1 && "
        "mcopy -i card.img Big_file.txt ::/ && mdel -i card.img ::/Big_file.txt";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string out = dir / "out", err = dir / "err", printed = dir / "printed";
    const std::string target = out + "/document/Big_file.txt";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string binary = KELTRA_BINARY, recover = "recover", to = "--to";
    std::string imageArg = image, outArg = out, xdg = "XDG_DATA_HOME=" + (dir / "xdg");
    char* argv[] = {binary.data(), recover.data(), imageArg.data(),
                    to.data(),     outArg.data(),  nullptr};
    char* envp[] = {xdg.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Ctrl-C once the file is being written.
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (!exited && std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(target, ec) && fs::file_size(target, ec) > 0) break;
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!exited) {
        ::kill(pid, SIGINT);
        ::waitpid(pid, &status, 0);
    }
    const auto errBytes = test::ReadWholeFile(err);
    const std::string errText(reinterpret_cast<const char*>(errBytes.data()), errBytes.size());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        GTEST_SKIP() << "the copy was over before the interrupt";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(status), 1) << errText;
    EXPECT_NE(errText.find("the partly written file is kept: " + target), std::string::npos)
        << errText;
    const auto printedBytes = test::ReadWholeFile(printed);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(printedBytes.data()), printedBytes.size()),
              "0 recovered, 0 failed\n");
    EXPECT_LT(fs::file_size(target), 200u << 20);
}

TEST(CliCommands, FirstInterruptRaisesTheFlagAndTheHandlerIsPutBack) {
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    {
        cli::InterruptGuard guard;
        EXPECT_FALSE(cli::InterruptGuard::Requested());
        std::raise(SIGINT);
        EXPECT_TRUE(cli::InterruptGuard::Requested()) << "the process lives on";
    }
    struct sigaction after {};
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace keltra

namespace keltra {
namespace {

TEST(CliHistory, ListsDeepScansAndRestartForgetsOne) {
    test::ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const std::string image = dir / "card.img";
    fs::copy_file(test::FixturePath("ext4.img"), image);
    const std::string scanLog = dir / "xdg/KeltraPhotoRecovery/ScanLog";
    {
        ScanHistory history(scanLog);
        history.NewScanFolder();
        const std::string folder = history.CurrentScanFolder();
        fs::create_directories(folder);
        DeepScanState state;
        state.runLength = 16384;
        state.offsetInRun = 4096;
        state.sectorsDone = 4096;
        state.filesFound = 7;
        ASSERT_EQ(history.SaveScanState(kImageDiskNumber, 0, 16384, state, folder, image), kOk);
    }
    const auto empty = RunKeltra({"history"}, {"XDG_DATA_HOME=" + (dir / "other")});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_NE(empty.out.find("no deep scans remembered"), std::string::npos) << empty.out;

    const auto listed = RunKeltra({"history"}, {env});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("image " + image), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("deep scan: 4096 of 16384 sectors (25%), 7 files found"),
              std::string::npos)
        << listed.out;
    const auto json = RunKeltra({"history", "--json"}, {env});
    ASSERT_EQ(json.exitCode, 0);
    const auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["image"], image);
    EXPECT_EQ(j["scan_folder"], scanLog + "/1/");
    EXPECT_EQ(j["folder_exists"], true);
    EXPECT_EQ(j["percent_done"], 25);

    // A deep scan continues the remembered one; with --restart it is forgotten first.
    const auto resumed = RunKeltra({"scan", image, "--deep"}, {env});
    EXPECT_NE(resumed.err.find("continuing the earlier deep scan"), std::string::npos)
        << resumed.err;
    const auto restarted = RunKeltra({"scan", image, "--deep", "--restart"}, {env});
    EXPECT_NE(restarted.err.find("is forgotten"), std::string::npos) << restarted.err;
    EXPECT_FALSE(fs::exists(scanLog + "/1"));
    // The new scan is remembered in a folder of its own, finished.
    const auto after = nlohmann::json::parse(RunKeltra({"history", "--json"}, {env}).out);
    EXPECT_EQ(after["scan_folder"], scanLog + "/2/");
    // The pass kept to the ext volume's free blocks.
    EXPECT_GT(after["sectors_done"], 0);
    EXPECT_LT(after["sectors_done"], 16384);
    EXPECT_EQ(after["finished"], true);
    EXPECT_EQ(after["percent_done"], 100);
}

}  // namespace
}  // namespace keltra
