// Rescue copies of a device that really fails: nbdkit and nbdfuse (see FailingDevice), read by
// `keltra image --skip-bad` and, on the same device in the same run, by GNU ddrescue.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "storage/rescue_map.h"
#include "storage/rescue_map_file.h"
#include "support/failing_device.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using S = AreaStatus;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kSector = 512;
constexpr uint64_t kDeviceBytes = 256ull << 20;

// Single bad sectors, three in a row, a 1 MiB stretch, and one near the end.
std::vector<std::pair<uint64_t, uint64_t>> BadRanges() {
    return {{1000, 1}, {77777, 1}, {150000, 3}, {200000, 2048}, {300001, 1}, {524000, 1}};
}

RescueMap Truth(uint64_t bytes, const std::vector<std::pair<uint64_t, uint64_t>>& bad) {
    RescueMap map(bytes);
    map.Mark(0, bytes, S::kFinished);
    for (const auto& [first, count] : bad) map.Mark(first * kSector, count * kSector, S::kBad);
    map.currentPhase = RescuePhase::kFinished;
    return map;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

RescueMap LoadMap(const std::string& path) {
    std::optional<RescueMap> map;
    std::string error;
    EXPECT_EQ(LoadRescueMap(path, map, error), kOk) << path << ": " << error;
    EXPECT_TRUE(map) << path;
    return map.value_or(RescueMap());
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class RescueDevice : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<test::ScratchDir>();
        // Bytes that differ in every sector, so that a sector in the wrong place shows.
        std::vector<uint64_t> words(kDeviceBytes / 8);
        std::mt19937_64 random(32);
        for (uint64_t& w : words) w = random();
        std::ofstream(Source(), std::ios::binary)
            .write(reinterpret_cast<const char*>(words.data()),
                   static_cast<std::streamsize>(kDeviceBytes));
        WriteText(BadMap(), Truth(kDeviceBytes, BadRanges()).Format({}));
        // The source with zeros where it cannot be read: what every finished copy must hold.
        auto expected = test::ReadWholeFile(Source());
        for (const auto& [first, count] : BadRanges()) {
            std::fill_n(expected.begin() + static_cast<ptrdiff_t>(first * kSector),
                        count * kSector, std::byte{0});
        }
        test::WriteWholeFile(Expected(), expected);
        expectedSha_ = test::Sha256OfFile(Expected());
    }
    static void TearDownTestSuite() { dir_.reset(); }

    void SetUp() override {
        if (const std::string why = test::FailingDevice::Unavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        work_ = std::make_unique<test::ScratchDir>();
    }

    static std::string Source() { return *dir_ / "source.img"; }
    static std::string BadMap() { return *dir_ / "bad.map"; }
    static std::string Expected() { return *dir_ / "expected.img"; }
    std::string Work(const std::string& name) const { return *work_ / name; }

    // The copy at `image` is finished and right: the readable sectors, zeros for the bad ones,
    // and a map equal to the truth.
    void ExpectFinishedCopy(const std::string& image, const std::string& map) const {
        EXPECT_EQ(test::Sha256OfFile(image), expectedSha_) << image;
        const RescueMap got = LoadMap(map);
        EXPECT_EQ(got.Areas(), Truth(kDeviceBytes, BadRanges()).Areas()) << map;
        EXPECT_EQ(got.currentPhase, RescuePhase::kFinished) << map;
    }

    static inline std::unique_ptr<test::ScratchDir> dir_;
    static inline std::string expectedSha_;
    std::unique_ptr<test::ScratchDir> work_;
};

TEST_F(RescueDevice, CopiesEveryReadableSectorAsGnuDdrescueDoesAndOpensTheSourceReadOnly) {
    test::FailingDevice device(Source(), BadMap());
    ASSERT_TRUE(device.Valid()) << device.Error();
    const std::string image = Work("card.img");
    const std::string trace = Work("trace");

    auto start = Clock::now();
    // LeakSanitizer cannot run under a tracer; a leak check has no place in this test.
    ASSERT_EQ(test::RunProgram({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-e",
                                "trace=open,openat,creat", "-o", trace, KELTRA_BINARY, "image",
                                device.Path(), image, "--skip-bad"}),
              3);
    const double ours = SecondsSince(start);
    ExpectFinishedCopy(image, RescueMapPath(image));
    // ddrescuelog reads our map and finds the same bad bytes.
    EXPECT_EQ(test::RunProgram({"ddrescuelog", "-t", RescueMapPath(image)}), 0);

    // Every opening of the device is read-only.
    std::ifstream in(trace);
    int opens = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(device.Path()) == std::string::npos) continue;
        ++opens;
        EXPECT_NE(line.find("O_RDONLY"), std::string::npos) << line;
        EXPECT_EQ(line.find("O_RDWR"), std::string::npos) << line;
        EXPECT_EQ(line.find("O_WRONLY"), std::string::npos) << line;
    }
    EXPECT_GT(opens, 0);

    // GNU ddrescue on the same device, with direct reads and one retry as ours.
    const std::string theirs = Work("ddrescue.img");
    start = Clock::now();
    ASSERT_EQ(test::RunProgram({"ddrescue", "-q", "-d", "-r1", device.Path(), theirs,
                                Work("ddrescue.map")}),
              0);
    const double ddrescue = SecondsSince(start);
    EXPECT_EQ(test::Sha256OfFile(theirs), test::Sha256OfFile(image));
    EXPECT_EQ(LoadMap(Work("ddrescue.map")).Areas(), LoadMap(RescueMapPath(image)).Areas());
    std::cout << "[ timing   ] keltra " << ours << " s, ddrescue " << ddrescue << " s\n";
}

// Killed anywhere (SIGKILL) and started again, the copy ends as an uninterrupted one; the map
// left by each kill is a whole map.
TEST_F(RescueDevice, KilledAnywhereAndContinuedEndsAsAnUninterruptedCopy) {
    test::FailingDevice device(Source(), BadMap());
    ASSERT_TRUE(device.Valid()) << device.Error();
    const std::string image = Work("card.img");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // The kills fall inside the copy however fast this machine copies: each waits a random
    // share (5 to 40 %) of the time a whole copy takes here.
    const auto begin = Clock::now();
    ASSERT_EQ(test::RunKeltra({"image", device.Path(), Work("whole.img"), "--skip-bad"}).exitCode,
              3);
    const auto whole = Clock::now() - begin;
    int killed = 0;
    for (int round = 0; round < 5; ++round) {
        const pid_t pid = test::StartKeltra({"image", device.Path(), image, "--skip-bad"});
        std::this_thread::sleep_for(whole * (5 + random() % 36) / 100);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFSIGNALED(status)) ++killed;
        if (fs::exists(RescueMapPath(image))) LoadMap(RescueMapPath(image));
    }
    EXPECT_GT(killed, 0);
    const auto last = test::RunKeltra({"image", device.Path(), image, "--skip-bad"});
    ASSERT_EQ(last.exitCode, 3) << last.err;
    ExpectFinishedCopy(image, RescueMapPath(image));
}

// A copy GNU ddrescue began (without scraping) is finished by ours; a map of another size is
// refused and left as it was.
TEST_F(RescueDevice, ContinuesFromAMapGnuDdrescueWroteAndRefusesOneOfAnotherSize) {
    test::FailingDevice device(Source(), BadMap());
    ASSERT_TRUE(device.Valid()) << device.Error();
    const std::string image = Work("card.img");
    ASSERT_EQ(test::RunProgram({"ddrescue", "-q", "-d", "-n", device.Path(), image,
                                RescueMapPath(image)}),
              0);
    EXPECT_GT(LoadMap(RescueMapPath(image)).BytesWith(S::kNonScraped), 0u);
    const std::string before = test::Sha256OfFile(RescueMapPath(image));

    const auto part = test::RunKeltra(
        {"image", device.Path() + "@0:1000", image, "--skip-bad"});
    EXPECT_EQ(part.exitCode, 1);
    EXPECT_NE(part.err.find("another source"), std::string::npos) << part.err;
    EXPECT_EQ(test::Sha256OfFile(RescueMapPath(image)), before);

    const auto result = test::RunKeltra({"image", device.Path(), image, "--skip-bad"});
    ASSERT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.out.find("Continued from the map"), std::string::npos) << result.out;
    ExpectFinishedCopy(image, RescueMapPath(image));
}

// A device that goes away mid-copy ends the copy with its map saved; back again, the copy goes
// on to the end.
TEST_F(RescueDevice, AVanishedDeviceEndsTheCopyAndItContinuesWhenBack) {
    const std::string image = Work("card.img");
    {
        // Slow enough (5 ms a read) that the copy is still running when the plug is pulled.
        test::FailingDevice device(Source(), BadMap(), {"delay:delay-read=5ms"});
        ASSERT_TRUE(device.Valid()) << device.Error();
        const pid_t pid = test::StartKeltra({"image", device.Path(), image, "--skip-bad"});
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        device.Unplug();
        const auto start = Clock::now();
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_LT(SecondsSince(start), 10.0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const RescueMap saved = LoadMap(RescueMapPath(image));
        EXPECT_GT(saved.BytesWith(S::kFinished), 0u);
        EXPECT_GT(saved.BytesWith(S::kNonTried), 0u);
    }
    test::FailingDevice device(Source(), BadMap());
    ASSERT_TRUE(device.Valid()) << device.Error();
    const auto result = test::RunKeltra({"image", device.Path(), image, "--skip-bad"});
    ASSERT_EQ(result.exitCode, 3) << result.err;
    ExpectFinishedCopy(image, RescueMapPath(image));
}

// A whole-source pass over the device skips ahead over its bad stretch instead of asking for
// each of its sectors (on a dying disk every failed read can take seconds), and tells how many
// sectors it could not read or passed over.
TEST_F(RescueDevice, AWholeSourcePassSkipsOverTheBadStretch) {
    const std::string log = Work("nbdkit.log");
    test::FailingDevice device(Source(), BadMap(), {"log:logfile=" + log});
    ASSERT_TRUE(device.Valid()) << device.Error();
    const auto result = test::RunKeltra({"scan", device.Path(), "--carve-only"},
                                        {"XDG_DATA_HOME=" + Work("xdg")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    uint64_t bad = 0;
    for (const auto& range : BadRanges()) bad += range.second;
    const size_t at = result.err.find(" sectors of '" + device.Path() + "' could not be read");
    ASSERT_NE(at, std::string::npos) << result.err;
    const uint64_t told = std::stoull(result.err.substr(result.err.rfind(' ', at - 1) + 1));
    EXPECT_GE(told, bad);
    EXPECT_LE(told, bad + 2048 + 256);
    std::ifstream in(log);
    int failed = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("Read") != std::string::npos && line.find("return=-1") != std::string::npos) {
            ++failed;
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 400);
}

// Reads that fail at random (5% of them) are read on a later try: with enough retries the copy
// is whole.
TEST_F(RescueDevice, RetriesGetPastReadsThatFailAtRandom) {
    constexpr uint64_t kBytes = 16ull << 20;
    const std::string source = Work("small.img");
    const auto all = test::ReadWholeFile(Source());
    test::WriteWholeFile(source, std::span(all).first(kBytes));
    const std::string good = Work("good.map");
    WriteText(good, Truth(kBytes, {}).Format({}));
    test::FailingDevice device(source, good, {"error:error-pread-rate=5%,error-pread=EIO"});
    ASSERT_TRUE(device.Valid()) << device.Error();
    const std::string image = Work("small-copy.img");
    const auto result =
        test::RunKeltra({"image", device.Path(), image, "--skip-bad", "--retries", "12"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(test::Sha256OfFile(image), test::Sha256OfFile(source));
    EXPECT_EQ(LoadMap(RescueMapPath(image)).BytesWith(S::kFinished), kBytes);
}

}  // namespace
}  // namespace keltra
