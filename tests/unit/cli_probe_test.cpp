#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace keltra {
namespace {

using test::RunKeltra;

TEST(CliProbe, ReportsClassAndBootFields) {
    const auto r = RunKeltra({"probe", test::FixturePath("ntfs.img"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["class"], "NTFS");
    EXPECT_EQ(j["sector_size"], 512);
    EXPECT_EQ(j["sector_count"], 32u * 1024 * 1024 / 512);
    EXPECT_EQ(j["boot_sector"]["bytes_per_sector"], 512);

    const auto fat = RunKeltra({"probe", test::FixturePath("fat32.img"), "--json"});
    ASSERT_EQ(fat.exitCode, 0) << fat.err;
    const auto jf = nlohmann::json::parse(fat.out);
    EXPECT_EQ(jf["class"], "FAT32");
    EXPECT_EQ(jf["boot_sector"]["root_cluster"], 2);
    EXPECT_EQ(jf["boot_sector"]["label"], "KELTRA32");

    const auto text = RunKeltra({"probe", test::FixturePath("ext4.img")});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Ext"), std::string::npos);
}

TEST(CliProbe, UnknownDiskNumberIsAClearError) {
    const auto r = RunKeltra({"probe", "disk:999", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("disk 999"), std::string::npos) << r.err;
}

TEST(CliProbe, BadInputGivesOneLineAndAnExitCode) {
    test::ScratchDir dir;
    const auto missing = RunKeltra({"probe", dir / "nope.img"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;

    const std::string tiny = dir / "tiny.img";
    test::WriteWholeFile(tiny, std::vector<std::byte>(8192));
    const auto small = RunKeltra({"probe", tiny});
    EXPECT_EQ(small.exitCode, 1);
    EXPECT_NE(small.err.find("16 KiB"), std::string::npos) << small.err;

    EXPECT_EQ(RunKeltra({"probe", tiny, "--bogus"}).exitCode, 2);
    EXPECT_EQ(RunKeltra({}).exitCode, 2);
    EXPECT_EQ(RunKeltra({"probe", "disk:x"}).exitCode, 1);
    EXPECT_EQ(RunKeltra({"probe", "/dev/null"}).exitCode, 1);

    const auto help = RunKeltra({"probe", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("SOURCE"), std::string::npos);
}

TEST(CliProbe, LoopDeviceAndItsPartitions) {
    test::LoopDevice loop(test::FixturePath("fat16.img"));
    if (!loop.Valid()) GTEST_SKIP() << "no loop devices here";
    const auto r = RunKeltra({"probe", loop.Device(), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["class"], "FAT12/16");
}

}  // namespace
}  // namespace keltra
