// A continued deep scan reuses only the logs of its own source: another source's quick scan
// written into the same scan folder, or a source that changed under the same name, never lends
// its file list to it, and a copy whose bytes cannot be the file's is never called recovered.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "scanlog/scan_history.h"
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

// Names of the files a quick scan of `image` lists.
std::set<std::string> QuickNames(const std::string& image, const std::string& env) {
    const auto r = RunKeltra({"scan", image, "--json"}, {env});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> names;
    for (const nlohmann::json& j : JsonLines(r.out)) {
        if (!j["is_folder"]) names.insert(j["name"].get<std::string>());
    }
    return names;
}

// Every file `recover --json` wrote, by its target, with whether it was called recovered.
std::map<std::string, bool> Recovered(const test::CommandResult& r) {
    std::map<std::string, bool> out;
    for (const nlohmann::json& j : JsonLines(r.out)) {
        out[j["target"].get<std::string>()] = j["recovered"].get<bool>();
    }
    return out;
}

// Deep-scan partition 1 of a card image (at sector 2048), quick-scan another image (a volume at
// sector 0, whose log lands in the newest scan folder, the deep scan's), then continue the deep
// scan through `recover --deep`: only the card's own files come out, each equal to its original.
TEST(SourceTrust, ContinuedDeepScanNeverTakesAnotherSourcesQuickLog) {
    test::ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const std::string card = dir / "card.img";
    const std::string other = dir / "other.img";
    fs::copy_file(test::FixturePath("tables_mbr.img"), card);
    fs::copy_file(test::FixturePath("fat16_deep.img"), other);

    const auto deep = RunKeltra({"scan", card + "@1", "--deep", "--json"}, {env});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    const std::set<std::string> otherNames = QuickNames(other, env);
    ASSERT_FALSE(otherNames.empty());

    const std::string out = dir / "out";
    const auto r =
        RunKeltra({"recover", card + "@1", "--deep", "--keep-paths", "--json", "--to", out}, {env});
    EXPECT_NE(r.err.find("continuing the earlier deep scan"), std::string::npos) << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::map<std::string, bool> written = Recovered(r);
    std::set<std::string> originals;
    for (const std::string& path : test::PhotoDeletedFiles()) originals.insert(path);
    size_t named = 0;
    for (const auto& [target, recovered] : written) {
        const std::string relative = fs::path(target).lexically_relative(out).string();
        EXPECT_EQ(otherNames.count(fs::path(target).filename().string()), 0u)
            << "a file of the other image came out of the card: " << relative;
        if (originals.count(relative) == 0) continue;  // a carved file of the card
        ++named;
        EXPECT_TRUE(recovered) << relative;
        EXPECT_EQ(test::Sha256OfFile(target), test::Sha256OfFile(test::PhotoOriginal(relative)))
            << relative;
    }
    EXPECT_EQ(named, originals.size()) << r.out;
}

// A scan folder as an earlier version left it: no log names its source, and the quick log found
// first under the card's first sector is in truth another image's. The copies its records give
// are read from the card's sectors: those whose bytes fail their type's test are failures, and
// the command says so with exit code 3.
TEST(SourceTrust, CopiesThatAreNotTheirFileAreFailures) {
    test::ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const std::string card = dir / "card.img";
    const std::string other = dir / "other.img";
    fs::copy_file(test::FixturePath("tables_mbr.img"), card);
    // The photo tree on FAT32: its records place the same names in clusters of another layout.
    fs::copy_file(test::FixturePath("photos_fat.img"), other);
    ASSERT_EQ(RunKeltra({"scan", card + "@1", "--deep"}, {env}).exitCode, 0);
    ASSERT_EQ(RunKeltra({"scan", other}, {env}).exitCode, 0);
    const fs::path folder = dir / "xdg/KeltraPhotoRecovery/ScanLog/1";
    auto each = [&folder](const std::function<void(const fs::path&, const std::string&)>& f) {
        std::vector<fs::path> paths;
        for (const auto& entry : fs::directory_iterator(folder)) paths.push_back(entry.path());
        for (const fs::path& path : paths) f(path, path.filename().string());
    };
    // The card's own quick log goes, and the other image's takes its name.
    each([](const fs::path& path, const std::string& name) {
        if (name == "Source" || name.ends_with("_Source") || name.starts_with("Fast_2048_")) {
            fs::remove(path);
        }
    });
    each([&folder](const fs::path& path, const std::string& name) {
        if (name.starts_with("Fast_0_")) fs::rename(path, folder / ("Fast_2048_" + name.substr(7)));
    });

    const std::string out = dir / "out";
    const auto r = RunKeltra({"recover", card + "@1", "--deep", "--json", "--to", out}, {env});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    size_t photos = 0;
    for (const nlohmann::json& j : JsonLines(r.out)) {
        const std::string name = j["name"].get<std::string>();
        if (name != "Beach day.jpg" && name != "Holiday_001.JPG" && name != "Company logo.png") {
            continue;
        }
        ++photos;
        EXPECT_FALSE(j["recovered"].get<bool>()) << name << " read from the card's sectors";
        EXPECT_FALSE(j["error"].is_null()) << name;
    }
    EXPECT_EQ(photos, 4u) << r.out;
}

}  // namespace
}  // namespace keltra
