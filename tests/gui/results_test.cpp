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
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "app/apply_section.h"
#include "app/disk_list.h"
#include "app/file_list_model.h"
#include "app/found_files.h"
#include "app/main_wnd.h"
#include "app/results_model.h"
#include "app/ui/markup.h"
#include "app/ui/markup_label.h"
#include "gui_test_support.h"
#include "results_view.h"
#include "support/test_support.h"

namespace keltra {
namespace {

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
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

void ClickHeader(QTableView* list, int column) {
    QHeaderView* header = list->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
}

class ResultsTest : public QObject {
    Q_OBJECT

  private slots:
    // Each test its own scan history: a deep scan of one is no earlier scan to another.
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

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
        QCOMPARE(window.EngineOf(test::AllFound(window).at(0)), source->engine.get());

        // Every file the command line finds is listed, by its group extension.
        const auto expected = CommandLineCounts(image);
        std::map<std::string, int> listed;
        for (const FoundRecord& r : test::AllFound(window)) ++listed[GroupExtension(r.Name())];
        QCOMPARE(listed, expected);
        QCOMPARE(expected.at("jpg"), 4);  // small, nine, ten and hundred.jpeg
        QCOMPARE(test::NodeText(window, "TypeJpg"), QString("JPEG (4)"));
        // The PNG is noise, no picture: left out as the command line leaves it out.
        QCOMPARE(expected.count("png"), size_t(0));
        QCOMPARE(test::NodeCount(window, "TypePng"), -1);
        QCOMPARE(test::NodeCount(window, "NodePhoto"), test::NodeCount(window, "TypeJpg"));
        QCOMPARE(test::NodeCount(window, "NodeDocument"), 0);  // the text is not deleted
        QVERIFY(MarkupToPlainText(window.findChild<CMarkupLabel*>("Txt2")->Text())
                    .startsWith(QStringLiteral("Files found: %1.")
                                    .arg(window.Results()->FileCount())));
        // The page names its source and scan.
        QVERIFY2(window.findChild<QLabel*>("LblScanSummary")
                     ->text()
                     .startsWith("Files of gui_photos.img, quick scan, complete in "),
                 qPrintable(window.findChild<QLabel*>("LblScanSummary")->text()));
        test::Screenshot(window, "results");
    }

    // Scan, Back, Scan again: the second results are listed at once, as the first were, and a
    // click on a category lists all its files.
    void SecondScanListsItsFiles() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        for (int round = 0; round < 2; ++round) {
            Click(window, "BtnScan");
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
            QCOMPARE(test::ListedRows(window), 4);  // the JPEGs, the first type with files
            QCOMPARE(window.FileListModel()->Node(), test::Node(window, "TypeJpg"));
            QVERIFY(test::SelectNode(window, "NodePhoto"));
            QCOMPARE(test::ListedRows(window), test::NodeCount(window, "NodePhoto"));
            test::Screenshot(window, round == 0 ? "results_first_scan" : "results_second_scan");
            Click(window, "BtnPrev");
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
            QVERIFY(window.Results() == nullptr);  // their memory went with them
        }
    }

    // Quick scan of one image, Back, another image, Next, Next: the file-type page's way on is
    // the deep scan of the image now selected, never the results of the one before.
    void NextFromTheTypePageScansTheSelectedSource() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        Click(window, "BtnScan");
        QVERIFY(test::FoundNames(window).count("hundred.jpeg") == 1);
        Click(window, "BtnPrev");
        SourceItem* other =
            window.AddImageSource(QString::fromStdString(test::FixturePath("gui_empty.img")));
        Click(window, "BtnNext");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
        QCOMPARE(window.findChild<QPushButton*>("BtnNext")->text(), QString("Deep Scan"));
        Click(window, "BtnNext");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(window.Results() != nullptr);
        QCOMPARE(window.Results()->Sources().size(), size_t(1));
        QCOMPARE(window.Results()->Sources()[0].tag, other->SourceTag());
        QVERIFY(window.Results()->Summary().deep);
        QCOMPARE(test::FoundNames(window).count("hundred.jpeg"), size_t(0));
        QVERIFY(window.findChild<QLabel*>("LblScanSummary")
                    ->text()
                    .startsWith("Files of gui_empty.img, deep scan, complete in "));
    }

    // A disk image whose partition table is gone: the deep scan keeps each volume it finds
    // apart, and the path of every file begins with its volume's name.
    void LostVolumesAreNamedInTheFilePaths() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("lost_volumes.img")));
        Click(window, "BtnNext");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
        Click(window, "BtnNext");  // the deep scan
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(window.Results()->Summary().deep);
        QVERIFY(test::SelectNode(window, "TypeJpg"));
        std::multiset<QString> paths;
        for (int row = 0; row < test::ListedRows(window); ++row) {
            paths.insert(test::Cell(window, row, CFileListModel::kPathColumn));
        }
        const std::multiset<QString> expected = {
            "Lost FAT32 volume at sector 83968 (48 MiB)/DCIM/100CANON",
            "Lost FAT32 volume at sector 83968 (48 MiB)/DCIM/100CANON",
            "Lost NTFS volume at sector 2048 (40 MiB)/DCIM/100CANON",
            "Lost NTFS volume at sector 2048 (40 MiB)/DCIM/100CANON"};
        QCOMPARE(paths, expected);
        // The page names the volumes found.
        const QString summary = window.findChild<QLabel*>("LblScanSummary")->text();
        QVERIFY2(summary.contains("\nLost volumes found: lost_volumes.img: Lost FAT32 volume at "
                                  "sector 83968 (48 MiB); lost_volumes.img: Lost NTFS volume at "
                                  "sector 2048 (40 MiB). The files of each are listed under a "
                                  "folder of its own."),
                 qPrintable(summary));
        test::Screenshot(window, "results_lost_volumes");
    }

    // An NTFS volume's deleted photo, text, zip and PDF are all listed, each under its
    // category, with the folder they were found in.
    void EveryCategoryIsListedWithItsPath() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_ntfs.img")));
        Click(window, "BtnScan");
        QCOMPARE(test::NodeText(window, "NodePhoto"), QString("Photo (1)"));
        QCOMPARE(test::NodeText(window, "TypeJpg"), QString("JPEG (1)"));
        QCOMPARE(test::NodeText(window, "NodeDocument"), QString("Document (2)"));
        QCOMPARE(test::NodeText(window, "TypePDF"), QString("PDF (1)"));
        QCOMPARE(test::NodeText(window, "TypeTXT"), QString("TXT (1)"));
        QCOMPARE(test::NodeCount(window, "NodeArchive"), 1);
        QCOMPARE(test::NodeText(window, "TypeZIP"), QString("ZIP (1)"));
        QVERIFY(test::SelectNode(window, "TypeJpg"));
        QCOMPARE(test::Cell(window, 0, CFileListModel::kNameColumn), QString("IMG_0001.JPG"));
        QCOMPARE(test::Cell(window, 0, CFileListModel::kPathColumn), QString("DCIM/100CANON"));
        QVERIFY(test::SelectNode(window, "NodeDocument"));
        QCOMPARE(test::ListedRows(window), 2);
        QCOMPARE(test::Cell(window, 0, CFileListModel::kPathColumn), QString("Documents"));
        QVERIFY(test::SelectNode(window, "TypeZIP"));
        QCOMPARE(test::Cell(window, 0, CFileListModel::kPathColumn), QString("/"));
        test::Screenshot(window, "results_categories");
    }

    // A quick scan that finds nothing says so and offers the deep scan, which one click runs.
    void NothingFoundOffersTheDeepScan() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* empty =
            window.AddImageSource(QString::fromStdString(test::FixturePath("gui_empty.img")));
        QVERIFY(window.findChild<QWidget*>("BtnAdvanceScan")->isVisible());
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(window.Results()->FileCount(), size_t(0));
        const QString text = MarkupToPlainText(window.findChild<CMarkupLabel*>("Txt2")->Text());
        QVERIFY2(text.startsWith("Files found: 0.") && text.contains("deep scan"),
                 qPrintable(text));
        auto* offer = window.findChild<QPushButton*>("BtnOfferDeepScan");
        QVERIFY(offer->isVisible());
        test::Screenshot(window, "results_nothing_found");
        Click(window, "BtnOfferDeepScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(window.Results()->Summary().deep);
        QCOMPARE(window.Results()->Sources().at(0).tag, empty->SourceTag());
        QVERIFY(!offer->isVisible());
    }

    // A disk image with a partition no quick scan reads: the others are scanned, and the page
    // names the one passed over and why.
    void UnreadablePartitionIsPassedOver() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_swap_disk.img")));
        test::SeenBox warning;
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(test::FoundNames(window).count("!ost.jpg"), size_t(1));
        const QString summary = window.findChild<QLabel*>("LblScanSummary")->text();
        QVERIFY2(summary.contains("gui_swap_disk.img, Partition 2: a quick scan of swap volumes "
                                  "is not available; passed over."),
                 qPrintable(summary));
    }

    // The counts stay on the tree through a language switch and back; a tick survives too.
    void LanguageSwitchKeepsTheCounts() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        Click(window, "BtnScan");
        test::CheckNode(window, "TypeJpg", true);
        window.ChooseLanguage("German");
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(test::NodeText(window, "NodePhoto"), QString("Fotos (4)"));
        QCOMPARE(test::NodeText(window, "TypeJpg"), QString("JPEG (4)"));
        QCOMPARE(window.FileListModel()->headerData(1, Qt::Horizontal).toString(),
                 QString("Name"));
        window.ChooseLanguage("English");
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(test::NodeText(window, "NodePhoto"), QString("Photo (4)"));
        QCOMPARE(window.CheckedCount(), size_t(4));
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
        QVERIFY(test::SelectNode(window, "TypeJpg"));
        auto* list = window.findChild<QTableView*>("FileList");
        QCOMPARE(test::ListedRows(window), 4);
        const auto sizes = [&window] {
            QStringList texts;
            for (int i = 0; i < test::ListedRows(window); ++i) texts << test::Cell(window, i, 2);
            return texts;
        };
        ClickHeader(list, 2);  // the first click on a size sorts largest first
        QCOMPARE(sizes(), QStringList({"100.00 KB", "10.00 KB", "9.00 KB", "500 B"}));
        ClickHeader(list, 2);
        QCOMPARE(sizes(), QStringList({"500 B", "9.00 KB", "10.00 KB", "100.00 KB"}));
        ClickHeader(list, 1);  // names: ascending first, ignoring case
        QCOMPARE(test::Cell(window, 0, 1), QString("!en.jpg"));  // deleted: first byte gone
        QCOMPARE(test::Cell(window, 3, 1), QString("hundred.jpeg"));
        ClickHeader(list, 1);
        QCOMPARE(test::Cell(window, 0, 1), QString("hundred.jpeg"));
        QCOMPARE(test::Cell(window, 0, 6).toLower(), QString("jpeg"));
        QCOMPARE(test::Cell(window, 0, 5), QString("DCIM"));
        QVERIFY(test::Cell(window, 0, 3).contains(
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

        QVERIFY(test::SelectNode(window, "TypeJpg"));
        test::CheckRow(window, 0, true);
        QCOMPARE(window.CheckedCount(), size_t(1));
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
        QCOMPARE(test::NodeState(window, "TypeJpg"), Qt::PartiallyChecked);
        QCOMPARE(test::NodeState(window, "NodePhoto"), Qt::PartiallyChecked);
        QVERIFY(recover->isEnabled());
        QVERIFY(info->text().endsWith(" in 1 file"));

        test::CheckNode(window, "TypeJpg", true);  // the same file again, with the other three
        QCOMPARE(window.CheckedCount(), size_t(4));
        QCOMPARE(all->checkState(), Qt::Checked);
        for (const FoundRecord& record : window.CheckedRecords()) {
            QCOMPARE(record.sourceTag, source->SourceTag());
        }
        QCOMPARE(info->text(), QString("Selected: 119.49 KB in 4 files"));

        test::CheckRow(window, 1, false);
        QCOMPARE(window.CheckedCount(), size_t(3));
        QCOMPARE(test::NodeState(window, "TypeJpg"), Qt::PartiallyChecked);
        all->click();  // from partial: every row
        QCOMPARE(window.CheckedCount(), size_t(4));
        QCOMPARE(test::NodeState(window, "TypeJpg"), Qt::Checked);

        // "All" on a category ticks its types with it, and the other way round.
        test::CheckNode(window, "TypeJpg", false);
        QCOMPARE(test::NodeState(window, "NodePhoto"), Qt::Unchecked);
        QVERIFY(test::SelectNode(window, "NodePhoto"));
        all->click();
        QCOMPARE(window.CheckedCount(), size_t(4));
        QCOMPARE(test::NodeState(window, "NodePhoto"), Qt::Checked);
        QCOMPARE(test::NodeState(window, "TypeJpg"), Qt::Checked);
        test::CheckNode(window, "NodePhoto", false);
        QCOMPARE(window.CheckedCount(), size_t(0));
        QCOMPARE(all->checkState(), Qt::Unchecked);
        QCOMPARE(test::NodeState(window, "TypeJpg"), Qt::Unchecked);
        QVERIFY(!recover->isEnabled());
        QCOMPARE(info->text(), QString("No files selected"));

        // A new scan drops the results, and with them the ticks.
        test::CheckRow(window, 0, true);
        QCOMPARE(window.CheckedCount(), size_t(1));
        window.findChild<QTreeWidget*>("DiskList")->setCurrentItem(nullptr);
        window.AddImageSource(QString::fromStdString(test::FixturePath("photos_fat.img")));
        Click(window, "BtnScan");
        QVERIFY(source->engine == nullptr);
        QCOMPARE(window.CheckedCount(), size_t(0));
    }

    // A loop device attached while the window is open is listed about five seconds later and
    // can be scanned; detached after its scan, it goes about five seconds later. On a busy
    // machine the look at the devices can take much longer, hence the long wait.
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
        QTRY_VERIFY_WITH_TIMEOUT(list->DiskRow(device) != nullptr, 60000);
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
        QCOMPARE(test::NodeText(window, "TypeJpg"), QString("JPEG (4)"));

        // The scan let the device go, results still listed: it detaches at once and its row
        // goes (a device held open would stay until the program ends).
        QVERIFY(window.Results() != nullptr);
        QCOMPARE(test::DescriptorsOn(device), 0);
        loop.reset();
        clock.restart();
        QTRY_VERIFY_WITH_TIMEOUT(list->DiskRow(device) == nullptr, 60000);
        QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("Results", ResultsTest);

}  // namespace
}  // namespace keltra

#include "results_test.moc"
