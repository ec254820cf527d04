#include "support/engine_tree.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace keltra::test {

std::map<std::string, Listed> ListTree(IFileRecoveryParse& engine) {
    std::map<std::string, Listed> out;
    struct Pending {
        std::optional<FoundRecord> folder;
        int depth;
        std::string prefix;
    };
    std::vector<Pending> work{{std::nullopt, 0, ""}};
    while (!work.empty() && out.size() < 100000) {
        const Pending p = work.back();
        work.pop_back();
        std::vector<FoundRecord> children;
        EXPECT_EQ(engine.ListFolder(p.folder ? &*p.folder : nullptr, p.depth, children), kOk);
        for (const FoundRecord& c : children) {
            const std::string path = p.prefix + std::string(c.Name());
            out[path] = {path, c};
            if (c.isFolder != 0 && p.depth < 64) work.push_back({c, p.depth + 1, path + "/"});
        }
    }
    return out;
}

}  // namespace keltra::test
