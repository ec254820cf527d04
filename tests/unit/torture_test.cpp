// Randomly damaged copies of the fixture images: bits flipped, sectors zeroed, filled with
// noise or swapped, the image cut short. Each copy is scanned quick and deep, listed, searched
// and some of its files recovered, in a child process with a time limit: a copy that crashes
// (or trips a sanitizer) or runs past the limit fails the test, which names the copy so that
// it can be made again. KELTRA_TORTURE_COPIES sets the copies per image (the long run of
// `./dev.sh torture N`), KELTRA_TORTURE_SEED the seed, KELTRA_TORTURE_SECONDS the limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "engines/deep/deep_scan.h"
#include "engines/engine_factory.h"
#include "platform/little_endian.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr size_t kSector = 512;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::strtoull(text, nullptr, 10);
}

// Where damage does the most harm: the boot area, the FAT and root folder of a FAT volume,
// the first records of an NTFS volume's MFT, the first folders of an exFAT volume.
std::vector<std::pair<uint64_t, uint64_t>> HotZones(const std::vector<std::byte>& image) {
    std::vector<std::pair<uint64_t, uint64_t>> zones{{0, std::min<uint64_t>(image.size(), 65536)}};
    if (image.size() >= 512 && BytesEqual(image, 3, "NTFS")) {
        const uint64_t cluster = uint64_t{Le16(image, 11)} * Byte(image, 13);
        const uint64_t mft = Le64(image, 48) * cluster;
        if (mft < image.size())
            zones.push_back({mft, std::min<uint64_t>(image.size(), mft + 131072)});
    }
    // exFAT: the start of the cluster heap, where the root folder and the first folders lie.
    if (image.size() >= 512 && BytesEqual(image, 3, "EXFAT   ")) {
        const uint64_t heap = uint64_t{Le32(image, 88)} * kSector;
        if (heap < image.size())
            zones.push_back({heap, std::min<uint64_t>(image.size(), heap + 524288)});
    }
    return zones;
}

struct Damage {
    std::string what;
    std::vector<std::byte> bytes;
};

// One damaged copy; the same (seed, image, copy) always gives the same damage.
Damage MakeDamagedCopy(const std::vector<std::byte>& original, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Damage d{"", original};
    std::vector<std::byte>& b = d.bytes;
    const uint64_t sectors = b.size() / kSector;
    const auto zones = HotZones(original);
    // Half of the places hit fall in a hot zone.
    auto place = [&]() -> uint64_t {
        if (rng() % 2 == 0) {
            const auto& z = zones[rng() % zones.size()];
            return z.first + rng() % (z.second - z.first);
        }
        return rng() % b.size();
    };
    const int kinds = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < kinds; ++k) {
        switch (rng() % 5) {
            case 0: {
                const int flips = 1 + static_cast<int>(rng() % 64);
                for (int i = 0; i < flips; ++i) b[place()] ^= std::byte(1u << (rng() % 8));
                d.what += "bit flips;";
                break;
            }
            case 1: {
                const int runs = 1 + static_cast<int>(rng() % 8);
                for (int i = 0; i < runs; ++i) {
                    const uint64_t s = place() / kSector;
                    const uint64_t n = std::min<uint64_t>(1 + rng() % 16, sectors - s);
                    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(s * kSector), n * kSector,
                                std::byte{0});
                }
                d.what += "zeroed sectors;";
                break;
            }
            case 2: {
                const int runs = 1 + static_cast<int>(rng() % 8);
                for (int i = 0; i < runs; ++i) {
                    const uint64_t s = place() / kSector;
                    const uint64_t n = std::min<uint64_t>(1 + rng() % 4, sectors - s);
                    for (uint64_t j = s * kSector; j < (s + n) * kSector; ++j) {
                        b[j] = static_cast<std::byte>(rng());
                    }
                }
                d.what += "random sectors;";
                break;
            }
            case 3: {
                const int swaps = 1 + static_cast<int>(rng() % 8);
                for (int i = 0; i < swaps; ++i) {
                    const uint64_t x = place() / kSector;
                    const uint64_t y = place() / kSector;
                    std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(x * kSector),
                                     b.begin() + static_cast<std::ptrdiff_t>((x + 1) * kSector),
                                     b.begin() + static_cast<std::ptrdiff_t>(y * kSector));
                }
                d.what += "swapped sectors;";
                break;
            }
            default: {
                // Cut anywhere, also inside a sector and inside the boot area.
                const uint64_t keep = rng() % 4 == 0 ? rng() % 65536 : rng() % b.size();
                b.resize(std::min<uint64_t>(keep, b.size()));
                d.what += "truncated;";
                break;
            }
        }
        if (b.size() < kSector) break;
    }
    return d;
}

// Lists the tree, searches and recovers a few small files into `out`.
void UseEngine(ScanEngine& engine, const fs::path& out) {
    const auto tree = test::ListTree(engine);
    std::vector<FoundRecord> found;
    engine.FindByExtensions("jpg|png|txt|bin|doc", found);
    int copied = 0;
    for (const auto& [path, listed] : tree) {
        if (listed.record.isFolder != 0 || listed.record.size > (1u << 20)) continue;
        if (++copied > 4) break;
        engine.RecoverRecord(listed.record, (out / std::to_string(copied)).string(), 0);
        std::string temp;
        std::vector<std::byte> buffer(16384);
        uint32_t size = static_cast<uint32_t>(buffer.size());
        engine.ReadRecordData(listed.record, temp, buffer, size, nullptr, nullptr);
    }
}

// The work on one copy, in the child.
[[noreturn]] void ScanCopy(const std::string& image, const fs::path& work) {
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    if (auto quick = CreateEngine(SourceRef::Image(image, 1), false)) {
        if (quick->Scan(std::nullopt) >= 0) UseEngine(*quick, work / "quick");
    }
    {
        DeepScan deep;
        if (deep.Open(SourceRef::Image(image, 1)) != kErrHandleEof) {
            deep.Scan(std::nullopt);
            UseEngine(deep, work / "deep");
        }
    }
    std::fflush(nullptr);
    ::_exit(0);
}

enum class Outcome { Ok, Crashed, Hung };

Outcome RunCopy(const std::string& image, const fs::path& work, std::chrono::seconds limit,
                std::string& detail) {
    const pid_t child = ::fork();
    if (child == 0) ScanCopy(image, work);
    if (child < 0) {
        detail = "fork failed";
        return Outcome::Crashed;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            detail = "no end after " + std::to_string(limit.count()) + " s";
            return Outcome::Hung;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return Outcome::Ok;
    detail = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                 : "exit code " + std::to_string(WEXITSTATUS(status));
    return Outcome::Crashed;
}

// The images and how many copies of each a run makes by default: the small volumes get most.
struct TortureImage {
    const char* name;
    uint64_t share;  // copies per 100 of KELTRA_TORTURE_COPIES
};
constexpr TortureImage kImages[] = {
    {"fat12.img", 100},     {"ntfs_small.img", 100}, {"ext4.img", 20},
    {"fat16_deep.img", 10}, {"photos_ntfs.img", 10}, {"exfat.img", 20},
    {"exfat_card_same.img", 5},
};

TEST(Torture, DamagedCopiesOfEveryImageNeverCrashOrHang) {
    const uint64_t perImage = EnvNumber("KELTRA_TORTURE_COPIES", kSanitized ? 30 : 120);
    const uint64_t seed = EnvNumber("KELTRA_TORTURE_SEED", 20261207);
    const auto limit =
        std::chrono::seconds(EnvNumber("KELTRA_TORTURE_SECONDS", kSanitized ? 240 : 60));
    test::ScratchDir scratch;
    uint64_t copies = 0;
    std::vector<std::string> failures;
    uint64_t crashes = 0;
    uint64_t hangs = 0;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < std::size(kImages); ++i) {
        const std::vector<std::byte> original =
            test::ReadWholeFile(test::FixturePath(kImages[i].name));
        ASSERT_GT(original.size(), 65536u) << kImages[i].name;
        const uint64_t count = std::max<uint64_t>(1, perImage * kImages[i].share / 100);
        for (uint64_t n = 0; n < count; ++n) {
            const uint64_t copySeed = seed ^ (i << 48) ^ (n * 0x9E3779B97F4A7C15ull);
            const Damage damage = MakeDamagedCopy(original, copySeed);
            const fs::path work = scratch.Path() / ("copy" + std::to_string(copies));
            fs::create_directories(work);
            const std::string image = (work / "damaged.img").string();
            test::WriteWholeFile(image, damage.bytes);
            std::string detail;
            const Outcome outcome = RunCopy(image, work, limit, detail);
            ++copies;
            if (outcome != Outcome::Ok) {
                (outcome == Outcome::Hung ? hangs : crashes) += 1;
                failures.push_back(std::string(kImages[i].name) + " copy " + std::to_string(n) +
                                   " (seed " + std::to_string(seed) + ", " + damage.what +
                                   "): " + detail);
            }
            fs::remove_all(work);
        }
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    std::cout << "torture: " << copies << " copies, " << crashes << " crashes, " << hangs
              << " hangs, " << seconds << " s\n";
    for (const std::string& f : failures) ADD_FAILURE() << f;
}

}  // namespace
}  // namespace keltra
