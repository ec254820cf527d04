// The main window's whole way from a source to the results, on fixture images added as image
// sources and on a loop device: the real scan and search workers, the type tree against what
// `keltra scan` finds, the file list's sorting and check boxes, the checked files; and the disk
// list following a device that comes and goes.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/disk_list.h"
#include "app/found_files.h"
#include "app/main_wnd.h"
#include "app/ui/apply_section.h"
#include "app/ui/markup.h"
#include "app/ui/markup_label.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace keltra {
namespace {

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
}

QTreeWidgetItem* TypeNode(CMainWnd& window, const char* name) {
    return FindTreeItem(&window, QString::fromLatin1(name));
}

// The number in a type-tree text "JPEG (4)".
int NodeCount(const QTreeWidgetItem* node) {
    const QString text = node->text(0);
    const qsizetype open = text.lastIndexOf('(');
    return text.mid(open + 1, text.size() - open - 2).toInt();
}

// Files `keltra scan` finds on the image, by extension group.
std::map<std::string, int> CommandLineCounts(const std::string& image) {
    const test::CommandResult result = test::RunKeltra({"scan", "--json", image});
    std::map<std::string, int> counts;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const auto item = nlohmann::json::parse(line);
        if (!item["is_folder"].get<bool>()) {
            ++counts[GroupExtension(item["name"].get<std::string>())];
        }
    }
    return counts;
}

void ClickHeader(QTreeWidget* list, int column) {
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

class ResultsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { appData_ = std::make_unique<test::ScopedAppDataFolder>(); }
    void cleanupTestCase() { appData_.reset(); }
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void QuickScanOfAnImageMatchesTheCommandLine() {
        const std::string image = test::FixturePath("gui_photos.img");
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* source = window.AddImageSource(QString::fromStdString(image));
        QCOMPARE(source->imageTag, uint16_t(kFirstImageTag + 1));
        QCOMPARE(window.findChild<QLabel*>("Label1")->text(),
                 QString::fromStdString("Image file: " + image));
        QCOMPARE(window.findChild<QLabel*>("Label2")->text(), QString("Size: 16.00 MB"));

        Click(window, "BtnScan");  // the scan window, then the search window, both modal
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(source->engine != nullptr);
        QCOMPARE(window.EngineOf(window.FoundRecords().at(0)), source->engine.get());

        const auto expected = CommandLineCounts(image);
        QCOMPARE(expected.count("jpg"), size_t(1));
        QCOMPARE(expected.at("jpg"), 4);  // small, nine, ten and hundred.jpeg
        int listed = 0;
        for (const char* top : {"NodePhoto", "NodeAudio", "NodeVideo"}) {
            QTreeWidgetItem* node = TypeNode(window, top);
            int sum = 0;
            for (int i = 0; i < node->childCount(); ++i) {
                QTreeWidgetItem* child = node->child(i);
                const QString option = child->data(0, kControlNameRole).toString();
                int want = 0;
                for (const QString& extension : window.findChild<QCheckBox*>(option)
                                                    ->property("userdata")
                                                    .toString()
                                                    .split('|')) {
                    const auto found = expected.find(extension.toStdString());
                    if (found != expected.end()) want += found->second;
                }
                QCOMPARE(NodeCount(child), want);
                sum += NodeCount(child);
            }
            QCOMPARE(NodeCount(node), sum);
            listed += sum;
        }
        const auto count = [&expected](const char* extension) {
            const auto found = expected.find(extension);
            return found != expected.end() ? found->second : 0;
        };
        QCOMPARE(listed, count("jpg") + count("png") + count("mp3") + count("avi"));
        QCOMPARE(TypeNode(window, "NodePhoto")->child(0)->text(0), QString("JPEG (4)"));
        QVERIFY(
            MarkupToPlainText(window.findChild<CMarkupLabel*>("Txt2")->Text())
                .startsWith(QStringLiteral("Files found: %1.").arg(window.FoundRecords().size())));
    }

    void SizesSortAsNumbers() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        // A double click on an image row scans it.
        auto* sources = window.findChild<QTreeWidget*>("DiskList");
        const QRect row = sources->visualItemRect(sources->currentItem());
        QTest::mouseClick(sources->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(sources->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        auto* tree = window.findChild<QTreeWidget*>("TypeTree");
        tree->setCurrentItem(TypeNode(window, "NodePhoto")->child(0));  // JPEG
        auto* list = window.findChild<QTreeWidget*>("FileList");
        QCOMPARE(list->topLevelItemCount(), 4);
        const auto sizes = [list] {
            QStringList texts;
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                texts << list->topLevelItem(i)->text(2);
            return texts;
        };
        ClickHeader(list, 2);  // the first click on a size sorts largest first
        QCOMPARE(sizes(), QStringList({"100.00 KB", "10.00 KB", "9.00 KB", "500 B"}));
        ClickHeader(list, 2);
        QCOMPARE(sizes(), QStringList({"500 B", "9.00 KB", "10.00 KB", "100.00 KB"}));
        ClickHeader(list, 1);  // names: ascending first, ignoring case
        QCOMPARE(list->topLevelItem(0)->text(1), QString("!en.jpg"));  // deleted: first byte gone
        QCOMPARE(list->topLevelItem(3)->text(1), QString("hundred.jpeg"));
        ClickHeader(list, 1);
        QCOMPARE(list->topLevelItem(0)->text(1), QString("hundred.jpeg"));
        QCOMPARE(list->topLevelItem(0)->text(6).toLower(), QString("jpeg"));
        QCOMPARE(list->topLevelItem(0)->text(5), QString("    ----    "));
        QVERIFY(list->topLevelItem(0)->text(3).contains(
            QRegularExpression("^\\d{4}-\\d{1,2}-\\d{1,2} \\d\\d:\\d\\d:\\d\\d$")));
    }

    void CheckingInTreeAndListKeepsOneEntry() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* source =
            window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        Click(window, "BtnScan");
        auto* recover = window.findChild<QWidget*>("BtnRecover");
        auto* info = window.findChild<QLabel*>("SelectedFileInfo");
        auto* all = window.findChild<QCheckBox*>("ChkAllListSel");
        QVERIFY(!recover->isEnabled());
        QCOMPARE(info->text(), QString("No files selected"));

        QTreeWidgetItem* jpeg = TypeNode(window, "NodePhoto")->child(0);
        window.findChild<QTreeWidget*>("TypeTree")->setCurrentItem(jpeg);
        auto* list = window.findChild<QTreeWidget*>("FileList");
        list->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(window.CheckedFiles().size(), size_t(1));
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
        QCOMPARE(jpeg->checkState(0), Qt::PartiallyChecked);
        QVERIFY(recover->isEnabled());

        jpeg->setCheckState(0, Qt::Checked);  // the same file again, with the other three
        QCOMPARE(window.CheckedFiles().size(), size_t(4));
        QCOMPARE(all->checkState(), Qt::Checked);
        for (const auto& [key, record] : window.CheckedFiles()) {
            QCOMPARE(key, CheckedFileKey(record));
            QCOMPARE(key >> 48, uint64_t(source->SourceTag()));
        }
        QCOMPARE(info->text(), QString("Selected: 119.49 KB in 4 files"));

        list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(window.CheckedFiles().size(), size_t(3));
        QCOMPARE(jpeg->checkState(0), Qt::PartiallyChecked);
        all->click();  // from partial: every row
        QCOMPARE(window.CheckedFiles().size(), size_t(4));

        TypeNode(window, "NodePhoto")->setCheckState(0, Qt::Checked);  // the same four again
        QCOMPARE(window.CheckedFiles().size(), size_t(4));
        QCOMPARE(jpeg->checkState(0), Qt::Checked);
        TypeNode(window, "NodePhoto")->setCheckState(0, Qt::Unchecked);
        QVERIFY(window.CheckedFiles().empty());
        QCOMPARE(all->checkState(), Qt::Unchecked);
        QVERIFY(!recover->isEnabled());
        QCOMPARE(info->text(), QString("No files selected"));

        // A new scan drops the engine, and with it the checked files it would recover.
        list->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(window.CheckedFiles().size(), size_t(1));
        window.findChild<QTreeWidget*>("DiskList")->setCurrentItem(nullptr);
        window.AddImageSource(QString::fromStdString(test::FixturePath("photos_fat.img")));
        Click(window, "BtnScan");
        QVERIFY(source->engine == nullptr);
        QVERIFY(window.CheckedFiles().empty());
    }

    // A loop device attached while the window is open is listed about five seconds later and
    // can be scanned; detached, it goes about five seconds later.
    void LoopDeviceComesAndGoes() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        auto loop = std::make_unique<test::LoopDevice>(test::FixturePath("gui_disk.img"), true);
        if (!loop->Valid()) QSKIP("loop devices cannot be made here");
        const std::string device = loop->Device();
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(list->DiskRow(device) != nullptr, 15000);
        QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
        QTreeWidgetItem* disk = list->DiskRow(device);
        QTreeWidgetItem* volume = nullptr;
        for (int i = 0; i < disk->childCount(); ++i) {
            const VolumeEntry* entry = CDiskListUI::EntryOf(disk->child(i));
            if (entry != nullptr && entry->fileSystemName.starts_with("FAT"))
                volume = disk->child(i);
        }
        QVERIFY(volume != nullptr);
        list->setCurrentItem(volume);
        QVERIFY(window.findChild<QLabel*>("Label3")->text().startsWith("File system: FAT"));
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(TypeNode(window, "NodePhoto")->child(0)->text(0), QString("JPEG (4)"));

        // The engine holds the device open; a scan of another source lets it go.
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        Click(window, "BtnScan");
        loop.reset();
        clock.restart();
        QTRY_VERIFY_WITH_TIMEOUT(list->DiskRow(device) == nullptr, 15000);
        QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(window.CheckedFiles().empty());
    }

  private:
    std::unique_ptr<test::ScopedAppDataFolder> appData_;
    std::unique_ptr<test::ScratchLanguages> languages_;
};

KELTRA_GUI_TEST("Results", ResultsTest);

}  // namespace
}  // namespace keltra

#include "results_test.moc"
