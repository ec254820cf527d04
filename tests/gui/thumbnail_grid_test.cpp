// The thumbnail grid in the real main window, over a quick-scanned card that holds one picture
// of each type the grid decodes (deleted, as found files are): each gets its thumbnail, a JPEG
// cut short gets the damaged badge, a text file its icon without a read; ticks made in the
// grid are the list's; a double-click opens the preview of the file clicked; the source is
// open only while a thumbnail is being read; and the date filter's counts, also for carved
// photos whose only date is the one their EXIF gives.
#include "app/thumbnail_grid.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimeZone>
#include <QToolButton>
#include <filesystem>
#include <map>

#include "app/file_list_model.h"
#include "app/found_file_store.h"
#include "app/main_wnd.h"
#include "app/preview_wnd.h"
#include "app/results_model.h"
#include "app/thumbnail_delegate.h"
#include "gui_test_support.h"
#include "platform/clock.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// The results of a quick scan of grid_fat.img, every file listed (the root of its folders),
// shown as thumbnails in a window of 1280 x 800.
struct GridWindow {
    CMainWnd window;
    QListView* view = nullptr;
    CThumbnailGrid* grid = nullptr;
    std::string image;

    bool Open(bool showGrid = true, const char* fixture = "grid_fat.img") {
        image = test::FixturePath(fixture);
        if (!fs::exists(image)) return false;
        window.resize(1280, 800);
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        if (window.AddImageSource(QString::fromStdString(image)) == nullptr) return false;
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        if (window.CurrentPage() != CMainWnd::kPageRecover) return false;
        auto* views = window.findChild<QTabWidget*>("ResultViews");
        views->setCurrentWidget(window.findChild<QWidget*>("PageByFolder"));
        view = window.findChild<QListView*>("FileGrid");
        grid = window.Grid();
        return !showGrid || ShowGrid();
    }
    bool ShowGrid() {
        QTest::mouseClick(window.findChild<QToolButton*>("BtnGridView"), Qt::LeftButton);
        return window.findChild<QStackedWidget*>("FileViews")->currentWidget() == view;
    }
    const FoundRecord& RecordAt(int row) const {
        return window.Results()->Store().Record(window.FileListModel()->FileAt(row));
    }
    // The row of the file with this extension (and size, when two share it); -1 when none.
    int RowOf(const std::string& extension, uint64_t size = 0) const {
        for (int row = 0; row < window.FileListModel()->rowCount(); ++row) {
            const FoundRecord& record = RecordAt(row);
            if (record.Name().ends_with("." + extension) && (size == 0 || record.size == size)) {
                return row;
            }
        }
        return -1;
    }
    QPoint CellCentre(int row) const {
        return view->visualRect(window.FileListModel()->index(row, CFileListModel::kNameColumn))
            .center();
    }
    // The rows whose cells show.
    std::vector<int> RowsOnScreen() const {
        std::vector<int> rows;
        for (int row = 0; row < window.FileListModel()->rowCount(); ++row) {
            const QRect cell = view->visualRect(
                window.FileListModel()->index(row, CFileListModel::kNameColumn));
            if (cell.intersects(view->viewport()->rect())) rows.push_back(row);
        }
        return rows;
    }
    bool ScreenDone() {
        for (int row : RowsOnScreen()) {
            if (grid->ThumbnailOf(window.FileListModel()->FileAt(row)) == nullptr) return false;
        }
        return true;
    }
    // The room left empty at the right of the first row of cells.
    int RoomLeftInFirstRow() const {
        const auto cellOf = [this](int row) {
            return view->visualRect(window.FileListModel()->index(row, CFileListModel::kNameColumn));
        };
        int last = 0;
        while (last + 1 < window.FileListModel()->rowCount() &&
               cellOf(last + 1).top() == cellOf(0).top()) {
            ++last;
        }
        return view->viewport()->width() - cellOf(last).right() - 1;
    }
    QPoint CheckBoxOf(int row) const {
        return CThumbnailDelegate::CheckRect(view->visualRect(window.FileListModel()->index(
                                                 row, CFileListModel::kNameColumn)))
            .center();
    }
};

uint64_t Day(int year, int month, int day) {
    return FileTimeFromUnix(
        QDateTime(QDate(year, month, day), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch(), 0);
}

class ThumbnailGridTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void EachDecodableTypeGetsItsThumbnailAndACutJpegItsBadge() {
        GridWindow w;
        if (!w.Open()) QSKIP("grid_fat.img is not built");
        QCOMPARE(w.window.FileListModel()->rowCount(), 10);
        struct Expected {
            std::string extension;
            Thumbnail::Kind kind;
        };
        const Expected pictures[] = {
            {"png", Thumbnail::Kind::Picture},        {"gif", Thumbnail::Kind::Picture},
            {"bmp", Thumbnail::Kind::Picture},        {"tif", Thumbnail::Kind::Picture},
            {"webp", Thumbnail::Kind::Picture},       {"heic", Thumbnail::Kind::Picture},
            {"nef", Thumbnail::Kind::EmbeddedPreview}};
        std::map<std::string, uint32_t> files;
        for (const Expected& expected : pictures) {
            const int row = w.RowOf(expected.extension);
            QVERIFY2(row >= 0, expected.extension.c_str());
            files[expected.extension] = w.window.FileListModel()->FileAt(row);
        }
        const int whole = w.RowOf("jpg", 2710);
        const int cut = w.RowOf("jpg", 1519);
        const int text = w.RowOf("txt");
        QVERIFY(whole >= 0 && cut >= 0 && text >= 0);
        const uint32_t wholeFile = w.window.FileListModel()->FileAt(whole);
        const uint32_t cutFile = w.window.FileListModel()->FileAt(cut);
        QTRY_VERIFY_WITH_TIMEOUT(
            w.grid->ThumbnailOf(cutFile) != nullptr && w.grid->ThumbnailOf(wholeFile) != nullptr,
            20000);
        for (const Expected& expected : pictures) {
            const uint32_t file = files[expected.extension];
            QTRY_VERIFY2_WITH_TIMEOUT(w.grid->ThumbnailOf(file) != nullptr,
                                      expected.extension.c_str(), 20000);
            const Thumbnail& thumbnail = *w.grid->ThumbnailOf(file);
            QVERIFY2(!thumbnail.image.isNull(), expected.extension.c_str());
            QCOMPARE(static_cast<int>(thumbnail.kind), static_cast<int>(expected.kind));
            QVERIFY2(!w.grid->Damaged(file), expected.extension.c_str());
        }
        QVERIFY(!w.grid->Damaged(wholeFile));
        const Thumbnail& damaged = *w.grid->ThumbnailOf(cutFile);
        QVERIFY(!damaged.image.isNull());  // what decoded is shown
        QVERIFY(w.grid->Damaged(cutFile));
        // The text file is its icon: nothing was read for it.
        QVERIFY(w.grid->ThumbnailOf(w.window.FileListModel()->FileAt(text)) == nullptr);

        // The badge is drawn on the cut picture's cell, on no other.
        const QImage shot = w.view->viewport()->grab().toImage();
        const auto badgeRed = [&](int row) {
            const QRect cell = w.view->visualRect(
                w.window.FileListModel()->index(row, CFileListModel::kNameColumn));
            int red = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    if (shot.pixel(x, y) == qRgb(0xc6, 0x28, 0x28)) ++red;
                }
            }
            return red;
        };
        QVERIFY(badgeRed(cut) > 50);
        QCOMPARE(badgeRed(whole), 0);
        test::Screenshot(w.window, "results_grid_types");
    }

    void TicksInTheGridAreTheListsAndADoubleClickOpensTheFile() {
        GridWindow w;
        if (!w.Open()) QSKIP("grid_fat.img is not built");
        const int row = w.RowOf("png");
        QVERIFY(row >= 0);
        const uint32_t file = w.window.FileListModel()->FileAt(row);
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.CheckBoxOf(row));
        QVERIFY(w.window.Results()->IsChecked(file));
        QCOMPARE(w.window.FileListModel()->index(row, 0).data(Qt::CheckStateRole).toInt(),
                 int(Qt::Checked));
        QCOMPARE(w.window.findChild<QCheckBox*>("ChkAllListSel")->checkState(),
                 Qt::PartiallyChecked);
        QVERIFY(w.window.findChild<QWidget*>("BtnRecover")->isEnabled());
        // A tick in the list shows in the grid's model row, and a second click unticks.
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.CheckBoxOf(row));
        QVERIFY(!w.window.Results()->IsChecked(file));
        QVERIFY(!w.window.findChild<QWidget*>("BtnRecover")->isEnabled());

        // A click on the picture makes it the list's current file; Space ticks it.
        const int other = w.RowOf("gif");
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.CellCentre(other));
        QCOMPARE(w.window.findChild<QTableView*>("FileList")->currentIndex().row(), other);
        QCOMPARE(w.window.SelectedRecord()->recordIndex, w.RecordAt(other).recordIndex);
        QTest::keyClick(w.view, Qt::Key_Space);
        QVERIFY(w.window.Results()->IsChecked(w.window.FileListModel()->FileAt(other)));

        // "All" ticks every file, the grid's boxes too.
        QTest::mouseClick(w.window.findChild<QCheckBox*>("ChkAllListSel"), Qt::LeftButton);
        QCOMPARE(w.window.CheckedCount(), size_t(10));

        // A double-click opens the preview window on the picture clicked.
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.CellCentre(row));
        QCOMPARE(w.window.findChild<QTableView*>("FileList")->currentIndex().row(), row);
        uint32_t previewed = 0;
        test::WhenModal<CPreviewWnd>([&previewed](CPreviewWnd* preview) {
            previewed = preview->Shown().record.recordIndex;
            preview->reject();
        });
        QTest::mouseDClick(w.view->viewport(), Qt::LeftButton, {}, w.CellCentre(row));
        QTRY_COMPARE_WITH_TIMEOUT(previewed, w.RecordAt(row).recordIndex, 20000);
    }

    void TheSourceIsOpenOnlyWhileAThumbnailIsRead() {
        GridWindow w;
        if (!w.Open(false)) QSKIP("grid_fat.img is not built");
        QCOMPARE(test::DescriptorsOn(w.image), 0);
        {
            // Asked for on show, the reads held back: the grid holds the source open.
            const ThumbnailService::ReadHold hold(w.grid->Service());
            QVERIFY(w.ShowGrid());
            QTRY_VERIFY(w.grid->HoldsSources());
            QVERIFY(test::DescriptorsOn(w.image) > 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.grid->Service().Idle(), 20000);
        QTRY_VERIFY(!w.grid->HoldsSources());
        QCOMPARE(test::DescriptorsOn(w.image), 0);
        // Shown again after the list: made already, nothing is read and nothing opened.
        QTest::mouseClick(w.window.findChild<QToolButton*>("BtnListView"), Qt::LeftButton);
        QCOMPARE(w.window.findChild<QStackedWidget*>("FileViews")->currentWidget(),
                 static_cast<QWidget*>(w.window.findChild<QTableView*>("FileList")));
        QTest::mouseClick(w.window.findChild<QToolButton*>("BtnGridView"), Qt::LeftButton);
        QTest::qWait(200);
        QVERIFY(!w.grid->HoldsSources());
        QCOMPARE(test::DescriptorsOn(w.image), 0);
        // A new scan forgets the thumbnails of the old one.
        QVERIFY(w.grid->Service().CachedCount() > 0);
        QTest::mouseClick(w.window.findChild<QPushButton*>("BtnPrev"), Qt::LeftButton);
        QTest::mouseClick(w.window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(w.window.CurrentPage(), int(CMainWnd::kPageRecover));
        QTRY_VERIFY_WITH_TIMEOUT(w.grid->Service().Idle() && !w.grid->HoldsSources(), 20000);
        QCOMPARE(test::DescriptorsOn(w.image), 0);
    }

    // Closed while the grid reads: the reads end first, and the source is closed after.
    void ClosingTheWindowWhileReadsRunLeavesTheSourceClosed() {
        auto w = std::make_unique<GridWindow>();
        if (!w->Open(false)) QSKIP("grid_fat.img is not built");
        const std::string image = w->image;
        {
            const ThumbnailService::ReadHold hold(w->grid->Service());
            QVERIFY(w->ShowGrid());
            QTRY_VERIFY(w->grid->HoldsSources());
        }
        // The held reads start as the window goes.
        w.reset();
        QCOMPARE(test::DescriptorsOn(image), 0);
    }

    // Each row of cells is as full as the width allows, with the scroll bar shown or not, in
    // a wide window and in the smallest (the columns were spread over the viewport's whole
    // width, which the view wraps before, so a column's room stayed empty at the right).
    void RowsOfCellsFillTheWidth() {
        for (const char* fixture : {"grid_fat.img", "gallery_fat.img"}) {
            GridWindow w;
            if (!w.Open(true, fixture)) QSKIP("the grid fixtures are not built");
            const int cellWidth =
                static_cast<CThumbnailDelegate*>(w.view->itemDelegate())->CellSize().width();
            for (const QSize size : {QSize(1280, 800), QSize(800, 500), QSize(1031, 700)}) {
                w.window.resize(size);
                QTest::qWait(50);
                const int room = w.RoomLeftInFirstRow();
                QVERIFY2(room >= 0 && room < cellWidth,
                         qPrintable(QString("%1 at %2 x %3: %4 px left")
                                        .arg(fixture)
                                        .arg(size.width())
                                        .arg(size.height())
                                        .arg(room)));
            }
        }
    }

    // Only the screen shown and one ahead are made; paging down brings each screen's pictures.
    void PagingDownMakesEachScreenAndNoMore() {
        GridWindow w;
        if (!w.Open(true, "gallery_fat.img")) QSKIP("gallery_fat.img is not built");
        QCOMPARE(w.window.FileListModel()->rowCount(), 60);
        QTRY_VERIFY_WITH_TIMEOUT(w.ScreenDone(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(w.grid->Service().Idle(), 20000);
        const size_t onScreen = w.RowsOnScreen().size();
        QVERIFY(onScreen >= 8);
        QVERIFY(static_cast<size_t>(w.grid->Service().CachedCount()) <= 2 * onScreen + 8);
        QVERIFY(w.grid->Service().CachedCount() < 60);
        test::Screenshot(w.window, "results_grid");
        QScrollBar* bar = w.view->verticalScrollBar();
        while (bar->value() < bar->maximum()) {
            bar->setValue(std::min(bar->maximum(), bar->value() + w.view->viewport()->height()));
            QTRY_VERIFY_WITH_TIMEOUT(w.ScreenDone(), 20000);
        }
        QVERIFY(w.RowsOnScreen().back() == 59);
        QTRY_VERIFY_WITH_TIMEOUT(w.grid->Service().Idle() && !w.grid->HoldsSources(), 20000);
        QCOMPARE(test::DescriptorsOn(w.image), 0);

        // The preview window opened from the grid, maximised.
        const int last = w.RowsOnScreen().back();
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.CellCentre(last));
        bool shown = false;
        test::WhenModal<CPreviewWnd>([&shown](CPreviewWnd* preview) {
            preview->showMaximized();
            test::Screenshot(*preview, "preview_maximised");
            shown = preview->Shown().record.Name().ends_with("0060.JPG");
            preview->reject();
        });
        QTest::mouseDClick(w.view->viewport(), Qt::LeftButton, {}, w.CellCentre(last));
        QTRY_VERIFY_WITH_TIMEOUT(shown, 20000);
    }

    void DateFilterCountsFollowTheRange() {
        GridWindow w;
        if (!w.Open()) QSKIP("grid_fat.img is not built");
        auto* from = w.window.findChild<QDateEdit*>("DateFrom");
        auto* to = w.window.findChild<QDateEdit*>("DateTo");
        QCOMPARE(w.window.Results()->ShownCount(), size_t(10));
        // The fixture's files were modified on 1 May of 2016, 2017 ... 2025.
        from->setDate(QDate(2018, 1, 1));
        to->setDate(QDate(2020, 12, 31));
        QCOMPARE(w.window.Results()->ShownCount(), size_t(3));
        QCOMPARE(w.window.FileListModel()->rowCount(), 3);
        // Both ends are whole days.
        to->setDate(QDate(2020, 5, 1));
        QCOMPARE(w.window.Results()->ShownCount(), size_t(3));
        from->setDate(QDate(2020, 5, 1));
        QCOMPARE(w.window.Results()->ShownCount(), size_t(1));
        // One end open.
        from->setDate(CMainWnd::OpenDate());
        QCOMPARE(w.window.Results()->ShownCount(), size_t(5));
        to->setDate(CMainWnd::OpenDate());
        QCOMPARE(w.window.Results()->ShownCount(), size_t(10));
    }

    // A deep scan's carved photos have no file-system date: the filter reads their EXIF.
    void CarvedPhotosAreFilteredByTheDateTheyWereTaken() {
        const test::ScratchDir scratch;
        const std::string image = scratch / "carved.img";
        {
            std::vector<std::byte> bytes(2 << 20);
            const auto put = [&](const char* name, size_t at) {
                const std::vector<std::byte> picture =
                    test::ReadWholeFile(test::TestDataPath(std::string("pictures/") + name));
                std::copy(picture.begin(), picture.end(), bytes.begin() + at);
            };
            put("taken.jpg", 64 << 10);       // taken 2023-07-14
            put("digitized.jpg", 256 << 10);  // digitised 2019-02-28
            put("plain.jpg", 512 << 10);      // no date
            test::WriteWholeFile(image, bytes);
        }
        CMainWnd window;
        window.resize(1280, 800);
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        QVERIFY(window.AddImageSource(QString::fromStdString(image)) != nullptr);
        QTest::mouseClick(window.findChild<QPushButton*>("BtnNext"), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
        QTest::mouseClick(window.findChild<QPushButton*>("BtnNext"), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(window.Results()->ShownCount(), size_t(3));
        QCOMPARE(window.Results()->DatesToRead().size(), size_t(3));
        auto* from = window.findChild<QDateEdit*>("DateFrom");
        auto* to = window.findChild<QDateEdit*>("DateTo");
        from->setDate(QDate(2023, 1, 1));
        QCOMPARE(window.Results()->ShownCount(), size_t(1));
        QVERIFY(window.Results()->DatesToRead().empty());  // read once
        to->setDate(QDate(2019, 12, 31));
        from->setDate(QDate(2019, 1, 1));
        QCOMPARE(window.Results()->ShownCount(), size_t(1));
        from->setDate(CMainWnd::OpenDate());
        to->setDate(CMainWnd::OpenDate());
        QCOMPARE(window.Results()->ShownCount(), size_t(3));
        // The source was opened for the reads only.
        QCOMPARE(test::DescriptorsOn(image), 0);
    }

    // Files without a date only while the range is open; a carved photo by its date taken.
    void FilesWithoutADateOnlyInAnOpenRange() {
        const test::ScratchDir scratch;
        auto store =
            std::make_unique<FoundFileStore>(QString::fromStdString(scratch.Path().string()));
        const auto add = [&](const char* name, RecordOrigin origin, uint64_t modified) {
            FoundRecord r = EmptyRecord();
            r.SetName(name);
            r.size = 100;
            r.origin = static_cast<uint32_t>(origin);
            r.modified = modified;
            r.contentIntact = 1;
            QCOMPARE(store->Add(r, "", 0), kOk);
        };
        add("dated.jpg", RecordOrigin::QuickFat, Day(2019, 6, 1));
        add("f0001.jpg", RecordOrigin::Carving, 0);
        add("f0002.jpg", RecordOrigin::Carving, 0);
        add("f0003.mp3", RecordOrigin::Carving, 0);
        QCOMPARE(store->Finish(), kOk);
        CResultsModel results(std::move(store), {{"card.img", 1}}, {}, {});
        QCOMPARE(results.DatesToRead(), (std::vector<uint32_t>{1, 2}));
        FileFilter filter;
        filter.fromTime = Day(2019, 1, 1);
        results.SetFilter(filter);
        QCOMPARE(results.ShownCount(), size_t(1));
        results.SetDateTaken(1, Day(2020, 2, 2));
        results.SetDateTaken(2, 0);  // read: it holds no date
        QVERIFY(results.DatesToRead().empty());
        results.SetFilter(filter);
        QCOMPARE(results.ShownCount(), size_t(2));
        QVERIFY(results.IsShown(1) && !results.IsShown(2) && !results.IsShown(3));
        filter.toTime = Day(2019, 12, 31);
        results.SetFilter(filter);
        QCOMPARE(results.ShownCount(), size_t(1));
        results.SetFilter(FileFilter{});
        QCOMPARE(results.ShownCount(), size_t(4));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("ThumbnailGrid", ThumbnailGridTest);

}  // namespace
}  // namespace keltra

#include "thumbnail_grid_test.moc"
