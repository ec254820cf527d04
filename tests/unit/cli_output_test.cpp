#include <gtest/gtest.h>

#include <sstream>

#include "cli/commands/found_items.h"
#include "cli/commands/found_output.h"
#include "cli/commands/progress_line.h"
#include "platform/clock.h"

namespace keltra::cli {
namespace {

FoundItem Item(std::string_view name, std::string folderPath, bool folder = false) {
    FoundItem item;
    item.record = EmptyRecord();
    item.record.SetName(name);
    item.record.isFolder = folder ? 1 : 0;
    item.record.contentIntact = 1;
    item.folderPath = std::move(folderPath);
    return item;
}

TEST(CliOutput, ProgressTextShowsWhatTheEngineReports) {
    EXPECT_EQ(ScanProgressText("Scanning a.img", 40, -1, 0, 0, 0), "Scanning a.img: 40%")
        << "a quick engine reports no sectors and no estimate";
    EXPECT_EQ(ScanProgressText("Scanning a.img", 40, 3599, 10, 100, 7),
              "Scanning a.img: 40%  sector 10 / 100  files found 7  time left 59 Min 59 Sec");
    EXPECT_EQ(ScanProgressText("x", 1, 3600, 0, 0, 0), "x: 1%  time left 1 Hour 0 Min");

    // A deep pass: the speed from the first report on (a continued pass starts mid-way).
    PassSpeed speed;
    speed.sectorSize = 512;
    speed.Update(1000, 5000);
    EXPECT_EQ(DeepScanProgressText("d", 12, -1, 1000, speed, 3),
              "d: 12%  500.0 KiB scanned  files found 3");
    speed.Update(1000 + 4096, 7000);
    EXPECT_EQ(DeepScanProgressText("d", 14, 61, 5096, speed, 4),
              "d: 14%  2.5 MiB scanned  1.0 MiB/s  time left 1 Min 1 Sec  files found 4");
}

TEST(CliOutput, JsonFieldsAndTimes) {
    ScanSession session;
    session.sources.emplace_back();
    session.sources[0].sourceArg.text = "disk.img";
    FoundItem item = Item("IMG_1.JPG", "Photos/2017/");
    item.record.size = 1234;
    item.record.location = 99;
    item.record.origin = 1;
    item.record.modified = FileTimeFromUnix(1500000000, 0);
    const auto j = ItemJson(item, session);
    EXPECT_EQ(j["name"], "IMG_1.JPG");
    EXPECT_EQ(j["path"], "Photos/2017/");
    EXPECT_EQ(j["size"], 1234);
    EXPECT_EQ(j["is_folder"], false);
    EXPECT_EQ(j["origin"], "quick-fat");
    EXPECT_EQ(j["intact"], true);
    EXPECT_EQ(j["modified"], "2017-07-14T02:40:00Z");
    EXPECT_TRUE(j["created"].is_null()) << "0 is no time";
    EXPECT_EQ(j["category"], "photo");
    EXPECT_EQ(j["location"], 99);
    EXPECT_EQ(j["source"], "disk.img");
    EXPECT_TRUE(ItemJson(Item("Photos", "", true), session)["category"].is_null());

    // A name that is not UTF-8 still gives one valid line.
    const std::string line = JsonLine(ItemJson(Item("bad\xff.jpg", ""), session));
    EXPECT_NE(line.find("bad\xEF\xBF\xBD.jpg"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(Printable("a\x1b[2Jb\n"), "a?[2Jb?");
}

TEST(CliOutput, TreeDrawsFoldersOnceAndCounts) {
    ScanSession session;
    for (const char* name : {"empty.img", "disk.img", "other.img", "last.img"}) {
        session.sources.emplace_back().sourceArg.text = name;
    }
    std::vector<FoundItem> items = {Item("top.txt", ""),           Item("Photos", "", true),
                                    Item("a.jpg", "Photos/"),      Item("b.jpg", "Photos/2017/"),
                                    Item("c.jpg", "Photos/2017/"), Item("d.jpg", "Other/"),
                                    Item("e.jpg", "Other/")};
    for (FoundItem& item : items) item.source = 1;
    items.back().source = 2;  // the same folder name on another source is drawn again
    // Not intact: a file-system engine's file is not of its type, a carved one is damaged.
    items[2].record.contentIntact = 0;
    items[6].record.contentIntact = 0;
    items[6].record.origin = static_cast<uint32_t>(RecordOrigin::Carving);
    std::ostringstream out;
    TreePrinter printer(out, session);
    for (const FoundItem& item : items) printer.Add(item);
    printer.Finish();
    EXPECT_EQ(out.str(),
              "empty.img\n"
              "disk.img\n"
              "  top.txt  0 bytes  -\n"
              "  Photos/\n"
              "    a.jpg  0 bytes  -  (content does not match its type)\n"
              "    2017/\n"
              "      b.jpg  0 bytes  -\n"
              "      c.jpg  0 bytes  -\n"
              "  Other/\n"
              "    d.jpg  0 bytes  -\n"
              "other.img\n"
              "  Other/\n"
              "    e.jpg  0 bytes  -  (damaged)\n"
              "last.img\n"
              "6 files, 1 folder\n");
}

TEST(CliOutput, SelectionByTypeExtensionAndPath) {
    const std::vector<FoundItem> items = {
        Item("Photos", "", true),     Item("a.JPG", "Photos/"),  Item("readme", "Photos/"),
        Item("song.mp3", "Photos/"),  Item("x.txt", "Photos2/"), Item("Deep", "Photos/", true),
        Item("b.png", "Photos/Deep/")};
    auto names = [](const std::vector<FoundItem>& chosen) {
        std::string all;
        for (const auto& i : chosen) all += i.FullPath() + " ";
        return all;
    };
    EXPECT_EQ(names(Select(items, {})),
              "Photos Photos/a.JPG Photos/readme Photos/song.mp3 "
              "Photos2/x.txt Photos/Deep Photos/Deep/b.png ");
    EXPECT_EQ(names(Select(items, {{"photo"}, {}, ""})),
              "Photos/a.JPG Photos/readme Photos/Deep/b.png ")
        << "a name without a dot goes where recovery puts it; folders are left out";
    EXPECT_EQ(names(Select(items, {{}, {".jpg", "TXT"}, ""})), "Photos/a.JPG Photos2/x.txt ");
    EXPECT_EQ(names(Select(items, {{}, {"jp"}, ""})), "")
        << "an extension given by the user matches whole";
    EXPECT_EQ(names(Select(items, {{"audio"}, {"png"}, ""})), "Photos/song.mp3 Photos/Deep/b.png ");
    EXPECT_EQ(names(Select(items, {{}, {}, "/Photos/Deep/"})), "Photos/Deep Photos/Deep/b.png ");
    EXPECT_EQ(names(Select(items, {{}, {}, "Photos"})),
              "Photos Photos/a.JPG Photos/readme Photos/song.mp3 Photos/Deep Photos/Deep/b.png ")
        << "Photos2 is not under Photos";
    EXPECT_EQ(NormalizeFoundPath("//a/b//"), "a/b");
}

}  // namespace
}  // namespace keltra::cli
