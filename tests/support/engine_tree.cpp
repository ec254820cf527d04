#include "support/engine_tree.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace keltra::test {

void WalkTree(FoundFiles& engine,
              const std::function<void(const std::string& path, const FoundRecord&)>& visit) {
    size_t visited = 0;
    struct Pending {
        std::optional<FoundRecord> folder;
        int depth;
        std::string prefix;
    };
    std::vector<Pending> work{{std::nullopt, 0, ""}};
    while (!work.empty() && visited < 100000) {
        const Pending p = work.back();
        work.pop_back();
        std::vector<FoundRecord> children;
        EXPECT_EQ(engine.ListFolder(p.folder ? &*p.folder : nullptr, p.depth, children), kOk);
        for (const FoundRecord& c : children) {
            const std::string path = p.prefix + std::string(c.Name());
            visit(path, c);
            ++visited;
            if (c.isFolder != 0 && p.depth < 64) work.push_back({c, p.depth + 1, path + "/"});
        }
    }
}

std::map<std::string, Listed> ListTree(FoundFiles& engine) {
    std::map<std::string, Listed> out;
    WalkTree(engine, [&out](const std::string& path, const FoundRecord& r) {
        out[path] = {path, r};
    });
    return out;
}

}  // namespace keltra::test
