// Images of whole disks: their partition tables read like a disk's, each volume scanned with its
// files kept apart, one volume or a sector range picked, and damaged tables told about.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "cli/commands/source_argument.h"
#include "storage/gpt_table.h"
#include "storage/image_volumes.h"
#include "storage/partition_probe.h"
#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// "partition start length kind file-system" for each entry.
std::vector<std::string> Rows(const ImageVolumes& image) {
    std::vector<std::string> rows;
    for (const VolumeEntry& e : image.entries) {
        rows.push_back(std::to_string(e.partitionNumber) + " " + std::to_string(e.start) + " " +
                       std::to_string(e.length) + " " + std::to_string(e.kind) + " " +
                       e.fileSystemName);
    }
    return rows;
}

using Strings = std::vector<std::string>;

// The lines the command line tells about the table.
Strings Problems(const ImageVolumes& image) {
    Strings lines;
    for (const ImageTableProblem& problem : image.problems) lines.push_back(problem.Text());
    return lines;
}

TEST(ImageVolumes, TablesAreReadLikeADisks) {
    ImageVolumes mbr;
    ASSERT_EQ(ListImageVolumes(test::FixturePath("tables_mbr.img"), mbr), kOk);
    EXPECT_EQ(mbr.tableType, "dos");
    EXPECT_EQ(mbr.totalSectors, 102400u);
    // The extended partition is a container only; its logical partition is numbered 5.
    EXPECT_EQ(Rows(mbr),
              (Strings{"1 2048 32768 6 FAT", "2 34816 32768 7 NTFS", "5 69632 32768 6 FAT"}));
    EXPECT_TRUE(mbr.problems.empty());
    EXPECT_EQ(mbr.entries[2].letter, 3);
    EXPECT_EQ(mbr.entries[0].volumePath, test::FixturePath("tables_mbr.img"));
    EXPECT_EQ(mbr.entries[0].volumeLabel, "PHOTOS1");
    EXPECT_EQ(ImageVolumeName(mbr.entries[1]), "Partition 2 (NTFS)");

    ImageVolumes gpt;
    ASSERT_EQ(ListImageVolumes(test::FixturePath("tables_gpt.img"), gpt), kOk);
    EXPECT_EQ(gpt.tableType, "gpt");
    // The stretch after the last volume (backup table included) is shorter than a cylinder.
    EXPECT_EQ(Rows(gpt), (Strings{"1 2048 32768 7 NTFS", "2 34816 32768 6 FAT"}));

    // The older fixture leaves 100 MiB between its volumes: a stretch no volume covers.
    ImageVolumes gap;
    ASSERT_EQ(ListImageVolumes(test::FixturePath("mbr.img"), gap), kOk);
    ASSERT_EQ(gap.entries.size(), 3u);
    EXPECT_EQ(gap.entries[1].kind, kKindNone);
    EXPECT_EQ(gap.entries[1].partitionNumber, -1);
    EXPECT_EQ(gap.entries[1].start, 34816u);
    EXPECT_EQ(gap.entries[1].length, 239616u - 34816u);

    // An image cut short (a disk copied only in part) keeps the GPT table at its start, whose
    // disk is longer than the image: the table is read, the volume past the cut is cut too.
    test::ScratchDir cut;
    fs::copy_file(test::FixturePath("tables_gpt.img"), cut / "cut.img");
    fs::resize_file(cut / "cut.img", 20u << 20);
    ImageVolumes shortGpt;
    ASSERT_EQ(ListImageVolumes(cut / "cut.img", shortGpt), kOk);
    EXPECT_EQ(shortGpt.tableType, "gpt");
    EXPECT_EQ(Rows(shortGpt), (Strings{"1 2048 32768 7 NTFS", "2 34816 6144 6 FAT"}));
    const Strings cutLines = Problems(shortGpt);
    ASSERT_EQ(cutLines.size(), 2u) << testing::PrintToString(cutLines);
    EXPECT_NE(cutLines[0].find("a disk of 69632 sectors, but the image holds only 40960 "
                               "(it was cut short); the partitions are read"),
              std::string::npos)
        << cutLines[0];
    EXPECT_NE(cutLines[1].find("partition 2 (sectors 34816 to 67583) ends past the end"),
              std::string::npos)
        << cutLines[1];
    // Its header spoiled as well (a changed byte of the disk's identifier fails the header's
    // checksum): no table is taken, and why is told.
    {
        std::fstream image(cut / "cut.img", std::ios::in | std::ios::out | std::ios::binary);
        image.seekp(512 + 56);
        image.put('\x5a');
    }
    ImageVolumes damaged;
    ASSERT_EQ(ListImageVolumes(cut / "cut.img", damaged), kOk);
    EXPECT_TRUE(damaged.tableType.empty());
    EXPECT_TRUE(damaged.entries.empty());
    ASSERT_EQ(Problems(damaged).size(), 1u);
    EXPECT_NE(Problems(damaged)[0].find("that table is damaged: it cannot be used"),
              std::string::npos)
        << Problems(damaged)[0];

    // A file system image holds no table; a missing file is an error.
    ImageVolumes plain;
    ASSERT_EQ(ListImageVolumes(test::FixturePath("photos_ntfs.img"), plain), kOk);
    EXPECT_TRUE(plain.tableType.empty());
    EXPECT_TRUE(plain.entries.empty());
    test::ScratchDir dir;
    EXPECT_EQ(ListImageVolumes(dir / "missing.img", plain), kErrFileNotFound);
}

TEST(ImageVolumes, EntriesTheImageCannotHoldAreToldAndLeftOut) {
    ImageVolumes bad;
    ASSERT_EQ(ListImageVolumes(test::FixturePath("tables_bad.img"), bad), kOk);
    EXPECT_EQ(bad.totalSectors, 40960u);
    // Partition 4 is cut to the image's end; 2 (past the end) and 3 (inside 1) are left out.
    EXPECT_EQ(Rows(bad), (Strings{"1 2048 32768 6 FAT", "4 36864 4096 6 FAT"}));
    const Strings lines = Problems(bad);
    ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[0],
              "partition 2 (sectors 100000 to 102047) starts past the end of the image (40960 "
              "sectors); left out");
    EXPECT_EQ(lines[1],
              "partition 4 (sectors 36864 to 45055) ends past the end of the image (40960 "
              "sectors); only its first 4096 sectors are there");
    EXPECT_EQ(lines[2],
              "partition 3 (sectors 10000 to 14095) overlaps partition 1 (sectors 2048 to "
              "34815); left out");
}

// A GPT disk image made by sfdisk whose entries 1, 3 and 7 are used; empty without sfdisk.
std::string MakeGappedGptImage(const test::ScratchDir& dir) {
    const std::string image = dir / "gapped.img";
    const std::string script = dir / "make.sh";
    std::ofstream(script)
        << "set -e\n"
           "truncate -s 40M \"$1\"\n"
           "sfdisk -q \"$1\" <<'LAYOUT'\n"
           "label: gpt\n"
           "x1 : start=2048, size=4096, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n"
           "x3 : start=8192, size=8192, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"
           "x7 : start=20480, size=2048, type=E6D6D379-F507-44C2-A23C-238F2A3DF928\n"
           "LAYOUT\n";
    const std::string command = "bash '" + script + "' '" + image + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? image : "";
}

TEST(GptTable, ReadsWhatLibblkidReadsAndChecksItsFields) {
    // The program's own reading of a sound table gives what libblkid gives: the fixture's,
    // and one whose entries leave gaps (numbered by their place: 1, 3, 7).
    test::ScratchDir dir;
    const std::string gapped = MakeGappedGptImage(dir);
    ASSERT_FALSE(gapped.empty()) << "sfdisk could not make the image";
    for (const auto& [path, disk, numbers] :
         std::vector<std::tuple<std::string, uint64_t, std::vector<int>>>{
             {test::FixturePath("tables_gpt.img"), 69632, {1, 2}}, {gapped, 81920, {1, 3, 7}}}) {
        FileHandle image;
        ASSERT_EQ(FileHandle::OpenForReading(path, image), kOk);
        const auto header = ReadGptHeader(image);
        ASSERT_TRUE(header) << path;
        EXPECT_TRUE(header->checksumHolds);
        EXPECT_EQ(header->header.diskSectors, disk);
        const auto own = ReadGptEntries(image, header->header);
        const auto theirs = ReadPartitionTable(image);
        ASSERT_TRUE(own && theirs) << path;
        ASSERT_EQ(own->size(), numbers.size()) << path;
        ASSERT_EQ(own->size(), theirs->size());
        for (size_t i = 0; i < own->size(); ++i) {
            EXPECT_EQ((*own)[i].number, numbers[i]);
            EXPECT_EQ((*own)[i].number, (*theirs)[i].number);
            EXPECT_EQ((*own)[i].startBytes, (*theirs)[i].startBytes);
            EXPECT_EQ((*own)[i].lengthBytes, (*theirs)[i].lengthBytes);
            EXPECT_EQ((*own)[i].typeGuid, (*theirs)[i].typeGuid);
        }
    }

    // Cut at sector 20480: partition 7 starts at the cut and is left out; 1 and 3 are whole.
    fs::resize_file(gapped, 20480u * 512);
    ImageVolumes cut;
    ASSERT_EQ(ListImageVolumes(gapped, cut), kOk);
    EXPECT_EQ(cut.tableType, "gpt");
    Strings kept;
    for (const VolumeEntry& e : cut.entries) {
        if (e.partitionNumber > 0) kept.push_back(std::to_string(e.partitionNumber));
    }
    EXPECT_EQ(kept, (Strings{"1", "3"}));
    const Strings lines = Problems(cut);
    ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[1],
              "partition 7 (sectors 20480 to 22527) starts past the end of the image (20480 "
              "sectors); left out");

    // Header fields that make no table.
    const auto sector = test::ReadWholeFile(test::FixturePath("tables_gpt.img"));
    std::vector<std::byte> good(sector.begin() + 512, sector.begin() + 1024);
    ASSERT_TRUE(ParseGptHeader(good));
    const auto spoiled = [&](size_t at, uint64_t value, size_t width) {
        auto copy = good;
        std::memcpy(copy.data() + at, &value, width);
        return ParseGptHeader(copy).has_value();
    };
    EXPECT_FALSE(spoiled(24, 2, 8)) << "a header that is not in sector 1";
    EXPECT_FALSE(spoiled(32, 40, 8)) << "a backup header among the usable sectors";
    EXPECT_FALSE(spoiled(32, UINT64_MAX / 256, 8)) << "a disk no file can hold";
    EXPECT_FALSE(spoiled(84, 100, 4)) << "entries shorter than 128 bytes";
    EXPECT_FALSE(spoiled(80, 1u << 20, 4)) << "more entry bytes than a table holds";
    EXPECT_FALSE(spoiled(12, 600, 4)) << "a header longer than its sector";

    // Entries of 256 bytes: an unused one, one ending before it starts, one outside the usable
    // sectors, and two sound ones, numbered by their place.
    GptHeader h;
    h.firstUsable = 34;
    h.lastUsable = 10000;
    h.entryCount = 6;
    h.entrySize = 256;
    std::vector<std::byte> entries(h.EntryBytes());
    const auto put = [&](uint32_t index, uint64_t first, uint64_t last) {
        std::byte* e = entries.data() + index * h.entrySize;
        // Microsoft basic data: ebd0a0a2-b9e5-4433-87c0-68b6b72699c7
        const uint8_t type[16] = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                  0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
        std::memcpy(e, type, 16);
        std::memcpy(e + 32, &first, 8);
        std::memcpy(e + 40, &last, 8);
    };
    put(1, 2048, 4095);
    put(2, 5000, 4999);
    put(3, 9000, 10001);
    put(5, 34, 34);
    const auto slots = ParseGptEntries(entries, h);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].number, 2);
    EXPECT_EQ(slots[0].startBytes, 2048u * 512);
    EXPECT_EQ(slots[0].lengthBytes, 2048u * 512);
    EXPECT_EQ(slots[0].typeGuid, "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7");
    EXPECT_EQ(slots[1].number, 6);
    EXPECT_EQ(slots[1].lengthBytes, 512u);
    // An array shorter than the header says gives the entries it holds.
    EXPECT_EQ(ParseGptEntries(std::span(entries).first(3 * 256), h).size(), 1u);
}

TEST(ImageSourceArgument, PicksAVolumeOrASectorRange) {
    const std::string mbr = test::FixturePath("tables_mbr.img");
    cli::SourceArgument arg;
    std::string error;
    ASSERT_TRUE(cli::ParseSourceArgument(mbr + "@5", arg, error)) << error;
    EXPECT_TRUE(arg.isImage);
    EXPECT_EQ(arg.imagePath, mbr);
    EXPECT_EQ(arg.startSector, 69632u);
    EXPECT_EQ(arg.sectorCount, 32768u);
    EXPECT_EQ(arg.volumeName, "Partition 5 (FAT)");
    EXPECT_EQ(arg.text, mbr + "@5");
    EXPECT_FALSE(arg.inWholeImage);

    ASSERT_TRUE(cli::ParseSourceArgument(mbr + "@34816:100", arg, error)) << error;
    EXPECT_EQ(arg.startSector, 34816u);
    EXPECT_EQ(arg.sectorCount, 100u);
    EXPECT_FALSE(arg.IsWholeImage());

    // A whole image becomes its volumes; anything else stays as it is.
    ASSERT_TRUE(cli::ParseSourceArgument(mbr, arg, error)) << error;
    EXPECT_TRUE(arg.IsWholeImage());
    std::vector<std::string> notes;
    const auto volumes = cli::ExpandImageVolumes(arg, notes);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[1].text, mbr + "@2");
    EXPECT_TRUE(volumes[1].inWholeImage);
    EXPECT_TRUE(notes.empty());
    ASSERT_TRUE(cli::ParseSourceArgument(test::FixturePath("photos_fat.img"), arg, error));
    EXPECT_EQ(cli::ExpandImageVolumes(arg, notes).size(), 1u);

    // A name that exists as written is a file, "@" or not.
    test::ScratchDir dir;
    fs::copy_file(test::FixturePath("photos_ntfs.img"), dir / "card@2");
    ASSERT_TRUE(cli::ParseSourceArgument(dir / "card@2", arg, error)) << error;
    EXPECT_TRUE(arg.IsWholeImage());
    EXPECT_EQ(arg.imagePath, dir / "card@2");

    const std::string bad = test::FixturePath("tables_bad.img");
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
             {mbr + "@3", "has no partition 3; its partitions: 1, 2, 5"},
             {mbr + "@0", "expected IMAGE@N (a partition) or IMAGE@START:COUNT (sectors)"},
             {mbr + "@x", "expected IMAGE@N"},
             {mbr + "@1:0", "expected IMAGE@N"},
             {mbr + "@102399:2", "the range passes the end of '" + mbr + "' (102400 sectors"},
             {mbr + "@102400:1", "the range passes the end"},
             {bad + "@3", "partition 3 (sectors 10000 to 14095) overlaps partition 1"},
             {test::FixturePath("photos_fat.img") + "@1", "holds no partition table"},
             {dir / "missing.img@1", "cannot open '" + (dir / "missing.img@1") + "'"},
         }) {
        EXPECT_FALSE(cli::ParseSourceArgument(text, arg, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << text << "\n" << error;
    }
}

class CliOnTables : public testing::Test {
  protected:
    test::CommandResult Run(std::vector<std::string> args) {
        return test::RunKeltra(args,
                               {"XDG_DATA_HOME=" + (data_ / ("xdg" + std::to_string(++runs_)))});
    }
    // Found path → JSON object, from one JSON line per item.
    static std::map<std::string, nlohmann::json> Found(const std::string& out) {
        std::map<std::string, nlohmann::json> found;
        for (const std::string& line : test::OutputLines(out)) {
            const auto j = nlohmann::json::parse(line);
            found[j["path"].get<std::string>() + j["name"].get<std::string>()] = j;
        }
        return found;
    }
    test::ScratchDir data_;
    int runs_ = 0;
};

TEST_F(CliOnTables, ScanListsEveryVolumesFilesUnderItsVolume) {
    for (const auto& [image, volumes] :
         std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>{
             {"tables_mbr.img",
              {{"Partition 1 (FAT)", "@1"},
               {"Partition 2 (NTFS)", "@2"},
               {"Partition 5 (FAT)", "@5"}}},
             {"tables_gpt.img", {{"Partition 1 (NTFS)", "@1"}, {"Partition 2 (FAT)", "@2"}}}}) {
        const std::string path = test::FixturePath(image);
        const auto r = Run({"scan", path, "--json"});
        ASSERT_EQ(r.exitCode, 0) << image << "\n" << r.err;
        const auto found = Found(r.out);
        std::set<std::string> files;
        for (const auto& [found_path, j] : found) {
            if (j["is_folder"] == false) files.insert(found_path);
        }
        std::set<std::string> expected;
        for (const auto& [volume, pick] : volumes) {
            for (const std::string& file : test::PhotoDeletedFiles()) {
                const std::string at = volume + "/" + file;
                expected.insert(at);
                ASSERT_TRUE(found.count(at)) << at << " not listed:\n" << r.out;
                EXPECT_EQ(found.at(at)["size"], fs::file_size(test::PhotoOriginal(file))) << at;
                EXPECT_EQ(found.at(at)["source"], path + pick) << at;
            }
        }
        EXPECT_EQ(files, expected) << "no file is listed twice or outside its volume";
    }
}

TEST_F(CliOnTables, RecoverKeepingPathsMakesOneFolderPerVolume) {
    test::ScratchDir out;
    const auto r =
        Run({"recover", test::FixturePath("tables_mbr.img"), "--to", out / "dest", "--keep-paths"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::OutputLines(r.out).back(), "18 recovered, 0 failed");
    for (const char* volume : {"Partition 1 (FAT)", "Partition 2 (NTFS)", "Partition 5 (FAT)"}) {
        for (const std::string& file : test::PhotoDeletedFiles()) {
            const std::string at = out / ("dest/" + std::string(volume) + "/" + file);
            EXPECT_EQ(test::Sha256OfFile(at), test::Sha256OfFile(test::PhotoOriginal(file))) << at;
        }
    }
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(out / "dest")) {
        top.insert(entry.path().filename());
    }
    EXPECT_EQ(top, (std::set<std::string>{"Partition 1 (FAT)", "Partition 2 (NTFS)",
                                          "Partition 5 (FAT)"}));

    // cat reaches a file by the same path.
    const auto text = Run(
        {"cat", test::FixturePath("tables_gpt.img"), "Partition 2 (FAT)/Docs/Meeting notes.txt"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const auto original = test::ReadWholeFile(test::PhotoOriginal("Docs/Meeting notes.txt"));
    EXPECT_EQ(text.out,
              std::string(reinterpret_cast<const char*>(original.data()), original.size()));
}

TEST_F(CliOnTables, PickingOneVolumeOrARangeScansOnlyIt) {
    const std::string gpt = test::FixturePath("tables_gpt.img");
    const auto one = Run({"scan", gpt + "@2", "--json"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    const auto found = Found(one.out);
    for (const std::string& file : test::PhotoDeletedFiles()) {
        ASSERT_TRUE(found.count(file)) << file << " not listed at the root:\n" << one.out;
        EXPECT_EQ(found.at(file)["origin"], "quick-fat");
        EXPECT_EQ(found.at(file)["source"], gpt + "@2");
    }
    for (const auto& [path, j] : found) EXPECT_EQ(j["origin"], "quick-fat") << path;

    test::ScratchDir out;
    const auto range = Run({"recover", gpt + "@2048:32768", "--to", out / "ntfs", "--keep-paths"});
    ASSERT_EQ(range.exitCode, 0) << range.err;
    for (const std::string& file : test::PhotoDeletedFiles()) {
        EXPECT_EQ(test::Sha256OfFile(out / ("ntfs/" + file)),
                  test::Sha256OfFile(test::PhotoOriginal(file)))
            << file;
    }

    // Carving keeps to the partition too.
    const auto carved = Run({"scan", gpt + "@2", "--carve-only", "--json"});
    ASSERT_EQ(carved.exitCode, 0) << carved.err;
    ASSERT_FALSE(test::OutputLines(carved.out).empty());
    for (const auto& [path, j] : Found(carved.out)) {
        EXPECT_GE(j["location"], 34816u) << path;
        EXPECT_LT(j["location"], 34816u + 32768u) << path;
    }

    const auto missing = Run({"scan", gpt + "@7"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("has no partition 7; its partitions: 1, 2"), std::string::npos)
        << missing.err;
}

TEST_F(CliOnTables, DeepScanKeepsEachVolumeApartAndRecoversItsFiles) {
    const std::string mbr = test::FixturePath("tables_mbr.img");
    const std::map<std::string, std::pair<uint64_t, uint64_t>> volumes = {
        {"Partition 1 (FAT)", {2048, 32768}},
        {"Partition 2 (NTFS)", {34816, 32768}},
        {"Partition 5 (FAT)", {69632, 32768}}};
    const auto r = Run({"scan", mbr, "--deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto found = Found(r.out);
    for (const auto& [volume, range] : volumes) {
        for (const std::string& file : test::PhotoDeletedFiles()) {
            const std::string at = volume + "/" + file;
            ASSERT_TRUE(found.count(at)) << at << " not listed:\n" << r.out;
            EXPECT_EQ(found.at(at)["size"], fs::file_size(test::PhotoOriginal(file))) << at;
        }
    }
    for (const auto& [path, j] : found) {
        const std::string volume = path.substr(0, path.find('/'));
        ASSERT_TRUE(volumes.count(volume)) << path << " outside every volume";
        if (j["origin"] == "carving") {
            EXPECT_GE(j["location"], volumes.at(volume).first) << path;
            EXPECT_LT(j["location"], volumes.at(volume).first + volumes.at(volume).second) << path;
        }
    }

    test::ScratchDir out;
    const auto rec = Run({"recover", mbr, "--deep", "--to", out / "dest", "--keep-paths"});
    ASSERT_EQ(rec.exitCode, 0) << rec.err;
    for (const auto& [volume, range] : volumes) {
        for (const std::string& file : test::PhotoDeletedFiles()) {
            const std::string at = out / ("dest/" + volume + "/" + file);
            EXPECT_EQ(test::Sha256OfFile(at), test::Sha256OfFile(test::PhotoOriginal(file))) << at;
        }
    }
}

TEST_F(CliOnTables, DeepScanOfOneVolumeScansAndContinuesOnlyIt) {
    const std::string mbr = test::FixturePath("tables_mbr.img");
    const std::string env = "XDG_DATA_HOME=" + (data_ / "shared");
    const auto first = test::RunKeltra({"scan", mbr + "@2", "--deep", "--json"}, {env});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const auto found = Found(first.out);
    for (const std::string& file : test::PhotoDeletedFiles()) {
        ASSERT_TRUE(found.count(file)) << file << " not listed at the root:\n" << first.out;
    }
    for (const auto& [path, j] : found) {
        EXPECT_EQ(j["source"], mbr + "@2") << path;
        if (j["origin"] == "carving") {
            EXPECT_GE(j["location"], 34816u) << path;
            EXPECT_LT(j["location"], 34816u + 32768u) << path;
        }
    }

    // The scan of another volume of the same image is a scan of its own, not a continuation.
    const auto other = test::RunKeltra({"scan", mbr + "@5", "--deep", "--json"}, {env});
    ASSERT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(other.err.find("continuing"), std::string::npos) << other.err;
    const auto otherFound = Found(other.out);
    for (const std::string& file : test::PhotoDeletedFiles()) {
        EXPECT_TRUE(otherFound.count(file)) << file << "\n" << other.out;
    }
    const auto again = test::RunKeltra({"scan", mbr + "@2", "--deep"}, {env});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("continuing the earlier deep scan of '" + mbr + "@2'"),
              std::string::npos)
        << again.err;
    // Continuing a finished pass leaves it as it was.
    const auto third = test::RunKeltra({"scan", mbr + "@2", "--deep"}, {env});
    ASSERT_EQ(third.exitCode, 0) << third.err;
    const auto told = [](const std::string& err) { return err.substr(0, err.find('\n')); };
    EXPECT_EQ(told(third.err), told(again.err));
}

TEST_F(CliOnTables, BadEntriesAreToldAndTheOthersScanned) {
    const std::string bad = test::FixturePath("tables_bad.img");
    const auto r = Run({"scan", bad, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* told : {"partition 2 (sectors 100000 to 102047) starts past the end",
                             "partition 3 (sectors 10000 to 14095) overlaps partition 1",
                             "partition 4 (sectors 36864 to 45055) ends past the end"}) {
        EXPECT_NE(r.err.find(told), std::string::npos) << told << "\n" << r.err;
    }
    const auto found = Found(r.out);
    for (const std::string& file : test::PhotoDeletedFiles()) {
        EXPECT_TRUE(found.count("Partition 1 (FAT)/" + file)) << file << "\n" << r.out;
    }
    // The volume cut short by the image's end is scanned as far as it goes.
    std::string gone;
    for (const auto& [path, item] : found) {
        if (path.starts_with("Partition 4 (FAT)/") && item["size"] == 3000) gone = path;
    }
    ASSERT_FALSE(gone.empty()) << r.out;
    const auto data = Run({"cat", bad, gone});
    ASSERT_EQ(data.exitCode, 0) << data.err;
    const auto original = test::ReadWholeFile(test::FixturePath("tables_gone.bin"));
    EXPECT_EQ(data.out,
              std::string(reinterpret_cast<const char*>(original.data()), original.size()));

    const auto probe = Run({"probe", bad, "--json"});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    const auto j = nlohmann::json::parse(probe.out);
    EXPECT_EQ(j["table"], "MBR");
    EXPECT_EQ(j["problems"].size(), 3u);
}

TEST_F(CliOnTables, AnImageCutShortIsScannedByTheTableAtItsStart) {
    // The copy of the GPT disk stops 4 MiB into its second volume: the first is whole, and its
    // deleted files come back byte for byte.
    test::ScratchDir out;
    fs::copy_file(test::FixturePath("tables_gpt.img"), out / "cut.img");
    fs::resize_file(out / "cut.img", 20u << 20);
    const auto r = Run({"recover", out / "cut.img", "--to", out / "dest", "--keep-paths"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("it was cut short"), std::string::npos) << r.err;
    for (const std::string& file : test::PhotoDeletedFiles()) {
        const std::string copy = out / ("dest/Partition 1 (NTFS)/" + file);
        ASSERT_TRUE(fs::exists(copy)) << copy << "\n" << r.err;
        EXPECT_EQ(test::ReadWholeFile(copy), test::ReadWholeFile(test::PhotoOriginal(file)))
            << file;
    }
}

TEST_F(CliOnTables, APartitionIsCopiedOutAndNothingToScanIsAnError) {
    // `keltra image` copies one partition of an image into an image of its own.
    test::ScratchDir out;
    const std::string gpt = test::FixturePath("tables_gpt.img");
    const auto copy = Run({"image", gpt + "@2", out / "part.img"});
    ASSERT_EQ(copy.exitCode, 0) << copy.err;
    const auto whole = test::ReadWholeFile(gpt);
    const auto part = test::ReadWholeFile(out / "part.img");
    ASSERT_EQ(part.size(), 32768u * 512);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + 34816 * 512));
    const auto scan = Run({"scan", out / "part.img", "--json", "--types", "document"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_EQ(test::OutputLines(scan.out).size(), 1u) << scan.out;

    // A table whose only volume holds no file system: told, and nothing scanned is an error.
    std::vector<std::byte> disk(2u << 20);
    const uint8_t entry[16] = {0,    0xfe, 0xff, 0xff, 0x83, 0xfe, 0xff, 0xff,
                               0x40, 0,    0,    0,    0,    0x04, 0,    0};  // sectors 64 to 1087
    for (size_t i = 0; i < 16; ++i) disk[446 + i] = std::byte{entry[i]};
    disk[510] = std::byte{0x55};
    disk[511] = std::byte{0xAA};
    test::WriteWholeFile(out / "blank.img", disk);
    const auto blank = Run({"scan", out / "blank.img"});
    EXPECT_EQ(blank.exitCode, 1);
    EXPECT_NE(blank.err.find("blank.img@1' (Partition 1): no NTFS, exFAT, FAT or Ext file system "
                             "found at its start; passed over"),
              std::string::npos)
        << blank.err;
    EXPECT_NE(blank.err.find("nothing could be scanned"), std::string::npos) << blank.err;
}

TEST_F(CliOnTables, ProbeListsThePartitions) {
    const std::string mbr = test::FixturePath("tables_mbr.img");
    const auto r = Run({"probe", mbr, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["table"], "MBR");
    EXPECT_EQ(j["sector_count"], 102400);
    ASSERT_EQ(j["partitions"].size(), 3u);
    EXPECT_EQ(j["partitions"][1]["partition"], 2);
    EXPECT_EQ(j["partitions"][1]["start_sector"], 34816);
    EXPECT_EQ(j["partitions"][1]["sector_count"], 32768);
    EXPECT_EQ(j["partitions"][1]["kind"], "0x07");
    EXPECT_EQ(j["partitions"][1]["file_system"], "NTFS");
    EXPECT_EQ(j["partitions"][1]["source"], mbr + "@2");
    EXPECT_EQ(j["partitions"][2]["label"], "PHOTOS2");

    const auto text = Run({"probe", mbr});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("PHOTOS1"), std::string::npos) << text.out;

    // One volume is probed as a file system of its own.
    const auto one = Run({"probe", mbr + "@2", "--json"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    const auto jo = nlohmann::json::parse(one.out);
    EXPECT_EQ(jo["class"], "NTFS");
    EXPECT_EQ(jo["start_sector"], 34816);
    EXPECT_EQ(jo["sector_count"], 32768);
}

}  // namespace
}  // namespace keltra
