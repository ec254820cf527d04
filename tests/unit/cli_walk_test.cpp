// The command line's walk over what an engine found, against the real record store.
#include <gtest/gtest.h>

#include "cli/commands/found_items.h"
#include "engines/quick_scan.h"
#include "engines/scan_log_store.h"
#include "engines/store_backed_engine.h"
#include "support/test_support.h"

namespace keltra::cli {
namespace {

// A store-backed engine whose "scan" files a small tree: a.jpg and Photos/ under the root,
// b.jpg and 2017/ in Photos, c.jpg and an empty Empty/ in 2017.
class TreeEngine final : public StoreBackedEngine, public QuickScan {
  public:
    explicit TreeEngine(std::string folder) : folder_(std::move(folder)) {}
    Status OpenSource(SectorSource, uint32_t, uint64_t, uint64_t, uint16_t) override { return kOk; }
    Status Scan(const std::optional<std::string>&) override {
        if (const Status s = StartNewLog(folder_, "Fast_0_test"); s != kOk) return s;
        Add(kRoot, 0, "a.jpg", 100, false);
        Add(kRoot, 0, "Photos", 10, true);
        Add(10, 1, "b.jpg", 101, false);
        Add(10, 1, "2017", 11, true);
        Add(11, 2, "c.jpg", 102, false);
        Add(11, 2, "Empty", 12, true);
        return Store()->Flush();
    }
    int NextFreeRange(uint64_t&, uint64_t&) override { return 0; }
    Status LoadVolumeBitmap() override { return kOk; }

  protected:
    uint32_t RootKey() const override { return kRoot; }
    Status ReadFileData(const FoundRecord&, uint64_t, const DataSink&) override { return kOk; }

  private:
    static constexpr uint32_t kRoot = 5;
    void Add(uint32_t parent, uint32_t depth, std::string_view name, uint32_t key, bool folder) {
        FoundRecord& r = Store()->NewRecord();
        r.SetName(name);
        r.key = key;
        r.isFolder = folder ? 1 : 0;
        r.contentIntact = 1;
        const uint32_t index = r.recordIndex;
        Store()->Link(ParentKey(parent, depth), index, key,
                      folder ? std::optional<std::string_view>(name) : std::nullopt);
    }
    std::string folder_;
};

TEST(CliWalk, PathsMatchGetRecordPathAndEveryLevelIsReached) {
    test::ScratchDir dir;
    ScanSession session;
    session.sources.emplace_back();
    auto engine = std::make_unique<TreeEngine>(dir / "logs");
    ASSERT_EQ(engine->Scan(std::nullopt), kOk);
    session.sources[0].engine = std::move(engine);

    const std::vector<FoundItem> items = CollectFound(session);
    std::string order;
    for (const FoundItem& item : items) {
        order += item.FullPath() + (item.record.isFolder ? "/ " : " ");
        std::string path;
        ASSERT_EQ(session.sources[0].engine->GetRecordPath(item.record, path), kOk);
        EXPECT_EQ(path, item.folderPath) << item.FullPath();
    }
    EXPECT_EQ(order,
              "a.jpg Photos/ Photos/b.jpg Photos/2017/ Photos/2017/c.jpg Photos/2017/Empty/ ");
}

}  // namespace
}  // namespace keltra::cli
