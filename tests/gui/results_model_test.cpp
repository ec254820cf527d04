// The results model on a store the test fills: the rows every extension gets, the Other rows,
// the Path column of found and carved files, and the one check state that the tree, the list
// and the totals agree on.
#include <QTest>

#include "app/file_list_model.h"
#include "app/found_file_store.h"
#include "app/results_model.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace keltra {
namespace {

FoundRecord File(const char* name, uint64_t size, RecordOrigin origin = RecordOrigin::QuickFat) {
    FoundRecord r = EmptyRecord();
    r.SetName(name);
    r.size = size;
    r.origin = static_cast<uint32_t>(origin);
    return r;
}

class ResultsModelTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void EveryFileHasACategoryAndARow() {
        const test::ScratchDir scratch;
        auto store = std::make_unique<FoundFileStore>(QString::fromStdString(scratch.Path().string()));
        QCOMPARE(store->Add(File("a.jpg", 10), "DCIM/100CANON/", 0), kOk);
        QCOMPARE(store->Add(File("b.JPEG", 20), "DCIM/100CANON/", 0), kOk);
        QCOMPARE(store->Add(File("c.nef", 30), "", 0), kOk);  // a photo without its own box
        QCOMPARE(store->Add(File("d.pdf", 40), "Docs/", 0), kOk);
        QCOMPARE(store->Add(File("e.zip", 50), "", 0), kOk);
        QCOMPARE(store->Add(File("f.xyz", 60), "", 1), kOk);
        QCOMPARE(store->Add(File("000123.jpg", 70, RecordOrigin::Carving), "", 1), kOk);
        QCOMPARE(store->Finish(), kOk);
        const std::vector<TypeOption> options = {{"TypeJpg", "JPEG", 0, {"jpg"}},
                                                 {"TypeMp3", "MP3", 1, {"mp3"}}};
        CResultsModel model(std::move(store), {{"card.img", 0x8001}, {"disk.img, Partition 2", 2}},
                            {}, options);
        QCOMPARE(model.rowCount(), kCategoryCount);
        const auto text = [&model](const char* name) {
            return model.NodeByName(name).data().toString();
        };
        QCOMPARE(text("NodePhoto"), QString("Photo (4)"));
        QCOMPARE(text("TypeJpg"), QString("JPEG (3)"));
        QCOMPARE(text("Otherphoto"), QString("Other types (1)"));
        QCOMPARE(text("NodeAudio"), QString("Audio (0)"));
        QVERIFY(!model.NodeByName("TypeMp3").isValid());  // no files, no row
        QCOMPARE(text("TypePDF"), QString("PDF (1)"));
        QCOMPARE(text("TypeZIP"), QString("ZIP (1)"));
        QCOMPARE(text("NodeOthers"), QString("Other (1)"));
        QCOMPARE(text("TypeXYZ"), QString("XYZ (1)"));
        // The Other row comes last in its category.
        const QModelIndex photo = model.NodeByName("NodePhoto");
        QCOMPARE(model.index(1, 0, photo), model.NodeByName("Otherphoto"));
        QCOMPARE(model.FirstFilledNode(), model.NodeByName("TypeJpg"));

        CFileListModel list;
        list.Show(&model, model.NodeByName("TypeJpg"));
        QCOMPARE(list.rowCount(), 3);
        const auto cell = [&list](int row, int column) {
            return list.data(list.index(row, column)).toString();
        };
        QCOMPARE(cell(0, CFileListModel::kPathColumn), QString("DCIM/100CANON"));
        // A carved file has no folder: its source stands in the Path column.
        QCOMPARE(cell(2, CFileListModel::kPathColumn), QString("disk.img, Partition 2"));
        list.Show(&model, model.NodeByName("TypeZIP"));
        QCOMPARE(cell(0, CFileListModel::kPathColumn), QString("/"));

        // One tick, seen the same by the list, its type, its category and the totals.
        list.Show(&model, photo);
        QCOMPARE(list.rowCount(), 4);
        list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(model.CheckedCount(), size_t(1));
        QCOMPARE(model.CheckedBytes(), uint64_t(10));
        QCOMPARE(model.NodeCheckState(model.NodeByName("TypeJpg")), Qt::PartiallyChecked);
        QCOMPARE(model.NodeCheckState(photo), Qt::PartiallyChecked);
        QCOMPARE(list.ListCheckState(), Qt::PartiallyChecked);
        list.SetAllChecked(true);
        QCOMPARE(model.CheckedCount(), size_t(4));
        QCOMPARE(model.NodeCheckState(model.NodeByName("TypeJpg")), Qt::Checked);
        QCOMPARE(model.NodeCheckState(model.NodeByName("Otherphoto")), Qt::Checked);
        QCOMPARE(model.NodeCheckState(photo), Qt::Checked);
        // Unticking a type unticks its files in the category's list.
        model.setData(model.NodeByName("Otherphoto"), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(list.data(list.index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(model.NodeCheckState(photo), Qt::PartiallyChecked);
        QCOMPARE(model.CheckedRecords().size(), size_t(3));
        QCOMPARE(model.CheckedBytes(), uint64_t(10 + 20 + 70));
        // A partly ticked node's box ticks it whole.
        model.setData(photo, Qt::PartiallyChecked, Qt::CheckStateRole);
        QCOMPARE(model.NodeCheckState(photo), Qt::Checked);

        // Sizes sort as numbers.
        list.sort(CFileListModel::kSizeColumn, Qt::DescendingOrder);
        QCOMPARE(cell(0, CFileListModel::kNameColumn), QString("000123.jpg"));
        QCOMPARE(cell(3, CFileListModel::kNameColumn), QString("a.jpg"));
    }

  private:
    std::unique_ptr<test::ScratchLanguages> languages_;
};

KELTRA_GUI_TEST("ResultsModel", ResultsModelTest);

}  // namespace
}  // namespace keltra

#include "results_model_test.moc"
