// `keltra recover` on a volume of crafted names must keep every file inside the destination,
// each under a name that is one safe component, and none in place of another.
#include "support/crafted_names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

TEST(CraftedNames, RecoveredFilesStayInsideTheDestinationUnderSafeNames) {
    test::ScratchDir dir;
    const std::string image = dir / "crafted.img";
    ASSERT_EQ(test::MakeCraftedNamesImage(image, dir.Path().string()), "");

    // Both layouts: into category folders, and keeping the found folders.
    for (const bool keepPaths : {false, true}) {
        const fs::path box = dir.Path() / (keepPaths ? "box-paths" : "box-categories");
        const fs::path dest = box / "dest";
        std::vector<std::string> args = {"recover", image, "--to", dest.string()};
        if (keepPaths) args.push_back("--keep-paths");
        const auto r = test::RunKeltra(args, {"XDG_DATA_HOME=" + (dir / "xdg")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        for (const std::string& problem : test::CraftedRecoveryProblems(box, dest)) {
            ADD_FAILURE() << (keepPaths ? "--keep-paths: " : "") << problem;
        }
    }
}

}  // namespace
}  // namespace keltra
