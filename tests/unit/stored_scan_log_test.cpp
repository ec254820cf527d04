// Scan logs written by an earlier build (tests/data/scanlogs: a quick NTFS scan of
// photos_ntfs.img and a carving pass over the carving samples laid end to end) open and list
// as that build listed them: `listing.jsonl` beside each log is its `keltra scan --json`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands/found_output.h"
#include "engines/carving/signature_carver.h"
#include "engines/ntfs/quick_ntfs_scan.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Copies the stored log set into `to` (a reopened log may be written to) and returns the name
// of its main file, the one without a "_Relation", "_DirInfo" or "_Source" suffix.
std::string CopyStoredLog(const std::string& set, const fs::path& to) {
    std::string main;
    for (const auto& entry : fs::directory_iterator(test::TestDataPath("scanlogs/" + set))) {
        const std::string name = entry.path().filename().string();
        if (name == "listing.jsonl") continue;
        fs::copy_file(entry.path(), to / name);
        const bool part =
            name.ends_with("_Relation") || name.ends_with("_DirInfo") || name.ends_with("_Source");
        if (!part) main = name;
    }
    return main;
}

nlohmann::json TimeJson(uint64_t fileTime) {
    const auto text = cli::IsoTime(fileTime);
    return text ? nlohmann::json(*text) : nlohmann::json();
}

// One line per record: path, size, folder, intact, location and times, sorted.
std::vector<std::string> Listing(FoundFiles& engine) {
    std::vector<std::string> lines;
    test::WalkTree(engine, [&lines](const std::string& path, const FoundRecord& r) {
        const nlohmann::json line = {{"path", path},
                                     {"size", r.size},
                                     {"is_folder", r.isFolder != 0},
                                     {"intact", r.contentIntact != 0},
                                     {"location", r.location},
                                     {"created", TimeJson(r.created)},
                                     {"modified", TimeJson(r.modified)},
                                     {"accessed", TimeJson(r.accessed)}};
        lines.push_back(line.dump());
    });
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The same lines from what the earlier build printed.
std::vector<std::string> StoredListing(const std::string& set) {
    std::ifstream in(test::TestDataPath("scanlogs/" + set + "/listing.jsonl"));
    std::vector<std::string> lines;
    std::string text;
    while (std::getline(in, text)) {
        const nlohmann::json item = nlohmann::json::parse(text);
        const nlohmann::json line = {
            {"path", item["path"].get<std::string>() + item["name"].get<std::string>()},
            {"size", item["size"]},
            {"is_folder", item["is_folder"]},
            {"intact", item["intact"]},
            {"location", item["location"]},
            {"created", item["created"]},
            {"modified", item["modified"]},
            {"accessed", item["accessed"]}};
        lines.push_back(line.dump());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(StoredScanLog, QuickNtfsLogOfAnEarlierBuildListsAsItDid) {
    test::ScratchDir folder;
    const std::string log = CopyStoredLog("quick_ntfs", folder.Path());
    QuickNtfsScan engine;
    engine.SetLogFolder(folder.Path().string());
    ASSERT_EQ(engine.Scan(log), kOk);
    const std::vector<std::string> stored = StoredListing("quick_ntfs");
    ASSERT_EQ(stored.size(), 11u);
    EXPECT_EQ(engine.GetRecordCount(), stored.size());
    EXPECT_EQ(Listing(engine), stored);
}

TEST(StoredScanLog, CarvingLogOfAnEarlierBuildListsAsItDid) {
    test::ScratchDir folder;
    const std::string log = CopyStoredLog("carving", folder.Path());
    SignatureCarver engine;
    engine.SetLogFolder(folder.Path().string());
    // Listing reads only the log; any readable file stands for the image it was carved from.
    ASSERT_EQ(engine.OpenWithLog(SourceRef::Image((folder.Path() / log).string(), 0), 512, log),
              kOk);
    const std::vector<std::string> stored = StoredListing("carving");
    ASSERT_EQ(stored.size(), 110u);
    EXPECT_EQ(engine.GetRecordCount(), stored.size());
    EXPECT_EQ(Listing(engine), stored);
}

}  // namespace
}  // namespace keltra
