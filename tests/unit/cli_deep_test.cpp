// `keltra scan --deep` and `keltra recover --deep` as a user runs them: volumes whose boot
// sector is gone, a disk whose partition table is gone, Ctrl-C and continuing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "scanlog/scan_history.h"
#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::RunKeltra;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::vector<std::byte> Slice(const std::vector<std::byte>& bytes, uint64_t offset, size_t n) {
    if (offset >= bytes.size()) return {};
    const size_t end = std::min<size_t>(bytes.size(), offset + n);
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

// Zeroes a volume's boot sector and the backup that FAT32 (sector 6) or NTFS (the last sector)
// keeps of it.
void ZeroBootSectors(std::vector<std::byte>& bytes) {
    if (std::memcmp(&bytes[82], "FAT32   ", 8) == 0) {
        std::fill_n(bytes.begin() + 6 * 512, 512, std::byte{0});
    }
    if (std::memcmp(&bytes[3], "NTFS    ", 8) == 0) {
        std::fill_n(bytes.end() - 512, 512, std::byte{0});
    }
    std::fill_n(bytes.begin(), 512, std::byte{0});
}

// The image without its boot sectors.
std::string WithoutBootSector(const test::ScratchDir& dir, const std::string& fixture) {
    std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath(fixture));
    ZeroBootSectors(bytes);
    const std::string path = dir / ("noboot_" + fixture);
    test::WriteWholeFile(path, bytes);
    return path;
}

// A disk: the NTFS photo volume at sector 2048, the FAT32 one right after it, and a master
// boot record whose partition table is zeroed (only its signature is left).
std::string DiskWithoutPartitionTable(const test::ScratchDir& dir) {
    std::vector<std::byte> disk(2048 * 512);
    disk[510] = std::byte{0x55};
    disk[511] = std::byte{0xAA};
    for (const char* fixture : {"photos_ntfs.img", "photos_fat.img"}) {
        const std::vector<std::byte> volume = test::ReadWholeFile(test::FixturePath(fixture));
        disk.insert(disk.end(), volume.begin(), volume.end());
    }
    disk.resize(disk.size() + 2048 * 512);
    const std::string path = dir / "notable.img";
    test::WriteWholeFile(path, disk);
    return path;
}

// The top folders the deep scan keeps each volume of the disk in: the NTFS volume at sector 2048
// and the FAT32 one right after it, each named by its file system, place and size.
std::vector<std::string> DiskVolumeFolders(const std::multiset<std::string>& paths) {
    const uint64_t fatStart = 2048 + fs::file_size(test::FixturePath("photos_ntfs.img")) / 512;
    std::vector<std::string> folders;
    for (const std::string& at : {std::string("Lost NTFS volume at sector 2048 ("),
                                 "Lost FAT32 volume at sector " + std::to_string(fatStart) + " ("}) {
        const auto it = std::find_if(paths.begin(), paths.end(),
                                     [&](const std::string& p) { return p.starts_with(at); });
        if (it != paths.end()) folders.push_back(it->substr(0, it->find('/') + 1));
    }
    return folders;
}

class DeepCli : public testing::TestWithParam<const char*> {
  protected:
    std::string MakeSource() {
        const std::string which = GetParam();
        if (which == "disk") return DiskWithoutPartitionTable(dir_);
        return WithoutBootSector(dir_, which);
    }
    std::string Env() const { return "XDG_DATA_HOME=" + (dir_ / "xdg"); }
    test::ScratchDir dir_;
};

TEST_P(DeepCli, FindsAndRecoversTheDeletedFilesWithoutCarvedCopies) {
    const std::string source = MakeSource();
    const auto scanned = RunKeltra({"scan", source, "--deep", "--json"}, {Env()});
    ASSERT_EQ(scanned.exitCode, 0) << scanned.err;
    std::multiset<std::string> paths;
    std::vector<nlohmann::json> carved;
    for (const nlohmann::json& j : JsonLines(scanned.out)) {
        if (j["is_folder"]) continue;
        paths.insert(j["path"].get<std::string>() + j["name"].get<std::string>());
        if (j["origin"] == "carving") carved.push_back(j);
    }
    // On the disk each volume's files are listed under its own folder.
    const bool disk = std::string(GetParam()) == "disk";
    const std::vector<std::string> folders =
        disk ? DiskVolumeFolders(paths) : std::vector<std::string>{""};
    ASSERT_EQ(folders.size(), disk ? 2u : 1u);
    for (const std::string& folder : folders) {
        for (const std::string& path : test::PhotoDeletedFiles())
            EXPECT_EQ(paths.count(folder + path), 1u) << folder << path;
    }

    // No carved file starts with the data of a file the file-system searches found.
    const std::vector<std::byte> image = test::ReadWholeFile(source);
    for (const std::string& path : test::PhotoDeletedFiles()) {
        const std::vector<std::byte> original = test::ReadWholeFile(test::PhotoOriginal(path));
        const size_t n = std::min<size_t>(original.size(), 4096);
        const std::vector<std::byte> head(original.begin(),
                                          original.begin() + static_cast<std::ptrdiff_t>(n));
        for (const nlohmann::json& j : carved) {
            EXPECT_NE(Slice(image, j["location"].get<uint64_t>() * 512, n), head)
                << j["name"] << " is a carved copy of " << path;
        }
    }

    const std::string out = dir_ / "out";
    const auto recovered = RunKeltra({"recover", source, "--deep", "--keep-paths", "--to", out,
                                      "--types", "photo,document,others"},
                                     {Env()});
    ASSERT_NE(recovered.exitCode, 1) << recovered.err;
    for (const std::string& folder : folders) {
        for (const std::string& path : test::PhotoDeletedFiles()) {
            const std::string target = out + "/" + folder + path;
            ASSERT_TRUE(fs::is_regular_file(target)) << target;
            EXPECT_EQ(test::Sha256OfFile(target), test::Sha256OfFile(test::PhotoOriginal(path)))
                << target;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, DeepCli,
                         testing::Values("photos_ntfs.img", "photos_fat.img", "disk"),
                         [](const auto& info) {
                             const std::string which = info.param;
                             if (which == "disk") return std::string("DiskWithoutTable");
                             return which.find("fat") != std::string::npos
                                        ? std::string("Fat32WithoutBoot")
                                        : std::string("NtfsWithoutBoot");
                         });

// Unallocated sectors of the image by The Sleuth Kit (blkls writes the unallocated data units).
uint64_t UnallocatedSectors(const std::string& image) {
    std::string out;
    if (FILE* pipe = popen(("blkls '" + image + "' 2>/dev/null | wc -c").c_str(), "r")) {
        char buffer[64];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
        pclose(pipe);
    }
    return out.empty() ? 0 : std::stoull(out) / 512;
}

TEST(DeepCliIntact, ListsWhatTheQuickScanListsAndPassesOnlyTheFreeSpace) {
    for (const char* fixture : {"photos_fat.img", "photos_ntfs.img"}) {
        test::ScratchDir dir;
        const std::string image = dir / fixture;
        fs::copy_file(test::FixturePath(fixture), image);
        const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
        const auto quick = RunKeltra({"scan", image, "--json"}, {env});
        ASSERT_EQ(quick.exitCode, 0) << quick.err;
        const auto deep = RunKeltra({"scan", image, "--deep", "--json"}, {env});
        ASSERT_EQ(deep.exitCode, 0) << deep.err;
        std::multiset<std::pair<std::string, uint64_t>> quickItems, deepItems;
        for (const nlohmann::json& j : JsonLines(quick.out)) {
            quickItems.insert({j["path"].get<std::string>() + j["name"].get<std::string>(),
                               j["size"].get<uint64_t>()});
        }
        for (const nlohmann::json& j : JsonLines(deep.out)) {
            const std::pair<std::string, uint64_t> item{
                j["path"].get<std::string>() + j["name"].get<std::string>(),
                j["size"].get<uint64_t>()};
            deepItems.insert(item);
            if (quickItems.count(item) == 0) {
                EXPECT_TRUE(j["origin"] == "carving" || j["origin"] == "deep-ntfs" ||
                            j["origin"] == "deep-fat")
                    << fixture << ": " << item.first;
            }
        }
        for (const auto& item : quickItems) {
            EXPECT_EQ(deepItems.count(item), quickItems.count(item))
                << fixture << ": " << item.first;
        }
        const std::string passed =
            "passed the free space of the volume: " + std::to_string(UnallocatedSectors(image)) +
            " sectors read";
        EXPECT_NE(deep.err.find(passed), std::string::npos) << fixture << ": " << deep.err;
    }
}

// Runs keltra in the background; its stderr goes to `errPath`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& env,
            const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> all = {KELTRA_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string envCopy = env;
    char* envp[] = {envCopy.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), envp) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string ReadText(const std::string& path) {
    const std::vector<std::byte> bytes = test::ReadWholeFile(path);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(DeepCliStop, CtrlCSavesThePassAndTheSameCommandContinuesIt) {
    test::ScratchDir dir;
    // A large, mostly empty image: the pass takes long enough to be stopped in.
    const std::string image = dir / "big.img";
    {
        std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("photos_fat.img"));
        ZeroBootSectors(bytes);
        test::WriteWholeFile(image, bytes);
        fs::resize_file(image, uint64_t{1} << 30);
    }
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const std::string folder = dir / "xdg/KeltraPhotoRecovery/ScanLog/1";
    const std::string err = dir / "err";
    const pid_t pid = Spawn({"scan", image, "--deep"}, env, err);
    ASSERT_NE(pid, 0);
    // Ctrl-C once the pass has begun (its carving log exists) and has gone a little way.
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (!exited && std::chrono::steady_clock::now() < deadline) {
        std::string log;
        if (ScanHistory::FindLogFile("File_Type_", folder, log) == kOk) break;
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!exited) {
        ::kill(pid, SIGINT);
        ::waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) GTEST_SKIP() << "the pass was over first";
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string stopped = ReadText(err);
    EXPECT_NE(stopped.find("was stopped at"), std::string::npos) << stopped;
    EXPECT_NE(stopped.find("run the same command again to continue"), std::string::npos) << stopped;

    ScanHistory history(dir / "xdg/KeltraPhotoRecovery/ScanLog");
    ASSERT_EQ(history.Records().size(), 1u);
    const DeepScanState saved = history.Records()[0].state;
    EXPECT_NE(saved.runLength, 0u);
    EXPECT_GT(saved.sectorsDone, 0u);

    const auto continued = RunKeltra({"scan", image, "--deep", "--json"}, {env});
    ASSERT_EQ(continued.exitCode, 0) << continued.err;
    EXPECT_NE(continued.err.find("continuing the earlier deep scan"), std::string::npos)
        << continued.err;
    std::set<std::string> paths;
    for (const nlohmann::json& j : JsonLines(continued.out)) {
        paths.insert(j["path"].get<std::string>() + j["name"].get<std::string>());
    }
    for (const std::string& path : test::PhotoDeletedFiles())
        EXPECT_EQ(paths.count(path), 1u) << path;
    ASSERT_EQ(history.Load(), kOk);
    ASSERT_EQ(history.Records().size(), 1u);
    EXPECT_EQ(history.Records()[0].state.runLength, 0u) << "finished";
}

// Every file `scan --json` lists: path and name, with its size (several may share a path).
std::multiset<std::string> ListedFiles(const std::string& out) {
    std::multiset<std::string> files;
    for (const nlohmann::json& j : JsonLines(out)) {
        files.insert(j["path"].get<std::string>() + j["name"].get<std::string>() + " " +
                     std::to_string(j["size"].get<uint64_t>()));
    }
    return files;
}

// Deep scans stopped by Ctrl-C or killed outright at random moments, round after round, then
// run to their end: the history stays readable after every round, and the end lists exactly
// what one uninterrupted scan lists (nothing lost, nothing found twice). The image holds far
// more carved pictures than the store keeps in memory, so a killed round has written records
// past the state it last saved.
TEST(DeepCliStop, RandomCtrlCAndKillPointsEndWithTheUninterruptedListing) {
    test::ScratchDir dir;
    // A large, mostly empty image: the pass takes a while even where holes read fast.
    std::vector<std::byte> bytes = test::ReadWholeFile(test::FixturePath("photos_fat.img"));
    ZeroBootSectors(bytes);
    const std::vector<std::byte> picture =
        test::ReadWholeFile(test::TestDataPath("carving/baseline.jpg"));
    constexpr uint64_t kImageBytes = uint64_t{4} << 30;
    constexpr uint64_t kPictureStride = 1 << 20;
    const std::string reference = dir / "reference.img";
    const std::string image = dir / "stopped.img";
    for (const std::string& path : {reference, image}) {
        test::WriteWholeFile(path, bytes);
        fs::resize_file(path, kImageBytes);
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        for (uint64_t at = (bytes.size() / kPictureStride + 1) * kPictureStride; at < kImageBytes;
             at += kPictureStride) {
            out.seekp(static_cast<std::streamoff>(at));
            out.write(reinterpret_cast<const char*>(picture.data()),
                      static_cast<std::streamsize>(picture.size()));
        }
    }
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const auto whole = RunKeltra({"scan", reference, "--deep", "--json"}, {env});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const std::multiset<std::string> expected = ListedFiles(whole.out);
    ASSERT_GE(expected.size(), test::PhotoDeletedFiles().size() + 1000);

    std::mt19937 rng(testing::UnitTest::GetInstance()->random_seed());
    const std::string err = dir / "err";
    int interrupted = 0, killed = 0;
    for (int round = 0; round < 8; ++round) {
        const pid_t pid = Spawn({"scan", image, "--deep"}, env, err);
        ASSERT_NE(pid, 0);
        // A kill may come at any time; Ctrl-C only once the program has had time to start
        // (before its handler is in place a Ctrl-C ends any program, saving nothing).
        const bool kill = rng() % 2 == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds((kill ? 5 : 150) + rng() % 400));
        ::kill(pid, kill ? SIGKILL : SIGINT);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;  // over before the signal
        if (kill) {
            ++killed;
        } else {
            ++interrupted;
            ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": " << ReadText(err);
        }
        ScanHistory history(dir / "xdg/KeltraPhotoRecovery/ScanLog");
        EXPECT_LE(history.Records().size(), 2u) << "round " << round;
        const auto listed = RunKeltra({"history"}, {env});
        EXPECT_EQ(listed.exitCode, 0) << "round " << round << ": " << listed.err;
    }
    const auto finished = RunKeltra({"scan", image, "--deep", "--json"}, {env});
    ASSERT_EQ(finished.exitCode, 0) << finished.err;
    EXPECT_EQ(ListedFiles(finished.out), expected)
        << interrupted << " stopped and " << killed << " killed rounds";
    std::cout << "deep scan: " << interrupted << " stopped, " << killed << " killed rounds\n";
}

// Two NTFS volumes one after the other, with no partition table and no boot sectors. Fresh
// volumes number their folders alike (the first folder made is record 64 on each), yet the deep
// scan lists every file under its own volume's folders: exactly what deep scans of each volume
// alone list together.
TEST(DeepCliVolumes, TwoNtfsVolumesKeepTheirOwnFolders) {
    test::ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    std::multiset<std::string> expected;
    std::vector<std::byte> disk;
    // The second volume, its boot sectors gone, is known by its MFT alone: its folder names
    // its place but no size.
    const std::string secondFolder =
        "Lost NTFS volume at sector " +
        std::to_string(fs::file_size(test::FixturePath("photos_ntfs.img")) / 512) + "/";
    for (const char* fixture : {"photos_ntfs.img", "ntfs_deleted.img"}) {
        std::vector<std::byte> volume = test::ReadWholeFile(test::FixturePath(fixture));
        ZeroBootSectors(volume);
        const std::string alone = dir / fixture;
        test::WriteWholeFile(alone, volume);
        const auto r = RunKeltra({"scan", alone, "--deep", "--json"}, {env});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // Carved files belong to no volume's tree: they stay at the root.
        for (const nlohmann::json& j : JsonLines(r.out)) {
            const bool carved = j["origin"] == "carving";
            expected.insert((disk.empty() || carved ? "" : secondFolder) +
                            j["path"].get<std::string>() + j["name"].get<std::string>() + " " +
                            std::to_string(j["size"].get<uint64_t>()));
        }
        disk.insert(disk.end(), volume.begin(), volume.end());
    }
    expected.insert(secondFolder.substr(0, secondFolder.size() - 1) + " 0");
    const std::string both = dir / "both.img";
    test::WriteWholeFile(both, disk);
    const auto r = RunKeltra({"scan", both, "--deep", "--json"}, {env});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::multiset<std::string> listed = ListedFiles(r.out);
    EXPECT_GT(listed.size(), 60u);
    std::vector<std::string> missing, extra;
    std::ranges::set_difference(expected, listed, std::back_inserter(missing));
    std::ranges::set_difference(listed, expected, std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << "first missing: " << missing.front();
    EXPECT_TRUE(extra.empty()) << "first extra: " << extra.front();
}

}  // namespace
}  // namespace keltra
