// Volumes found outside the source's own: a disk image whose partition table was zeroed, with an
// NTFS and a FAT32 volume holding the same folders, each with a deleted folder whose entry
// survives. Each volume is named and kept apart, and each can be scanned on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "engines/deep/lost_volume_folders.h"
#include "engines/deep/deep_scan.h"
#include "engines/deep/volume_boot_finder.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;
using test::RunKeltra;

constexpr char kNtfsFolder[] = "Lost NTFS volume at sector 2048 (40 MiB)";
constexpr char kFatFolder[] = "Lost FAT32 volume at sector 83968 (48 MiB)";

struct ManifestFile {
    std::string sha256;
    std::string volume;  // "ntfs" or "fat32"
    std::string path;
    bool deleted = false;
};

std::vector<ManifestFile> Manifest() {
    std::vector<ManifestFile> files;
    std::ifstream in(test::FixturePath("lost_volumes.manifest"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        ManifestFile f;
        uint64_t size = 0;
        std::string state;
        fields >> f.sha256 >> size >> f.volume >> f.path >> state;
        f.deleted = state == "deleted";
        files.push_back(f);
    }
    return files;
}

std::string VolumeFolder(const ManifestFile& f) {
    return f.volume == "ntfs" ? kNtfsFolder : kFatFolder;
}

// Where a file is listed: a deleted FAT short name has lost its first letter, which listings
// show as "!".
std::string ListedPath(const ManifestFile& f) {
    fs::path path(f.path);
    std::string name = path.filename().string();
    if (f.deleted && f.volume == "fat32") name[0] = '!';
    return VolumeFolder(f) + "/" + path.parent_path().string() + "/" + name;
}

// Every file a `scan --json` lists, by folder path and name, with how often.
std::map<std::string, int> ListedFiles(const std::string& out) {
    std::map<std::string, int> files;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        const nlohmann::json j = nlohmann::json::parse(line);
        if (!j["is_folder"]) ++files[j["path"].get<std::string>() + j["name"].get<std::string>()];
    }
    return files;
}

// The file system The Sleuth Kit's fsstat reads at `start` ("NTFS", "FAT32"), or empty.
std::string TskFileSystemType(const std::string& image, uint64_t start) {
    const std::string command = "fsstat -o " + std::to_string(start) + " '" + image + "' 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
        pclose(pipe);
    }
    const std::string field = "File System Type: ";
    const size_t at = out.find(field);
    if (at == std::string::npos) return {};
    return out.substr(at + field.size(), out.find('\n', at) - at - field.size());
}

TEST(VolumeSizeText, TakesTheLargestUnitAndOneDecimalWhereNeeded) {
    EXPECT_EQ(VolumeSizeText(512), "512 bytes");
    EXPECT_EQ(VolumeSizeText(40ull << 20), "40 MiB");
    EXPECT_EQ(VolumeSizeText(3ull << 29), "1.5 GiB");
    EXPECT_EQ(VolumeSizeText(1536), "1.5 KiB");
    FoundVolume v;
    v.fileSystem = SourceClass::Ntfs;
    v.firstSector = 63;
    EXPECT_EQ(v.FolderName(), "Lost NTFS volume at sector 63") << "a length not known is not told";
    v.sectorCount = 81920;
    EXPECT_EQ(v.FolderName(), "Lost NTFS volume at sector 63 (40 MiB)");
}

TEST(VolumeBootFinder, KeepsWhatItMetForAContinuedScan) {
    test::ScratchDir dir;
    VolumeBootFinder finder;
    finder.AddSighting(2048);
    finder.AddSighting(83974);
    ASSERT_EQ(finder.Save(dir / "Volumes_0"), kOk);
    VolumeBootFinder again;
    ASSERT_EQ(again.Load(dir / "Volumes_0"), kOk);
    EXPECT_EQ(again.Sightings(), finder.Sightings());
    EXPECT_NE(again.Load(dir / "none"), kOk);
}

TEST(LostVolumes, ProbeDeepNamesEachVolumeWithTheSourceThatScansIt) {
    const std::string image = test::FixturePath("lost_volumes.img");
    const auto probe = RunKeltra({"probe", "--deep", image, "--json"});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    const nlohmann::json j = nlohmann::json::parse(probe.out);
    ASSERT_EQ(j["volumes"].size(), 2u) << probe.out;
    const nlohmann::json& ntfs = j["volumes"][0];
    EXPECT_EQ(ntfs["file_system"], "NTFS");
    EXPECT_EQ(ntfs["start_sector"], 2048);
    EXPECT_EQ(ntfs["sector_count"], 81920);
    EXPECT_EQ(ntfs["name"], kNtfsFolder);
    EXPECT_EQ(ntfs["source"], image + "@2048:81920");
    const nlohmann::json& fat = j["volumes"][1];
    EXPECT_EQ(fat["file_system"], "FAT32");
    EXPECT_EQ(fat["start_sector"], 83968);
    EXPECT_EQ(fat["sector_count"], 98304);
    EXPECT_EQ(fat["label"], "LOSTFAT");
    EXPECT_EQ(fat["name"], kFatFolder);

    // The Sleuth Kit reads a volume of the same type at each place found.
    for (const nlohmann::json& volume : j["volumes"]) {
        const std::string type = TskFileSystemType(image, volume["start_sector"]);
        EXPECT_EQ(type, volume["file_system"].get<std::string>()) << volume.dump();
    }

    // Each is a source of its own: its quick scan lists its deleted files where they were.
    for (const nlohmann::json& volume : j["volumes"]) {
        const auto scan = RunKeltra({"scan", volume["source"].get<std::string>(), "--json"});
        ASSERT_EQ(scan.exitCode, 0) << scan.err;
        const std::map<std::string, int> listed = ListedFiles(scan.out);
        const std::string which = volume["file_system"] == "NTFS" ? "ntfs" : "fat32";
        for (const ManifestFile& f : Manifest()) {
            if (f.volume != which || !f.deleted) continue;
            const std::string name = fs::path(f.path).filename().string();
            const bool found = std::any_of(listed.begin(), listed.end(), [&](const auto& entry) {
                return fs::path(entry.first).filename().string().substr(1) == name.substr(1);
            });
            EXPECT_TRUE(found) << which << ": " << f.path << "\n" << scan.out;
        }
    }
}

TEST(LostVolumes, DeepScanKeepsEachVolumeApartUnderItsNameWithItsDeletedFoldersNamed) {
    test::ScratchDir dir;
    const std::string image = test::FixturePath("lost_volumes.img");
    const std::string env = "XDG_DATA_HOME=" + (dir / "xdg");
    const auto deep = RunKeltra({"scan", image, "--deep", "--json"}, {env});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    const std::map<std::string, int> listed = ListedFiles(deep.out);
    for (const ManifestFile& f : Manifest()) {
        const std::string at = ListedPath(f);
        const auto it = listed.find(at);
        ASSERT_NE(it, listed.end()) << at << "\n" << deep.out;
        EXPECT_EQ(it->second, 1) << at;
    }
    for (const auto& [path, times] : listed) {
        EXPECT_EQ(path.find("LostFolder"), std::string::npos) << path;
        const bool inVolume = path.starts_with(std::string(kNtfsFolder) + "/") ||
                              path.starts_with(std::string(kFatFolder) + "/");
        // Carved files belong to no volume's tree and stay at the root.
        EXPECT_TRUE(inVolume || path.find('/') == std::string::npos) << path;
    }

    // Recovered with their paths, each volume's files land in its own folder, whole.
    const std::string out = dir / "out";
    const auto recovered =
        RunKeltra({"recover", image, "--deep", "--keep-paths", "--to", out}, {env});
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    for (const ManifestFile& f : Manifest()) {
        const std::string at = out + "/" + ListedPath(f);
        ASSERT_TRUE(fs::is_regular_file(at)) << at;
        EXPECT_EQ(test::Sha256OfFile(at), f.sha256) << at;
    }
}

// Stops the pass once it has gone past `stopFrom` sectors (0: never).
struct PassStop {
    uint64_t stopFrom = 0;
    static int OnProgress(void* user, int, int weight, int, uint64_t current, uint64_t, uint64_t,
                          int) {
        const auto* self = static_cast<PassStop*>(user);
        return weight == DeepScan::kPassWeight && self->stopFrom != 0 &&
                       current >= self->stopFrom
                   ? kCancelled
                   : 0;
    }
};

std::set<std::string> FoldersAndFiles(ScanEngine& engine) {
    std::set<std::string> out;
    test::WalkTree(engine, [&out](const std::string& path, const FoundRecord& r) {
        out.insert(path + (r.isFolder != 0 ? "/" : ""));
    });
    return out;
}

// A scan stopped after the pass met both volumes' boot sectors (and their backups) and continued
// later still names both: what the pass met before the stop is kept with the scan.
TEST(LostVolumes, ContinuedScanNamesTheVolumesMetBeforeTheStop) {
    test::ScopedAppDataFolder appData;
    test::ScratchDir dir;
    const std::string image = dir / "lost.img";
    fs::copy_file(test::FixturePath("lost_volumes.img"), image);
    {
        DeepScan first;
        ASSERT_EQ(first.Open(SourceRef::Image(image, 1)), kOk);
        PassStop stop{90000};
        first.SetCallbacks(PassStop::OnProgress, nullptr, &stop, 100);
        ASSERT_EQ(first.Scan(std::nullopt), kCancelled);
    }
    DeepScan second;
    ASSERT_EQ(second.Open(SourceRef::Image(image, 1)), kOk);
    ASSERT_TRUE(second.Resuming());
    PassStop never;
    second.SetCallbacks(PassStop::OnProgress, nullptr, &never, 100);
    ASSERT_EQ(second.Scan(std::nullopt), kOk);
    const std::set<std::string> listed = FoldersAndFiles(second);
    for (const ManifestFile& f : Manifest()) EXPECT_EQ(listed.count(ListedPath(f)), 1u) << f.path;
    std::vector<FoundRecord> root;
    ASSERT_EQ(second.ListFolder(nullptr, 0, root), kOk);
    std::set<std::string> volumeFolders;
    for (const FoundRecord& r : root) {
        if (LostVolumeFolders::IsVolumeFolder(r)) volumeFolders.insert(std::string(r.Name()));
    }
    EXPECT_EQ(volumeFolders, (std::set<std::string>{kNtfsFolder, kFatFolder}));
    // Counting a volume's folder counts its whole tree; a record's path begins with its
    // volume's folder.
    for (const FoundRecord& r : root) {
        if (!LostVolumeFolders::IsVolumeFolder(r)) continue;
        uint32_t count = 0;
        ASSERT_EQ(second.CountFolderFiles(&r, 1, count), kOk);
        EXPECT_EQ(count, 6u) << r.Name();
        std::vector<FoundRecord> members;
        ASSERT_EQ(second.ListFolder(&r, 1, members), kOk);
        for (const FoundRecord& member : members) {
            std::string path;
            ASSERT_EQ(second.GetRecordPath(member, path), kOk);
            EXPECT_EQ(path, std::string(r.Name()) + "/") << member.Name();
        }
    }
}

}  // namespace
}  // namespace keltra
