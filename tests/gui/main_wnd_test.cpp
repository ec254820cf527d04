// The main window: pages and banners, navigation and its refusals, language switching.
#include "app/main_wnd.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include "app/apply_section.h"
#include "app/disk_list.h"
#include "app/language_table.h"
#include "app/message_box.h"
#include "app/ui/markup.h"
#include "app/ui/markup_label.h"
#include "app/ui/picture_frame.h"
#include "app/window_size.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

using test::AnswerNextBox;
using test::SeenBox;

QString Label(const QWidget& window, const char* name) {
    if (auto* markup = window.findChild<CMarkupLabel*>(name))
        return MarkupToPlainText(markup->Text());
    if (auto* label = window.findChild<QLabel*>(name)) return label->text();
    return window.findChild<QAbstractButton*>(name)->text();
}

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
}

class MainWndTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void StartsOnTheStartPage() {
        CMainWnd window;
        window.show();
        // No size remembered yet: most of the screen.
        QCOMPARE(window.size(),
                 OpeningWindowSize(std::nullopt, window.screen()->availableGeometry().size()));
        QCOMPARE(window.windowTitle(), QString("Keltra Photo Recovery"));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageStart));
        QVERIFY(!window.findChild<QWidget*>("ToolBar2")->isVisible());
        QVERIFY(!window.findChild<QWidget*>("ToolBar3")->isVisible());
        QVERIFY(window.findChild<QWidget*>("SubBar1")->isVisible());
        QCOMPARE(Label(window, "LblProductName"), QString("Keltra Photo Recovery"));
        QCOMPARE(Label(window, "BtnStart"), QString("Start"));
    }

    void NavigationFollowsItsRules() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
        QCOMPARE(window.CurrentMode(), int(CMainWnd::kModeRecover));
        auto* banner = window.findChild<CPictureFrame*>("ToolBar2");
        QCOMPARE(banner->BkImage(), QString("file='banner_bg.png' corner='0,0,0,70'"));
        QCOMPARE(Label(window, "Txt1"), MessageText("MSG0501"));

        // Without a selected disk the source page refuses to go on.
        QVERIFY(!window.findChild<QWidget*>("BtnScan")->isEnabled());
        SeenBox seen;
        AnswerNextBox("okbtn", seen);
        Click(window, "BtnNext");
        QVERIFY(seen.shown);
        QCOMPARE(seen.kind, int(kMessageInformation));
        QCOMPARE(seen.text, QString("Please select disk media for next step!"));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));

        // Nor does a scan start without one.
        window.findChild<QWidget*>("BtnScan")->setEnabled(true);
        SeenBox noSource;
        AnswerNextBox("okbtn", noSource);
        Click(window, "BtnScan");
        QCOMPARE(noSource.text, MessageText("MSG0505"));

        Click(window, "BtnNext");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
        QCOMPARE(banner->BkImage(), QString("file='banner_bg2.png' corner='0,0,0,70'"));
        QCOMPARE(window.findChild<CMarkupLabel*>("Txt1")->TextColor(), QColor("#FFE47100"));
        // The file-type page's way on is the deep scan, which needs a source as well.
        QCOMPARE(window.findChild<QPushButton*>("BtnNext")->text(), QString("Deep Scan"));
        SeenBox noDeepSource;
        AnswerNextBox("okbtn", noDeepSource);
        Click(window, "BtnNext");
        QCOMPARE(noDeepSource.text, MessageText("MSG0505"));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
        window.ShowPage(CMainWnd::kPageRecover);
        QCOMPARE(window.findChild<QPushButton*>("BtnNext")->text(), QString("Next"));
        QCOMPARE(Label(window, "Txt2"), MessageText("MSG0802").replace("%s", "0"));
        QVERIFY(window.findChild<QWidget*>("BtnRecover")->isVisible());
        QVERIFY(!window.findChild<QWidget*>("BtnScan")->isVisible());
        Click(window, "BtnNext");  // the last page goes nowhere
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));

        // Back from the results of a quick scan goes to the source page.
        Click(window, "BtnPrev");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
        window.ShowPage(CMainWnd::kPageFileType);
        Click(window, "BtnPrev");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
        Click(window, "BtnPrev");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageStart));
        QVERIFY(!window.findChild<QWidget*>("ToolBar2")->isVisible());

        // The page options.
        Click(window, "BtnRecoverMode");
        Click(window, "TabRecover");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        Click(window, "TabScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
    }

    void ImageModeChangesTheSourcePage() {
        CMainWnd window;
        window.show();
        Click(window, "BtnCreateImageMode");
        QCOMPARE(window.CurrentMode(), int(CMainWnd::kModeCreateImage));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
        QCOMPARE(Label(window, "Txt1"), MessageText("MSG0212"));
        QCOMPARE(Label(window, "TabScan"), MessageText("MSG0211"));
        QVERIFY(window.findChild<QWidget*>("BtnScan")->property("image").toString().contains(
            "btn_create_image.png"));
        QCOMPARE(Label(window, "BtnScan"), QString("Create Image"));
        window.findChild<QWidget*>("BtnScan")->setEnabled(true);
        SeenBox noSource;
        AnswerNextBox("okbtn", noSource);
        Click(window, "BtnScan");
        QCOMPARE(noSource.text, MessageText("MSG0216"));
        Click(window, "BtnPrev");
        Click(window, "BtnRecoverMode");
        QCOMPARE(window.CurrentMode(), int(CMainWnd::kModeRecover));
        QCOMPARE(Label(window, "TabScan"), MessageText("MSG0503"));
        QCOMPARE(Label(window, "BtnScan"), QString("Scan"));
    }

    void HoveringAModeExplainsIt() {
        CMainWnd window;
        window.show();
        QTest::mouseMove(window.findChild<QWidget*>("BtnCreateImageMode"));
        QTRY_COMPARE(Label(window, "TxtMainInfo"), MessageText("MSG0102"));
        QTest::mouseMove(window.findChild<QWidget*>("BtnRecoverMode"));
        QTRY_COMPARE(Label(window, "TxtMainInfo"), MessageText("MSG0101"));
    }

    void LanguageSwitchUpdatesTheShownPage() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        QCOMPARE(Label(window, "BtnNext"), QString("Next"));

        // The menu lists the languages and marks the current one.
        QMenu* languages = window.AssistMenu()->findChild<QMenu*>("item_language");
        QVERIFY(languages != nullptr);
        QCOMPARE(languages->title(), QString("Language"));
        QAction* german = languages->findChild<QAction*>("German");
        QVERIFY(german != nullptr);
        QCOMPARE(german->text(), QString("Deutsch"));
        QVERIFY(german->icon().isNull());
        QVERIFY(!languages->findChild<QAction*>("English")->icon().isNull());

        german->trigger();
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(Label(window, "BtnNext"), QString("Weiter"));
        QCOMPARE(Label(window, "Txt1"), QString("Ort zum Durchsuchen wählen"));
        QCOMPARE(Label(window, "TabScan"), QString("Suchen"));
        QCOMPARE(window.findChild<QTreeWidget*>("DiskList")->headerItem()->text(2),
                 QString("Größe"));
        QCOMPARE(LanguageTable().CurrentLanguage(), std::string("German"));

        emit window.AssistMenu()->aboutToShow();
        languages = window.AssistMenu()->findChild<QMenu*>("item_language");
        QCOMPARE(languages->title(), QString("Sprache"));
        QVERIFY(!languages->findChild<QAction*>("German")->icon().isNull());
        QVERIFY(languages->findChild<QAction*>("English")->icon().isNull());

        // A new window starts in the chosen language.
        CMainWnd again;
        QCOMPARE(Label(again, "BtnPrev"), QString("Zurück"));
    }

    void SelectedPartitionFillsThePanelAndOpensTheWayOn() {
        CMainWnd window;
        window.show();
        DiskMap disks;
        VolumeEntry photos;
        photos.letter = 1;
        photos.kind = kKindNtfs;
        photos.diskNumber = 97;
        photos.totalBytes = 2ull << 30;
        photos.usedBytes = 1536ull << 20;
        photos.freeBytes = 512ull << 20;
        photos.fileSystemName = "NTFS";
        photos.volumeLabel = "Photos";
        VolumeEntry gap;
        gap.letter = 2;
        gap.diskNumber = 97;
        gap.totalBytes = 1000;
        disks[97] = {photos, gap};
        auto* list = window.findChild<CDiskListUI*>("DiskList");
        window.SetDisks(disks);
        QTreeWidgetItem* disk = list->topLevelItem(list->topLevelItemCount() - 1);
        QCOMPARE(MarkupToPlainText(disk->text(0)), QString("Hard disk 98"));
        QCOMPARE(disk->childCount(), 2);
        QCOMPARE(MarkupToPlainText(disk->child(0)->text(0)), QString("1:\\ Photos"));
        QCOMPARE(MarkupToPlainText(disk->child(0)->text(2)), QString("2.00 GB"));
        QCOMPARE(MarkupToPlainText(disk->child(1)->text(2)), QString("1000 B"));
        QVERIFY(list->EntryOf(disk) == nullptr);

        Click(window, "BtnRecoverMode");  // selects the first partition
        QCOMPARE(list->currentItem(), disk->child(0));
        QCOMPARE(Label(window, "Label1"), QString("Drive: 1"));
        QCOMPARE(Label(window, "Label2"), QString("Volume label: Photos"));
        QCOMPARE(Label(window, "Label3"), QString("File system: NTFS"));
        QCOMPARE(Label(window, "Label4"), QString("Total size: 2.00 GB"));
        QCOMPARE(Label(window, "Label5"), QString("Used space: 1.50 GB"));
        QCOMPARE(Label(window, "Label6"), QString("Free space: 512.00 MB"));
        list->setCurrentItem(disk->child(1));
        QCOMPARE(Label(window, "Label2"), QString("Volume label:"));
        list->setCurrentItem(disk);  // a disk row shows no source's details
        QCOMPARE(Label(window, "Label1"), QString());
        QCOMPARE(Label(window, "Label2"), QString());

        QVERIFY(window.findChild<QWidget*>("BtnScan")->isEnabled());
        Click(window, "BtnNext");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));

        list->setCurrentItem(disk->child(0));
        window.ChooseLanguage("German");
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(Label(window, "Label1"), QString("Laufwerk: 1"));
    }

    void MissingLanguageFileGivesEmptyTexts() {
        LanguageTable().Open({languages_->Path("config.ini").toStdString(),
                              languages_->Path("nowhere").toStdString(), ""});
        CMainWnd window;
        window.show();
        QCOMPARE(Label(window, "LblProductName"), QString());
        QCOMPARE(Label(window, "BtnNext"), QString("Next"));  // the skin's own text
        Click(window, "BtnStart");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageSource));
        QCOMPARE(Label(window, "Txt1"), QString());
        SeenBox seen;
        AnswerNextBox("closebtn", seen);
        Click(window, "BtnNext");
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QString());
    }

  private:
    std::unique_ptr<test::ScratchLanguages> languages_;
};

KELTRA_GUI_TEST("MainWnd", MainWndTest);

}  // namespace
}  // namespace keltra

#include "main_wnd_test.moc"
