// Images that hold a partition table in the real main window: a row per volume under the image,
// each volume scanned, searched and recovered from on its own, the whole image scanned volume
// by volume, each volume's deep-scan history apart, and table entries the image cannot hold.
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "app/apply_section.h"
#include "app/disk_list.h"
#include "app/language_table.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/recover_options_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/source_lease.h"
#include "app/ui/markup.h"
#include "engines/recovery_target.h"
#include "gui_test_support.h"
#include "platform/little_endian.h"
#include "results_view.h"
#include "scanlog/scan_history.h"
#include "support/photo_fixture.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Sectors of the two volumes of the test image.
constexpr uint64_t kFirstStart = 2048;
constexpr uint64_t kSecondStart = 34816;
constexpr uint64_t kVolumeSectors = 32768;

// An MBR disk image made with sfdisk: partition 1 gui_photos.img (FAT16), partition 2
// photos_ntfs.img (NTFS); empty when a fixture or sfdisk is missing.
std::string MakeTwoVolumeImage(const test::ScratchDir& dir) {
    const std::string first = test::FixturePath("gui_photos.img");
    const std::string second = test::FixturePath("photos_ntfs.img");
    if (!fs::exists(first) || !fs::exists(second)) return {};
    const std::string image = dir / "two volumes.img";
    const std::string script = dir / "make.sh";
    std::ofstream(script) << "set -e\n"
                             "truncate -s 33M \"$1\"\n"
                             "sfdisk -q \"$1\" <<'LAYOUT'\n"
                             "label: dos\n"
                             "start=2048, size=32768, type=6\n"
                             "start=34816, size=32768, type=7\n"
                             "LAYOUT\n"
                             "dd if=\"$2\" of=\"$1\" bs=512 seek=2048 conv=notrunc status=none\n"
                             "dd if=\"$3\" of=\"$1\" bs=512 seek=34816 conv=notrunc status=none\n";
    const auto quoted = [](const std::string& path) { return "'" + path + "'"; };
    const std::string command = "bash " + quoted(script) + " " + quoted(image) + " " +
                                quoted(first) + " " + quoted(second) + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    return image;
}

QString Plain(const QTreeWidgetItem* row, int column) {
    return MarkupToPlainText(row->text(column));
}

QString Label(const QWidget& window, const char* name) {
    return window.findChild<QLabel*>(name)->text();
}

// While it lives, answers every message box that comes up with `button` and keeps its text.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(const QString& button) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, button] {
            auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            texts << box->findChild<QLabel*>("message")->text();
            box->findChild<QPushButton*>(button)->click();
        });
        timer_.start(10);
    }
    QStringList texts;

  private:
    QTimer timer_;
};

class ImageVolumesTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void VolumesAreRowsScannedAndRecoveredOnTheirOwn() {
        test::ScratchDir dir;
        const std::string image = MakeTwoVolumeImage(dir);
        if (image.empty()) QSKIP("the fixtures or sfdisk are missing");
        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        SourceItem* whole = window.AddImageSource(QString::fromStdString(image));
        QVERIFY(whole != nullptr && !whole->partition);

        // The image's row, selected, with a row per volume below it, as a disk has.
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QCOMPARE(CDiskListUI::SourceOf(imageRow), whole);
        QCOMPARE(Plain(imageRow, 0), QString("two volumes.img"));
        QCOMPARE(Label(window, "Label1"), "Image file: " + QString::fromStdString(image));
        QCOMPARE(imageRow->childCount(), 2);
        QVERIFY(imageRow->isExpanded());
        QTreeWidgetItem* first = imageRow->child(0);
        QTreeWidgetItem* second = imageRow->child(1);
        QCOMPARE(Plain(first, 0), QString("Partition 1: KELTRAGUI"));
        QCOMPARE(Plain(first, 1), QString("FAT"));
        QCOMPARE(Plain(first, 2), QString("16.00 MB"));
        QCOMPARE(Plain(second, 0), QString("Partition 2: PHOTOS"));
        QCOMPARE(Plain(second, 1), QString("NTFS"));
        SourceItem* firstVolume = CDiskListUI::SourceOf(first);
        SourceItem* secondVolume = CDiskListUI::SourceOf(second);
        QVERIFY(firstVolume->IsImageVolume() && secondVolume->IsImageVolume());
        QCOMPARE(firstVolume->partition->start, kFirstStart);
        QCOMPARE(secondVolume->partition->start, kSecondStart);
        QCOMPARE(secondVolume->partition->length, kVolumeSectors);
        // Every source has a tag of its own; no volume row stands for a disk's partition.
        QCOMPARE(std::set<uint16_t>(
                     {whole->SourceTag(), firstVolume->SourceTag(), secondVolume->SourceTag()})
                     .size(),
                 size_t(3));
        QVERIFY(CDiskListUI::EntryOf(second) == nullptr);
        test::Screenshot(window, "source_image_volumes");

        // A double click opens and closes the image's row, as a disk's; the group row above
        // it is no source, and has nothing to scan.
        emit list->itemDoubleClicked(imageRow, 0);
        QVERIFY(!imageRow->isExpanded());
        emit list->itemDoubleClicked(imageRow, 0);
        QVERIFY(imageRow->isExpanded());
        list->setCurrentItem(imageRow->parent());
        test::SeenBox nothing;
        test::AnswerNextBox("okbtn", nothing);
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(nothing.text, MessageText("MSG0505"));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));

        // The second volume alone: its deleted photos, and nothing of the first volume.
        list->setCurrentItem(second);
        QCOMPARE(Label(window, "Label1"), QString("Image file: two volumes.img, Partition 2"));
        QCOMPARE(Label(window, "Label3"), QString("File system: NTFS"));
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(firstVolume->engine == nullptr && secondVolume->engine != nullptr);
        QCOMPARE(test::FoundTags(window), std::set<uint16_t>{secondVolume->SourceTag()});
        const auto names = test::FoundNames(window);
        QCOMPARE(names.count("Beach day.jpg"), size_t(2));
        QCOMPARE(names.count("Holiday_001.JPG"), size_t(1));
        QCOMPARE(names.count("Company logo.png"), size_t(1));
        QCOMPARE(names.count("hundred.jpeg"), size_t(0));

        // The deleted holiday photo, checked in the file list and recovered through the
        // window's own recovery, byte for byte.
        QVERIFY(test::SelectNode(window, "TypeJpg"));
        const int holiday = test::RowNamed(window, "Holiday_001.JPG");
        QVERIFY(holiday >= 0);
        test::CheckRow(window, holiday, true);
        QCOMPARE(window.CheckedCount(), size_t(1));
        test::ScratchDir dest;
        const QString folder = QString::fromStdString(dest.Path().string()) + "/";
        test::WhenModal<CRecoverOptionsWnd>(
            [](CRecoverOptionsWnd* options) { options->accept(); });
        test::WhenModal<QFileDialog>([folder](QFileDialog* dialog) {
            dialog->setDirectory(folder);
            static_cast<QDialog*>(dialog)->accept();
        });
        unsigned failed = 1;
        test::WhenModal<CRecoverProcessWnd>([&failed](CRecoverProcessWnd* recovery) {
            auto* finish = recovery->findChild<QPushButton*>("FinishBtn");
            QTRY_VERIFY(finish->isVisible());
            failed = recovery->Failed();
            QTest::mouseClick(finish, Qt::LeftButton);
        });
        QTest::mouseClick(window.findChild<QPushButton*>("BtnRecover"), Qt::LeftButton);
        QCOMPARE(failed, 0U);
        QCOMPARE(
            test::Sha256OfFile(dest / "photo/Holiday_001.JPG"),
            test::Sha256OfFile(test::FixturePath("photos_originals/Camera roll/Holiday_001.JPG")));

        // The first volume alone, then the image's row: both volumes in turn.
        QTest::mouseClick(window.findChild<QPushButton*>("TabScan"), Qt::LeftButton);
        list->setCurrentItem(first);
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(test::FoundTags(window), std::set<uint16_t>{firstVolume->SourceTag()});
        QCOMPARE(test::FoundNames(window).count("hundred.jpeg"), size_t(1));
        QCOMPARE(test::FoundNames(window).count("Holiday_001.JPG"), size_t(0));
        QTest::mouseClick(window.findChild<QPushButton*>("TabScan"), Qt::LeftButton);
        list->setCurrentItem(imageRow);
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(test::FoundTags(window),
                 std::set<uint16_t>({firstVolume->SourceTag(), secondVolume->SourceTag()}));
        QVERIFY(whole->engine == nullptr);
    }

    // A deep scan asks to continue only an earlier deep scan of the same volume.
    void EachVolumeKeepsItsOwnDeepScanHistory() {
        test::ScratchDir dir;
        const std::string image = MakeTwoVolumeImage(dir);
        if (image.empty()) QSKIP("the fixtures or sfdisk are missing");
        // An unfinished deep scan of the second volume, as a stopped scan leaves it.
        ScanHistory& history = ScanHistory::Instance();
        history.NewScanFolder();
        DeepScanState state;
        state.sectorsDone = 100;
        state.runLength = kVolumeSectors - 100;  // stopped before the end
        QCOMPARE(history.SaveScanState(kImageDiskNumber, kSecondStart, kVolumeSectors, state,
                                       history.CurrentScanFolder(), image),
                 kOk);

        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        window.AddImageSource(QString::fromStdString(image));
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QCOMPARE(imageRow->childCount(), 2);

        // The first volume's deep scan asks nothing.
        list->setCurrentItem(imageRow->child(0));
        window.ShowPage(CMainWnd::kPageFileType);
        {
            BoxAnswerer boxes("cancelbtn");
            QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
            QCOMPARE(boxes.texts, QStringList());
        }
        ScanHistoryRecord kept{};
        QVERIFY(history.FindImageScan(image, kept, kSecondStart, kVolumeSectors));
        QCOMPARE(kept.state.sectorsDone, uint64_t(100));

        // The second volume's asks; "no" forgets that scan and starts afresh.
        window.ShowPage(CMainWnd::kPageFileType);
        list->setCurrentItem(imageRow->child(1));
        {
            BoxAnswerer boxes("cancelbtn");
            QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
            QCOMPARE(boxes.texts, QStringList{MessageText("MSG1206")});
        }
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY(test::FoundNames(window).count("Holiday_001.JPG") >= 1);
        ScanHistoryRecord after{};
        QVERIFY(!history.FindImageScan(image, after, kSecondStart, kVolumeSectors) ||
                after.state.sectorsDone != 100);
    }

    // A disk image whose table names only its NTFS volume: the FAT32 volume after it, a
    // deleted partition, lies in a stretch no partition covers. A deep scan of the image's row
    // reads that stretch too and finds the deleted partition's files; a quick scan passes it by.
    void DeepScanOfTheImageRowReadsTheStretchesNoVolumeCovers() {
        test::ScratchDir dir;
        std::vector<std::byte> disk = test::ReadWholeFile(test::FixturePath("lost_volumes.img"));
        QVERIFY(disk.size() > 184000 * 512);
        const std::span<std::byte> entry(disk.data() + 446, 16);
        entry[4] = std::byte{0x07};
        StoreLE<uint32_t>(entry, 8, 2048);
        StoreLE<uint32_t>(entry, 12, 81920);
        disk[510] = std::byte{0x55};
        disk[511] = std::byte{0xAA};
        const std::string image = dir / "one partition.img";
        test::WriteWholeFile(image, disk);

        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        window.AddImageSource(QString::fromStdString(image));
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QVERIFY(imageRow->childCount() >= 2);
        list->setCurrentItem(imageRow);
        for (const bool deep : {false, true}) {
            window.ShowPage(deep ? CMainWnd::kPageFileType : CMainWnd::kPageSource);
            BoxAnswerer boxes("cancelbtn");
            QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
            const std::multiset<std::string> names = test::FoundNames(window);
            // The NTFS volume's deleted files, and with the deep scan the FAT32 volume's, whose
            // deleted short names have lost their first letter.
            QCOMPARE(names.count("minutes.txt"), size_t(1));
            QCOMPARE(names.count("!inutes.txt"), size_t(deep ? 1 : 0));
            QCOMPARE(names.count("!udget.bin"), size_t(deep ? 1 : 0));
            QCOMPARE(test::FoundTags(window).size(), size_t(deep ? 2 : 1));
        }
    }

    // A deep scan of a card's first volume (at sector 2048), a quick scan of another image (a
    // volume at sector 0, whose log lands in the deep scan's folder), then the card's volume
    // again, its earlier scan taken up: only the card's own files are listed, and each one
    // copies out equal to its original.
    void TakenUpDeepScanListsOnlyItsOwnSourcesFiles() {
        test::ScratchDir dir;
        const std::string card = dir / "card.img";
        const std::string other = dir / "other.img";
        fs::copy_file(test::FixturePath("tables_mbr.img"), card);
        fs::copy_file(test::FixturePath("fat16_deep.img"), other);
        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        window.AddImageSource(QString::fromStdString(card));
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QTreeWidgetItem* volume = nullptr;
        for (int i = 0; i < imageRow->childCount(); ++i) {
            if (Plain(imageRow->child(i), 0).startsWith("Partition 1")) volume = imageRow->child(i);
        }
        QVERIFY(volume != nullptr);
        // The questions the deep scan of the card asked.
        const auto deepScanOfTheCard = [&] {
            list->setCurrentItem(volume);
            window.ShowPage(CMainWnd::kPageFileType);
            BoxAnswerer boxes("okbtn");  // take up the earlier scan
            QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
            return boxes.texts;
        };
        QCOMPARE(deepScanOfTheCard(), QStringList());
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));

        window.AddImageSource(QString::fromStdString(other));
        window.ShowPage(CMainWnd::kPageSource);
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        const std::multiset<std::string> otherNames = test::FoundNames(window);
        QVERIFY(!otherNames.empty());

        QCOMPARE(deepScanOfTheCard(), QStringList{MessageText("MSG1210")});
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        // The originals' hashes by name ("Beach day.jpg" is in two folders).
        std::map<std::string, std::set<std::string>> originals;
        for (const std::string& path : test::PhotoDeletedFiles()) {
            originals[fs::path(path).filename().string()].insert(
                test::Sha256OfFile(test::PhotoOriginal(path)));
        }
        const std::string out = dir / "out";
        fs::create_directories(out);
        size_t named = 0;
        // The scan closed the card; it is read while a lease holds it, as a recovery does.
        const SourceLease open(window.ScannedSources());
        for (const FoundRecord& record : test::AllFound(window)) {
            const std::string name(record.Name());
            QVERIFY2(otherNames.count(name) == 0, name.c_str());
            const auto original = originals.find(name);
            if (original == originals.end()) continue;  // a carved file of the card
            ++named;
            const std::string target = out + "/" + std::to_string(named) + "_" + name;
            QCOMPARE(window.EngineOf(record)->RecoverRecord(record, target,
                                                             RootSeparatorCount(out)),
                     kOk);
            QVERIFY2(original->second.count(test::Sha256OfFile(target)) == 1, name.c_str());
        }
        QCOMPARE(named, test::PhotoDeletedFiles().size());
    }

    // Entries past the image's end or overlapping are told; the usable ones are still rows.
    void BadTableEntriesAreToldAndTheOthersListed() {
        const std::string image = test::FixturePath("tables_bad.img");
        if (!fs::exists(image)) QSKIP("tables_bad.img is not built");
        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        test::SeenBox told;
        test::WhenModal<CMessageBox>([&told](CMessageBox* box) {
            test::Screenshot(*box, "image_table_problems");
            told.shown = true;
            told.kind = box->Kind();
            told.text = box->findChild<QLabel*>("message")->text();
            box->findChild<QPushButton*>("okbtn")->click();
        });
        window.AddImageSource(QString::fromStdString(image));
        QVERIFY(told.shown);
        QCOMPARE(told.kind, int(kMessageWarning));
        QVERIFY(told.text.startsWith(
            "Some entries of the partition table of tables_bad.img cannot be used"));
        QVERIFY(told.text.contains("partition 2 (sectors 100000 to 102047) starts past the end"));
        QVERIFY(told.text.contains("partition 3 (sectors 10000 to 14095) overlaps partition 1"));
        QVERIFY(told.text.contains("partition 4 (sectors 36864 to 45055) ends past the end"));

        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QCOMPARE(imageRow->toolTip(0), told.text);
        QStringList rows;
        for (int i = 0; i < imageRow->childCount(); ++i) rows << Plain(imageRow->child(i), 0);
        QCOMPARE(rows.filter("Partition 1: PHOTOS1").size(), 1);
        QCOMPARE(rows.filter("Partition 4: SHORT").size(), 1);
        QVERIFY(rows.filter("Partition 2").isEmpty() && rows.filter("Partition 3").isEmpty());

        // The first partition scans as ever.
        for (int i = 0; i < imageRow->childCount(); ++i) {
            if (rows[i].startsWith("Partition 1")) list->setCurrentItem(imageRow->child(i));
        }
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(test::FoundNames(window).count("Holiday_001.JPG"), size_t(1));
    }

    // An image cut short is listed by the GPT table at its start; when that table is damaged
    // too, the image is one source, and why is told.
    void ACutImageIsListedByTheTableAtItsStart() {
        const std::string gpt = test::FixturePath("tables_gpt.img");
        if (!fs::exists(gpt)) QSKIP("tables_gpt.img is not built");
        test::ScratchDir dir;
        const std::string image = dir / "cut.img";
        fs::copy_file(gpt, image);
        fs::resize_file(image, 20u << 20);
        CMainWnd window;
        window.show();
        QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
        const auto added = [&window](const std::string& path, const QString& screenshot = {}) {
            // A file is listed once: it leaves the list before it is read again.
            auto* sources = window.findChild<QTreeWidget*>("DiskList");
            for (QTreeWidgetItemIterator it(sources); *it != nullptr; ++it) {
                const SourceItem* source = CDiskListUI::SourceOf(*it);
                if (source != nullptr && source->imagePath == path && !source->partition) {
                    window.RemoveImage(*it);
                    break;
                }
            }
            test::SeenBox told;
            test::WhenModal<CMessageBox>([&told, screenshot](CMessageBox* box) {
                if (!screenshot.isEmpty()) test::Screenshot(*box, screenshot);
                told.shown = true;
                told.text = box->findChild<QLabel*>("message")->text();
                box->findChild<QPushButton*>("okbtn")->click();
            });
            window.AddImageSource(QString::fromStdString(path));
            return told;
        };
        const test::SeenBox cut = added(image);
        QVERIFY(cut.shown);
        QVERIFY(cut.text.startsWith("Some entries of the partition table of cut.img"));
        QVERIFY(cut.text.contains("(it was cut short); the partitions are read"));
        QVERIFY(cut.text.contains("partition 2 (sectors 34816 to 67583) ends past the end"));
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        QTreeWidgetItem* imageRow = list->currentItem();
        QCOMPARE(imageRow->childCount(), 2);
        QVERIFY(Plain(imageRow->child(0), 0).startsWith("Partition 1"));
        QVERIFY(Plain(imageRow->child(1), 0).startsWith("Partition 2"));
        list->setCurrentItem(imageRow->child(0));
        QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(test::FoundNames(window).count("Holiday_001.JPG"), size_t(1));

        // The lines are in the user's language.
        window.ShowPage(CMainWnd::kPageFileType);
        QCOMPARE(LanguageTable().SetLanguage("German"), kOk);
        const test::SeenBox german = added(image, "image_cut_short_german");
        QVERIFY(german.text.startsWith("Einige Einträge der Partitionstabelle von cut.img"));
        QVERIFY(german.text.contains("das Abbild hat aber nur 40960 (es wurde abgeschnitten)"));
        QVERIFY(german.text.contains(
            "Partition 2 (Sektoren 34816 bis 67583) reicht über das Ende des Abbilds (40960 "
            "Sektoren) hinaus; nur ihre ersten 6144 Sektoren sind vorhanden"));
        QCOMPARE(LanguageTable().SetLanguage("English"), kOk);

        {
            std::fstream spoil(image, std::ios::in | std::ios::out | std::ios::binary);
            spoil.seekp(512 + 56);
            spoil.put('\x5a');
        }
        window.ShowPage(CMainWnd::kPageFileType);
        const test::SeenBox damaged = added(image);
        QVERIFY(damaged.shown);
        QVERIFY(damaged.text.startsWith("The partition table of cut.img cannot be used"));
        QVERIFY(damaged.text.contains("that table is damaged"));
        QCOMPARE(list->currentItem()->childCount(), 0);
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("ImageVolumes", ImageVolumesTest);

}  // namespace
}  // namespace keltra

#include "image_volumes_test.moc"
