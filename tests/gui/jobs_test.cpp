// The desktop program's long jobs as a person meets them in the main window: a deep scan
// stopped and taken up again, the window closed in the middle of a scan, a second source
// scanned while the first one's files are shown, and a recovery that cannot write.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "engine_fixture.h"
#include "gui_test_support.h"
#include "results_view.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

void Click(const QWidget& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
}

QString Summary(const CMainWnd& window) {
    return window.findChild<QLabel*>("LblScanSummary")->text();
}

// A copy of the photo fixture grown with empty space, so that its deep scan takes a while.
std::string GrownPhotoImage(const test::ScratchDir& dir, uint64_t bytes) {
    const std::string image = dir / "card.img";
    fs::copy_file(test::FixturePath("gui_photos.img"), image);
    fs::resize_file(image, bytes);
    return image;
}

// The names of the files `keltra scan` lists for the image with these options.
std::multiset<std::string> CommandLineNames(const std::vector<std::string>& args) {
    const test::CommandResult result = test::RunKeltra(args);
    std::multiset<std::string> names;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const auto item = nlohmann::json::parse(line);
        if (!item["is_folder"].get<bool>()) names.insert(item["name"].get<std::string>());
    }
    return names;
}

class JobsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    // Deep scan, Stop: the files found so far are shown as a stopped scan. The next deep scan
    // of the source offers to continue it; continued, it reaches the end and lists every file
    // a whole deep scan lists. The one after offers it as finished.
    void StoppedDeepScanIsOfferedAsStoppedAndContinued() {
        const test::ScratchDir dir;
        const std::string image = GrownPhotoImage(dir, 256ULL << 20);
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        window.AddImageSource(QString::fromStdString(image));

        test::SeenBox stopQuestion;
        bool stoppedMidway = false;
        test::WhenModal<CScanProcessWnd>([&](CScanProcessWnd* scan) {
            QTRY_VERIFY(scan->findChild<QProgressBar*>("progress")->value() >= 2);
            stoppedMidway = !scan->WorkerDone();
            test::AnswerNextBox("okbtn", stopQuestion);
            Click(*scan, "cancelbtn");
        });
        Click(window, "BtnNext");
        Click(window, "BtnNext");  // the deep scan
        QVERIFY(stoppedMidway);
        QCOMPARE(stopQuestion.text, MessageText("MSG0709"));
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QVERIFY2(Summary(window).startsWith("Files of card.img, deep scan, stopped after "),
                 qPrintable(Summary(window)));
        QCOMPARE(test::DescriptorsOn(image), 0);

        const std::multiset<std::string> whole =
            CommandLineNames({"scan", "--deep", "--json", image});
        QVERIFY(!whole.empty());
        for (const auto& [answer, question] :
             {std::pair{"okbtn", "MSG1206"}, std::pair{"okbtn", "MSG1210"}}) {
            Click(window, "BtnPrev");
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageFileType));
            test::SeenBox asked;
            test::AnswerNextBox(answer, asked);
            Click(window, "BtnNext");  // the deep scan again
            QCOMPARE(asked.text, MessageText(question));
            QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
            QVERIFY2(Summary(window).startsWith("Files of card.img, deep scan, complete in "),
                     qPrintable(Summary(window)));
            QCOMPARE(test::FoundNames(window), whole);
        }
        test::Screenshot(window, "results_continued_deep_scan");
    }

    // The main window closed while its deep scan runs, also while the stop question is open
    // over the scan: the scan stops at once, nothing is searched or shown after it, no window
    // or question is left, and the image is closed.
    void ClosingTheWindowDuringAScanStopsIt() {
        const test::ScratchDir dir;
        const std::string image = GrownPhotoImage(dir, 1ULL << 30);
        for (const bool questionOpen : {false, true}) {
            CMainWnd window;
            window.show();
            Click(window, "BtnStart");
            SourceItem* source = window.AddImageSource(QString::fromStdString(image));
            bool closedMidway = false;
            test::WhenModal<CScanProcessWnd>([&](CScanProcessWnd* scan) {
                QTRY_VERIFY(scan->findChild<QProgressBar*>("progress")->value() >= 1);
                closedMidway = !scan->WorkerDone();
                if (!questionOpen) {
                    window.close();
                    return;
                }
                test::WhenModal<CMessageBox>([&](CMessageBox*) { window.close(); });
                Click(*scan, "cancelbtn");
            });
            QElapsedTimer clock;
            clock.start();
            Click(window, "BtnNext");
            Click(window, "BtnNext");
            QVERIFY(closedMidway);
            QVERIFY2(clock.elapsed() < 20000, "the scan went on to its end");
            QVERIFY(!window.isVisible());
            QVERIFY(QApplication::activeModalWidget() == nullptr);
            QVERIFY(window.Results() == nullptr);
            for (const QDialog* dialog : window.findChildren<QDialog*>()) {
                QVERIFY(!dialog->isVisible());
            }
            // What the scan found before it stopped stays with its source, which is closed.
            QVERIFY(source->engine != nullptr);
            QCOMPARE(test::DescriptorsOn(image), 0);
            // The next round's scan is a new one: a history of its own.
            session_ = std::make_unique<test::ScratchSession>();
        }
    }

    // Results of one image on show, Back, another image, Scan: the page lists the second
    // image's files alone, each recovered through the second image's engine, and the first
    // image's engine is gone with its results.
    void SecondSourceScannedWhileTheFirstIsShownNeverMixes() {
        CMainWnd window;
        window.show();
        Click(window, "BtnStart");
        SourceItem* first =
            window.AddImageSource(QString::fromStdString(test::FixturePath("gui_photos.img")));
        Click(window, "BtnScan");
        QVERIFY(window.Results() != nullptr);
        QCOMPARE(test::FoundTags(window), std::set<uint16_t>{first->SourceTag()});
        Click(window, "BtnPrev");
        const std::string ntfs = test::FixturePath("photos_ntfs.img");
        SourceItem* second = window.AddImageSource(QString::fromStdString(ntfs));
        Click(window, "BtnScan");
        QCOMPARE(window.CurrentPage(), int(CMainWnd::kPageRecover));
        QCOMPARE(window.Results()->Sources().size(), size_t(1));
        QCOMPARE(window.Results()->Sources()[0].tag, second->SourceTag());
        QCOMPARE(test::FoundTags(window), std::set<uint16_t>{second->SourceTag()});
        QCOMPARE(test::FoundNames(window), CommandLineNames({"scan", "--json", ntfs}));
        for (const FoundRecord& record : test::AllFound(window)) {
            QVERIFY(window.EngineOf(record) == second->engine.get());
        }
        QVERIFY(first->engine == nullptr);
        QVERIFY(Summary(window).startsWith("Files of photos_ntfs.img, quick scan, complete"));
    }

    // A destination that cannot be written (a file stands where its folder should be): every
    // file is counted and listed as failed with the system's reason, and the end says none was
    // recovered.
    void RecoveryIntoAnUnwritableFolderIsReportedAsFailed() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        const auto found = test::FindFiles(*engine, "*.jpg|*.png|");
        QVERIFY(found.size() >= 2);
        const test::ScratchDir dir;
        test::WriteWholeFile(dir / "taken", std::vector<std::byte>(8));
        const std::string dest = dir / "taken/recovered";

        CRecoverProcessWnd window(nullptr, CRecoverProcessWnd::kAllChecked, dest, found,
                                  [&engine](uint16_t) { return engine.get(); });
        window.open();
        QTRY_VERIFY(window.findChild<QWidget*>("FinishBtn")->isVisible());
        const auto count = static_cast<unsigned>(found.size());
        QCOMPARE(window.Processed(), count);
        QCOMPARE(window.Failed(), count);
        QCOMPARE(window.findChild<QLabel*>("current")->text(),
                 FormatMessage(MessageText("MSG1104"),
                               {"0", QString::number(count), QString::fromStdString(dest)}));
        auto* list = window.findChild<QTreeWidget*>("DetailList");
        QCOMPARE(list->topLevelItemCount(), static_cast<int>(count));
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            const QString status = list->topLevelItem(row)->text(1);
            QVERIFY2(status != "Success" && !status.isEmpty(), qPrintable(status));
        }
        QVERIFY(!fs::exists(dest));
        Click(window, "FinishBtn");
        QCOMPARE(window.result(), int(CRecoverProcessWnd::kResultFinished));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("Jobs", JobsTest);

}  // namespace
}  // namespace keltra

#include "jobs_test.moc"
