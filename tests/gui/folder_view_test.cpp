// The results by folder: the tree a store of found files makes (counts, order, carved files in
// their source's "Found by signature"), the list of a folder with its tick box; the filters and
// the counts, lists and ticks that follow them; the tree of a
// quick-scanned card against The Sleuth Kit's `fls -r`; and recovery through the window with
// the found folders kept, each file with its bytes and its modification time.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "app/apply_section.h"
#include "app/file_actions.h"
#include "app/file_list_model.h"
#include "app/folder_tree_model.h"
#include "app/found_file_store.h"
#include "app/main_wnd.h"
#include "app/message_format.h"
#include "app/recover_options_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/results_model.h"
#include "gui_test_support.h"
#include "results_view.h"
#include "support/test_support.h"
#include "unit/fat_test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

FoundRecord File(const char* name, RecordOrigin origin = RecordOrigin::QuickFat) {
    FoundRecord r = EmptyRecord();
    r.SetName(name);
    r.size = 100;
    r.origin = static_cast<uint32_t>(origin);
    return r;
}

// Every folder of the tree by its path, with its count.
void CollectFolders(const CFolderTreeModel& model, const QModelIndex& parent,
                    std::map<QString, qulonglong>& out) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex folder = model.index(row, 0, parent);
        out[model.PathOf(folder)] = model.data(folder, CFolderTreeModel::kCountRole).toULongLong();
        CollectFolders(model, folder, out);
    }
}

// Every file the tree holds, as "folder/name" below the source's own folder.
void CollectFiles(const CFolderTreeModel& model, const CResultsModel& results,
                  const QModelIndex& parent, const QString& prefix, std::set<std::string>& out) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex folder = model.index(row, 0, parent);
        const QString path = model.PathOf(folder).mid(prefix.size());
        for (uint32_t file : model.FilesOf(folder)) {
            const std::string name(results.Store().Record(file).Name());
            out.insert(test::ComparablePath(
                (path.isEmpty() ? QString() : path + '/').toStdString() + name));
        }
        CollectFiles(model, results, folder, prefix, out);
    }
}

// The deleted regular files `fls -rd` lists (no orphans, no virtual files, not the volume
// label), with their modification times, by comparable path: what the results list.
std::map<std::string, int64_t> FlsFiles(const std::string& image) {
    std::map<std::string, int64_t> files;
    std::istringstream lines(test::RunCommand("fls -r -d -m / -z UTC '" + image + "'"));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) f.push_back(field);
        if (f.size() < 11 || f[3].rfind("r/", 0) != 0) continue;
        std::string path = f[1];
        const std::string deleted = " (deleted)";
        if (path.ends_with(deleted)) path.resize(path.size() - deleted.size());
        if (path.rfind("/$OrphanFiles", 0) == 0 || path.ends_with("(Volume Label Entry)")) {
            continue;
        }
        files[test::ComparablePath(path.substr(1))] = std::stoll(f[8]);
    }
    return files;
}

// The paths only one side holds, for a failure's message.
std::string Difference(const std::set<std::string>& ours, const std::set<std::string>& theirs) {
    std::string text = "only ours:";
    for (const std::string& path : ours) {
        if (!theirs.contains(path)) text += " [" + path + "]";
    }
    text += "; only fls:";
    for (const std::string& path : theirs) {
        if (!ours.contains(path)) text += " [" + path + "]";
    }
    return text;
}

void ScanImage(CMainWnd& window, const std::string& image) {
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
    QVERIFY(window.AddImageSource(QString::fromStdString(image)) != nullptr);
    QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
    QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
}

void ShowFolders(CMainWnd& window) {
    auto* views = window.findChild<QTabWidget*>("ResultViews");
    views->setCurrentWidget(window.findChild<QWidget*>("PageByFolder"));
}

class FolderViewTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void TreeOfFoldersWithCountsAndCarvedFiles() {
        const test::ScratchDir scratch;
        auto store =
            std::make_unique<FoundFileStore>(QString::fromStdString(scratch.Path().string()));
        QCOMPARE(store->Add(File("a.jpg"), "DCIM/100CANON/", 0), kOk);
        QCOMPARE(store->Add(File("b.jpg"), "DCIM/100CANON/", 0), kOk);
        QCOMPARE(store->Add(File("c.jpg"), "DCIM/99CANON/", 0), kOk);
        QCOMPARE(store->Add(File("d.mov"), "dcim/", 0), kOk);
        QCOMPARE(store->Add(File("e.txt"), "", 0), kOk);
        QCOMPARE(store->Add(File("000123.jpg", RecordOrigin::Carving), "", 0), kOk);
        QCOMPARE(store->Add(File("f.jpg"), "DCIM/100CANON/", 1), kOk);
        QCOMPARE(store->Finish(), kOk);
        CResultsModel results(std::move(store), {{"card.img", 1}, {"disk.img, Partition 2", 2}},
                              {}, {});
        const CFolderTreeModel tree(results);
        std::map<QString, qulonglong> folders;
        CollectFolders(tree, {}, folders);
        const QString carved = "card.img/" + MessageText("MSG0830");
        const std::map<QString, qulonglong> expected = {
            {"card.img", 6},
            {"card.img/DCIM", 3},
            {"card.img/DCIM/99CANON", 1},
            {"card.img/DCIM/100CANON", 2},
            {"card.img/dcim", 1},
            {carved, 1},
            {"disk.img, Partition 2", 1},
            {"disk.img, Partition 2/DCIM", 1},
            {"disk.img, Partition 2/DCIM/100CANON", 1}};
        QCOMPARE(folders, expected);
        QCOMPARE(tree.FolderCount(), expected.size());

        // Numbers in names sort as numbers; the carved files' folder comes last.
        const QModelIndex card = tree.index(0, 0);
        QCOMPARE(tree.data(card).toString(), QString("card.img (6)"));
        QCOMPARE(tree.rowCount(card), 3);
        QCOMPARE(tree.PathOf(tree.index(2, 0, card)), carved);
        const QModelIndex dcim = tree.index(0, 0, card);
        QCOMPARE(tree.PathOf(tree.index(0, 0, dcim)), QString("card.img/DCIM/99CANON"));
        QCOMPARE(tree.parent(tree.index(0, 0, dcim)), dcim);
        QCOMPARE(tree.FilesOf(card), std::vector<uint32_t>{4});  // e.txt at the root
        QCOMPARE(tree.FilesBelow(dcim), (std::vector<uint32_t>{0, 1, 2}));

        // A folder's list, and its tick box counted over its rows.
        CFileListModel list;
        list.ShowFiles(&results, tree.FilesOf(tree.index(1, 0, dcim)));
        QCOMPARE(list.rowCount(), 2);
        QCOMPARE(list.ListCheckState(), Qt::Unchecked);
        list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(list.ListCheckState(), Qt::PartiallyChecked);
        list.SetAllChecked(true);
        QCOMPARE(list.ListCheckState(), Qt::Checked);
        QCOMPARE(results.CheckedCount(), size_t(2));

        // Checked files keep their folders below their source's name, carved ones in the
        // carved files' folder.
        results.SetFileChecked(5, true);
        results.SetFileChecked(6, true);
        std::set<std::string> paths;
        for (const FoundFileItem& item : results.CheckedItems()) {
            paths.insert(item.folderPath + std::string(item.record.Name()));
        }
        QCOMPARE(paths, (std::set<std::string>{
                            "card.img/DCIM/100CANON/a.jpg", "card.img/DCIM/100CANON/b.jpg",
                            carved.toStdString() + "/000123.jpg",
                            "disk.img, Partition 2/DCIM/100CANON/f.jpg"}));
    }

    void FiltersChangeTheCountsTheListsAndTheTicks() {
        const test::ScratchDir scratch;
        auto store =
            std::make_unique<FoundFileStore>(QString::fromStdString(scratch.Path().string()));
        const auto add = [&store](const char* name, uint64_t size, const char* folder,
                                  bool intact) {
            FoundRecord r = File(name);
            r.size = size;
            r.contentIntact = intact ? 1 : 0;
            QCOMPARE(store->Add(r, folder, 0), kOk);
        };
        add("IMG_0001.JPG", 2'000'000, "DCIM/100CANON/", true);
        add("IMG_0002.JPG", 300'000, "DCIM/100CANON/", false);
        add("holiday.jpg", 5'000, "Photos/", true);
        add("song.mp3", 20'000'000, "Music/", true);
        QCOMPARE(store->Finish(), kOk);
        CResultsModel results(std::move(store), {{"card.img", 1}}, {},
                              {{"TypeJpg", "JPEG", 0, {"jpg"}}, {"TypeMp3", "MP3", 1, {"mp3"}}});
        const auto count = [&results](const char* node) {
            return results.NodeByName(node).data(CResultsModel::kCountRole).toULongLong();
        };
        const auto folderCounts = [&results] {
            std::map<QString, qulonglong> folders;
            CollectFolders(CFolderTreeModel(results), {}, folders);
            return folders;
        };
        QCOMPARE(count("TypeJpg"), 3ULL);
        QCOMPARE(results.DamagedCount(), size_t(1));
        QCOMPARE(results.CategoryFileCount(0), size_t(3));

        FileFilter filter;
        filter.name = "img_";
        results.SetFilter(filter);
        QCOMPARE(count("TypeJpg"), 2ULL);
        QCOMPARE(count("NodeAudio"), 0ULL);
        QCOMPARE(results.ShownCount(), size_t(2));
        QCOMPARE(folderCounts(), (std::map<QString, qulonglong>{{"card.img", 2},
                                                                {"card.img/DCIM", 2},
                                                                {"card.img/DCIM/100CANON", 2}}));
        filter.hideDamaged = true;
        results.SetFilter(filter);
        QCOMPARE(results.FilesOf(results.NodeByName("TypeJpg")), std::vector<uint32_t>{0});
        filter = {};
        filter.minSize = 1'000'000;
        results.SetFilter(filter);
        QCOMPARE(count("NodePhoto"), 1ULL);
        QCOMPARE(count("TypeMp3"), 1ULL);

        // Ticking a node ticks what it shows; what the filter hides keeps its tick, and the
        // node's box tells of the files shown.
        results.SetFileChecked(2, true);  // holiday.jpg, hidden by the size
        results.SetNodeChecked(results.NodeByName("NodePhoto"), true);
        QCOMPARE(results.CheckedCount(), size_t(2));
        QVERIFY(results.IsChecked(0) && !results.IsChecked(1) && results.IsChecked(2));
        QCOMPARE(results.NodeCheckState(results.NodeByName("NodePhoto")), Qt::Checked);
        results.SetFilter({});
        QCOMPARE(results.NodeCheckState(results.NodeByName("NodePhoto")), Qt::PartiallyChecked);
        QCOMPARE(count("TypeJpg"), 3ULL);
    }

    void FilterControlsOnTheResultsPage() {
        const std::string image = test::FixturePath("photos_fat.img");
        if (!fs::exists(image)) QSKIP("photos_fat.img is not built");
        CMainWnd window;
        ScanImage(window, image);
        ShowFolders(window);
        window.findChild<QTreeView*>("FolderTree")->setCurrentIndex(window.Folders()->index(0, 0));
        QCOMPARE(test::ListedRows(window), 6);
        // The scan's summary counts what was found by category, whatever the filter.
        const auto summary = [&window] {
            return window.findChild<QLabel*>("LblScanSummary")->text();
        };
        QVERIFY2(summary().endsWith(" Photo 5, Document 1."), qPrintable(summary()));
        QTest::keyClicks(window.findChild<QLineEdit*>("EditNameFilter"), "beach");
        QTRY_COMPARE(test::ListedRows(window), 2);
        QCOMPARE(window.Folders()->data(window.Folders()->index(0, 0)).toString(),
                 QString("photos_fat.img (2)"));
        QCOMPARE(test::NodeCount(window, "NodePhoto"), 2);
        QVERIFY2(summary().endsWith(" Photo 5, Document 1."), qPrintable(summary()));
        if (!qEnvironmentVariableIsEmpty("KELTRA_SCREENSHOT_DIR")) {
            window.findChild<QTreeView*>("FolderTree")->expandAll();
            window.showMaximized();
            test::Screenshot(window, "results_filtered");
            // The smallest window keeps the filters and the list usable.
            window.showNormal();
            window.resize(window.minimumSize());
            test::Screenshot(window, "results_filtered_800x500");
        }
        // Over 10 MB: nothing on this card; the list and the tree empty, the filter kept.
        window.findChild<QComboBox*>("CmbSizeFilter")->setCurrentIndex(3);
        QCOMPARE(test::ListedRows(window), 0);
        QCOMPARE(window.Folders()->rowCount(), 1);
        QCOMPARE(window.Folders()->data(window.Folders()->index(0, 0)).toString(),
                 QString("photos_fat.img (0)"));
        window.findChild<QLineEdit*>("EditNameFilter")->clear();
        window.findChild<QComboBox*>("CmbSizeFilter")->setCurrentIndex(0);
        QTRY_COMPARE(test::ListedRows(window), 6);
    }

    void FolderViewOfAQuickScanEqualsFls() {
        const std::string image = test::FixturePath("photos_fat.img");
        if (!fs::exists(image)) QSKIP("photos_fat.img is not built");
        CMainWnd window;
        ScanImage(window, image);
        ShowFolders(window);
        const CFolderTreeModel* tree = window.Folders();
        QVERIFY(tree != nullptr);
        QCOMPARE(tree->rowCount(), 1);
        const QString source = tree->PathOf(tree->index(0, 0));
        std::set<std::string> ours;
        CollectFiles(*tree, *window.Results(), {}, source + '/', ours);
        // The source's own files (at its root) come without a folder.
        for (uint32_t file : tree->FilesOf(tree->index(0, 0))) {
            ours.insert(test::ComparablePath(std::string(window.Results()->Store().Record(file).Name())));
        }
        std::set<std::string> theirs;
        for (const auto& [path, time] : FlsFiles(image)) theirs.insert(path);
        QVERIFY(!theirs.empty());
        QVERIFY2(ours == theirs, Difference(ours, theirs).c_str());
        QCOMPARE(tree->data(tree->index(0, 0), CFolderTreeModel::kCountRole).toULongLong(),
                 qulonglong(theirs.size()));

        // A folder chosen lists the files its count counts: its own and those below it.
        auto* view = window.findChild<QTreeView*>("FolderTree");
        const QModelIndex photos = [&] {
            const QModelIndex top = tree->index(0, 0);
            for (int row = 0; row < tree->rowCount(top); ++row) {
                if (tree->PathOf(tree->index(row, 0, top)) == source + "/Photos")
                    return tree->index(row, 0, top);
            }
            return QModelIndex();
        }();
        QVERIFY(photos.isValid());
        view->setCurrentIndex(tree->index(0, 0, photos));  // Photos/2017
        QCOMPARE(test::ListedRows(window), 1);
        QCOMPARE(test::Cell(window, 0, CFileListModel::kNameColumn), QString("Beach day.jpg"));
        view->setCurrentIndex(photos);
        QCOMPARE(test::ListedRows(window), 4);
        QCOMPARE(qulonglong(test::ListedRows(window)),
                 tree->data(photos, CFolderTreeModel::kCountRole).toULongLong());
        if (!qEnvironmentVariableIsEmpty("KELTRA_SCREENSHOT_DIR")) {
            view->expandAll();
            window.showMaximized();
            test::Screenshot(window, "results_folders");
        }
    }

    void RecoveryKeepsFoldersAndTimes() {
        const std::string image = test::FixturePath("photos_fat.img");
        if (!fs::exists(image)) QSKIP("photos_fat.img is not built");
        CMainWnd window;
        ScanImage(window, image);
        ShowFolders(window);
        // The card's folder chosen, and every file it lists ticked with "All".
        const CFolderTreeModel* tree = window.Folders();
        window.findChild<QTreeView*>("FolderTree")->setCurrentIndex(tree->index(0, 0));
        QCOMPARE(size_t(test::ListedRows(window)), window.Results()->FileCount());
        window.findChild<QCheckBox*>("ChkAllListSel")->click();
        QCOMPARE(window.CheckedCount(), window.Results()->FileCount());
        test::ScratchDir dest;
        const QString folder = QString::fromStdString(dest.Path().string());
        test::WhenModal<CRecoverOptionsWnd>([](CRecoverOptionsWnd* options) {
            QTest::mouseClick(options->findChild<QRadioButton*>("OptKeepFolders"), Qt::LeftButton);
            test::Screenshot(*options, "recover_options");
            QTest::mouseClick(options->findChild<QPushButton*>("okbtn"), Qt::LeftButton);
        });
        test::WhenModal<QFileDialog>([folder](QFileDialog* dialog) {
            dialog->setDirectory(folder);
            static_cast<QDialog*>(dialog)->accept();
        });
        unsigned failed = 1;
        QString summary;
        test::WhenModal<CRecoverProcessWnd>([&failed, &summary](CRecoverProcessWnd* recovery) {
            auto* finish = recovery->findChild<QPushButton*>("FinishBtn");
            QTRY_VERIFY(finish->isVisible());
            failed = recovery->Failed();
            summary = recovery->findChild<QLabel*>("current")->text();
            test::Screenshot(*recovery, "recover_summary");
            QTest::mouseClick(finish, Qt::LeftButton);
        });
        QTest::mouseClick(window.findChild<QPushButton*>("BtnRecover"), Qt::LeftButton);
        QVERIFY2(failed == 0, summary.toUtf8().constData());
        QCOMPARE(window.FileActions()->LastChoice().layout, RecoveryLayout::KeepPaths);
        const auto flsFiles = FlsFiles(image);
        QCOMPARE(summary, FormatMessage(MessageText("MSG1104"),
                                        {QString::number(flsFiles.size()), "0", folder}));

        // Every file where the card had it, with its bytes and its modification time.
        std::map<std::string, int64_t> written;
        for (const auto& entry : fs::recursive_directory_iterator(dest.Path())) {
            if (!entry.is_regular_file()) continue;
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::file_clock::to_sys(entry.last_write_time()).time_since_epoch());
            written[test::ComparablePath(fs::relative(entry.path(), dest.Path()).string())] =
                seconds.count();
        }
        QCOMPARE(written, flsFiles);
        const std::string originals = test::FixturePath("photos_originals");
        for (const char* path : {"Photos/2017/Beach day.jpg", "Photos/2018/Beach day.jpg",
                                 "Camera roll/Holiday_001.JPG", "Docs/Meeting notes.txt"}) {
            QCOMPARE(test::Sha256OfFile(dest / path), test::Sha256OfFile(originals + "/" + path));
        }
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("FolderView", FolderViewTest);

}  // namespace
}  // namespace keltra

#include "folder_view_test.moc"
