#include <gtest/gtest.h>

#include "engines/extension_categories.h"
#include "engines/found_record.h"

namespace keltra {
namespace {

TEST(Categories, SubstringRuleInListOrder) {
    EXPECT_EQ(CategoryOf("x.RM"), FileCategory::Audio) << "rm is in the audio list first";
    EXPECT_EQ(CategoryOf("IMG_0001.JPG"), FileCategory::Photo);
    EXPECT_EQ(CategoryOf("a.jp"), FileCategory::Photo) << "jp occurs inside *.jpg|";
    EXPECT_EQ(CategoryOf("a.peg"), FileCategory::Photo) << "*.jpeg| comes before *.mpeg|";
    EXPECT_EQ(CategoryOf("clip.mkv"), FileCategory::Video);
    EXPECT_EQ(CategoryOf("report.docx"), FileCategory::Document);
    EXPECT_EQ(CategoryOf("backup.tar.gz"), FileCategory::Archive);
    EXPECT_EQ(CategoryOf("README"), FileCategory::Others) << "no dot";
    EXPECT_EQ(CategoryOf("trailing."), FileCategory::Others) << "nothing after the dot";
    EXPECT_EQ(CategoryOf("a.xyz"), FileCategory::Others);
    EXPECT_EQ(CategoryName(CategoryOf("a.xyz")), "others");
    EXPECT_EQ(ExtensionOf("a.b.c"), "c");
}

TEST(FoundRecord, NamesAreCutAtACharacterBoundary) {
    FoundRecord r = EmptyRecord();
    std::string longName(258, 'a');
    longName += "\xE2\x82\xAC";  // 261 bytes, the euro sign straddles the limit
    r.SetName(longName);
    EXPECT_EQ(r.Name(), std::string(258, 'a'));
    EXPECT_EQ(r.name[259], '\0');
    r.SetName(std::string(300, 'b') + ".jpg");
    EXPECT_EQ(r.Name(), std::string(255, 'b') + ".jpg") << "the extension is kept";
    r.SetName("short.jpg");
    EXPECT_EQ(r.Name(), "short.jpg");
    // A corrupt record without a terminator still gives a bounded name.
    std::memset(r.name, 'x', sizeof(r.name));
    EXPECT_EQ(r.Name().size(), 260u);
}

}  // namespace
}  // namespace keltra
