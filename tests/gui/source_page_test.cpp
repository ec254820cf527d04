// The source page's image list and what the window does around a scan: an image file is
// listed once and can be taken off the list, a file that holds no disk is added only when the
// user says so, the root advice, dialogs opening over the window, and a scanned image that
// stays closed between the reads of its files, and names beside a long reason in a small window.
#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/disk_access.h"
#include "app/disk_image_check.h"
#include "app/disk_list.h"
#include "app/main_wnd.h"
#include "app/message_format.h"
#include "app/message_box.h"
#include "app/recover_process_wnd.h"
#include "app/source_lease.h"
#include "app/ui/apply_section.h"
#include "app/ui/markup.h"
#include "gui_test_support.h"
#include "scanlog/scan_log_folder.h"
#include "results_view.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
}

// The rows of the list under the "Image File" group, images and volumes.
int ImageRows(const CMainWnd& window) {
    int rows = 0;
    auto* list = window.findChild<QTreeWidget*>("DiskList");
    for (QTreeWidgetItemIterator it(list); *it != nullptr; ++it) {
        const SourceItem* source = CDiskListUI::SourceOf(*it);
        if (source != nullptr && !source->imagePath.empty()) ++rows;
    }
    return rows;
}

bool CentredOver(const QRect& inner, const QRect& outer) {
    const QPoint offset = inner.center() - outer.center();
    return std::abs(offset.x()) <= 1 && std::abs(offset.y()) <= 1;
}

class SourcePageTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    // The same file twice (also by another name) keeps one row; "Remove from list" takes the
    // image with its volumes off, and the results found on it with them.
    void ImageIsListedOnceAndCanBeRemoved() {
        const std::string disk = test::FixturePath("gui_disk.img");
        if (!fs::exists(disk)) QSKIP("gui_disk.img is not built");
        test::ScratchDir dir;
        fs::create_symlink(disk, dir / "other-name.dd");
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* first = window.AddImageFile(QString::fromStdString(disk));
        QVERIFY(first != nullptr);
        const int rows = ImageRows(window);
        QVERIFY(rows >= 2);  // the image and its partition
        QCOMPARE(window.AddImageFile(QString::fromStdString(dir / "other-name.dd")), first);
        QCOMPARE(window.AddImageSource(QString::fromStdString(disk)), first);
        QCOMPARE(ImageRows(window), rows);

        auto* list = window.findChild<CDiskListUI*>("DiskList");
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(window.Results() != nullptr);
        Click(window, "BtnPrev");
        // Delete on the partition's row removes its image as a whole.
        QTreeWidgetItem* imageRow = window.findChild<QTreeWidget*>("DiskList")->currentItem();
        QVERIFY(imageRow != nullptr && imageRow->childCount() > 0);
        list->setCurrentItem(imageRow->child(0));
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(ImageRows(window), 0);
        QVERIFY(window.Results() == nullptr);
        QVERIFY(window.ScannedSources().empty());
        QVERIFY(window.findChild<QLabel*>("Label1")->text().isEmpty());
        // Listed again, it is a new source.
        QVERIFY(window.AddImageFile(QString::fromStdString(disk)) != nullptr);
        QCOMPARE(ImageRows(window), rows);
    }

    // The row of an image of one volume names its file system as soon as the image is listed,
    // as partition rows do; a volume whose first sector is lost is known by its backup; a disk
    // image's row leaves that to its volumes' rows, and a file holding nothing known names none.
    void ImageOfOneVolumeNamesItsFileSystem() {
        test::ScratchDir dir;
        const std::string noBoot = dir / "fat32-no-boot.img";
        fs::copy_file(test::FixturePath("fat32.img"), noBoot);
        {
            std::fstream file(noBoot, std::ios::in | std::ios::out | std::ios::binary);
            const std::string zeros(512, '\0');
            file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
        }
        const std::string blank = dir / "blank.img";
        test::WriteWholeFile(blank, std::vector<std::byte>(1 << 20));
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        auto* list = window.findChild<QTreeWidget*>("DiskList");
        for (const auto& [image, expected] :
             {std::pair{test::FixturePath("photos_ntfs.img"), "NTFS"},
              {test::FixturePath("fat32.img"), "FAT32"},
              {test::FixturePath("fat16.img"), "FAT"},
              {test::FixturePath("photos_exfat.img"), "exFAT"},
              {test::FixturePath("ext4.img"), "ext4"},
              {noBoot, "FAT32"},
              {blank, ""},
              {test::FixturePath("gui_disk.img"), ""}}) {
            window.AddImageSource(QString::fromStdString(image));
            const QString shown = MarkupToPlainText(list->currentItem()->text(1));
            QVERIFY2(shown == expected, qPrintable(QString::fromStdString(image) + ": " + shown));
        }
    }

    // A photo loaded as an image is named as probably no disk image; it is listed only when
    // the user says so (a wiped card's dump holds nothing either and can still be deep-scanned).
    void FileHoldingNoDiskIsAddedOnlyWhenWanted() {
        const std::string photo = test::TestDataPath("photos/beach.jpg");
        const std::string card = test::FixturePath("gui_photos.img");
        if (!fs::exists(card)) QSKIP("gui_photos.img is not built");
        ImageVolumes none;
        QVERIFY(!LooksLikeDiskImage(photo, none));
        ImageVolumes volumes;
        QCOMPARE(ListImageVolumes(test::FixturePath("gui_disk.img"), volumes), kOk);
        QVERIFY(LooksLikeDiskImage(test::FixturePath("gui_disk.img"), volumes));
        QVERIFY(LooksLikeDiskImage(card, none));
        test::ScratchDir dir;
        const std::string wiped = dir / "wiped.img";
        std::vector<std::byte> bytes = test::ReadWholeFile(card);
        std::fill(bytes.begin(), bytes.begin() + 65536, std::byte{0});  // boot sectors and FATs
        test::WriteWholeFile(wiped, bytes);
        QVERIFY(!LooksLikeDiskImage(wiped, none));

        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        test::SeenBox refused;
        test::AnswerNextBox("cancelbtn", refused);
        QVERIFY(window.AddImageFile(QString::fromStdString(photo)) == nullptr);
        QVERIFY(refused.shown);
        QCOMPARE(refused.text, FormatMessage(MessageText("MSG0241"), {"beach.jpg"}));
        QCOMPARE(ImageRows(window), 0);
        test::SeenBox accepted;
        test::AnswerNextBox("okbtn", accepted);
        QVERIFY(window.AddImageFile(QString::fromStdString(wiped)) != nullptr);
        QVERIFY(accepted.shown);
        QCOMPARE(ImageRows(window), 1);
        // A disk image is added without a question; a missing file is named with the reason.
        QVERIFY(window.AddImageFile(QString::fromStdString(card)) != nullptr);
        test::SeenBox missing;
        test::AnswerNextBox("okbtn", missing);
        QVERIFY(window.AddImageFile(QString::fromStdString(dir / "gone.img")) == nullptr);
        QVERIFY(missing.shown);
        QVERIFY2(missing.text.contains("No such file or directory"), qPrintable(missing.text));
    }

    // In the smallest window the names keep their room beside why a disk cannot be read (the
    // reason's column once took the width of its text with the markup in it, and cut an
    // image's name to "grid_"); in a wide window the whole reason shows, and it is always the
    // row's tip.
    void NamesKeepTheirRoomBesideALongReason() {
        const std::string image = test::FixturePath("photos_ntfs.img");
        if (!fs::exists(image)) QSKIP("photos_ntfs.img is not built");
        CMainWnd window;
        window.resize(800, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Click(window, "BtnStart");
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        const QString reason = "Permission denied (status 5), and a much longer explanation";
        list->AddUnreadableDisk("/dev/sdz", reason);
        QVERIFY(window.AddImageSource(QString::fromStdString(image)) != nullptr);
        QTreeWidgetItem* imageRow = list->currentItem();
        QVERIFY(imageRow != nullptr);
        QTest::qWait(50);

        const QHeaderView* header = list->header();
        const int nameNeeds = list->visualItemRect(imageRow).left() +
                              list->itemDelegate()->sizeHint({}, list->indexFromItem(imageRow)).width();
        QVERIFY2(header->sectionSize(0) >= nameNeeds,
                 qPrintable(QString("name %1 < %2").arg(header->sectionSize(0)).arg(nameNeeds)));
        QVERIFY(header->sectionSize(1) <= list->viewport()->width() * 2 / 5);
        // (The machine's own disks are listed too.)
        const QList<QTreeWidgetItem*> added = list->findItems("/dev/sdz", Qt::MatchContains);
        QCOMPARE(added.size(), 1);
        const QTreeWidgetItem* unreadable = added.front();
        QCOMPARE(unreadable->toolTip(1), reason);

        // Wide: the reason's whole drawn text, and not much more.
        window.resize(1600, 900);
        QTest::qWait(50);
        const int reasonNeeds =
            list->itemDelegate()->sizeHint({}, list->indexFromItem(unreadable, 1)).width();
        QVERIFY(header->sectionSize(1) >= reasonNeeds);
        QVERIFY2(header->sectionSize(1) < reasonNeeds + 40,
                 qPrintable(QString("reason %1, needs %2").arg(header->sectionSize(1)).arg(reasonNeeds)));
    }

    void RootIsAdvisedOnlyWhereItHelps() {
        const std::vector<DiskAccessProblem> denied{{"/dev/sda", kErrAccessDenied},
                                                    {"/dev/sdb", kErrNotReady}};
        const std::vector<DiskAccessProblem> noMedium{{"/dev/sdb", kErrNotReady}};
        QVERIFY(RootWouldHelp(denied, false));
        QVERIFY(!RootWouldHelp(denied, true));
        QVERIFY(!RootWouldHelp(noMedium, false));
        QVERIFY(!RootWouldHelp({}, false));
    }

    // Questions and progress windows open centred over the main window, wherever it is.
    void DialogsOpenCentredOverTheWindow() {
        CMainWnd window;
        window.show();
        window.showNormal();
        window.setGeometry(60, 40, 820, 560);
        QTRY_COMPARE(window.geometry().topLeft(), QPoint(60, 40));
        test::SeenBox box;
        test::AnswerNextBox("okbtn", box);
        ShowMessage(kMessageInformation, &window, QStringLiteral("over the window"));
        QVERIFY(box.shown);
        QVERIFY2(CentredOver(box.geometry, window.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2").arg(box.geometry.center().x())
                                .arg(box.geometry.center().y())));

        CRecoverProcessWnd progress(&window, CRecoverProcessWnd::kAllChecked, "/nonexistent", {},
                                    nullptr);
        progress.show();
        QVERIFY(CentredOver(progress.frameGeometry(), window.frameGeometry()));
    }

    // After its scan the image is closed (a loop device over it could be detached); a preview
    // and a recovery open it for as long as they read, and it is closed again after them.
    void ScannedImageIsClosedBetweenReads() {
        const std::string image = test::FixturePath("gui_photos.img");
        if (!fs::exists(image)) QSKIP("gui_photos.img is not built");
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* source = window.AddImageSource(QString::fromStdString(image));
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(source->engine != nullptr);
        QCOMPARE(test::DescriptorsOn(image), 0);

        // The preview of a picture reads it through the engine into the preview file.
        const int row = test::RowNamed(window, "hundred.jpeg");
        QVERIFY(row >= 0);
        const FoundRecord record =
            window.Results()->Store().Record(window.FileListModel()->FileAt(row));
        const std::string previewFile = ScanLogFolder() + "/tmp.jpg";
        fs::remove(previewFile);
        test::SelectRow(window, row);
        QTRY_VERIFY(fs::exists(previewFile));
        QCOMPARE(uint64_t{fs::file_size(previewFile)}, record.size);
        QCOMPARE(test::DescriptorsOn(image), 0);

        {
            const SourceLease open(window.ScannedSources());
            QCOMPARE(open.OpenStatus(), kOk);
            QVERIFY(test::DescriptorsOn(image) > 0);
            const SourceLease nested({source});
            test::ScratchDir dest;
            QCOMPARE(source->engine->RecoverRecord(record, dest / "hundred.jpeg", 0), kOk);
            QVERIFY(fs::file_size(dest / "hundred.jpeg") == record.size);
        }
        QCOMPARE(test::DescriptorsOn(image), 0);

        // The recovery window lets the source go when the copying ends, not when it is closed.
        test::ScratchDir dest;
        CRecoverProcessWnd recovery(&window, CRecoverProcessWnd::kOneFile, dest.Path().string(), {record},
                                    [source](uint16_t) { return source->engine.get(); });
        recovery.HoldSourcesWhileCopying(
            std::make_unique<SourceLease>(std::vector<SourceItem*>{source}));
        QVERIFY(test::DescriptorsOn(image) > 0);
        recovery.show();
        QTRY_VERIFY(recovery.findChild<QWidget*>("FinishBtn")->isVisible());
        QCOMPARE(recovery.Processed(), 1u);
        QCOMPARE(test::DescriptorsOn(image), 0);
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("SourcePage", SourcePageTest);

}  // namespace
}  // namespace keltra

#include "source_page_test.moc"
