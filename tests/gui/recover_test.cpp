// The recovery window on a fixture image: category folders, names that never collide, the
// counters, failures listed in red at the top, cancelling, and names crafted to climb out.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/apply_section.h"
#include "app/found_files.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/preview_wnd.h"
#include "app/recover_process_wnd.h"
#include "engine_fixture.h"
#include "engines/factory/engine_factory.h"
#include "gui_test_support.h"
#include "support/crafted_names.h"
#include "support/engine_tree.h"
#include "support/test_support.h"

namespace keltra {
namespace {

namespace fs = std::filesystem;

// Clicks "FinishBtn" as soon as the window shows it.
void FinishWhenDone(CRecoverProcessWnd& window) {
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, timer] {
        auto* finish = window.findChild<QPushButton*>("FinishBtn");
        if (!finish->isVisible()) return;
        timer->stop();
        if (!qEnvironmentVariableIsEmpty("KELTRA_SCREENSHOT_DIR")) {
            QTest::mouseClick(window.findChild<QPushButton*>("DetailBtn"), Qt::LeftButton);
            test::Screenshot(window, "recover_details");
        }
        QTest::mouseClick(finish, Qt::LeftButton);
    });
    timer->start(20);
}

class RecoverTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void RecoversCheckedFilesIntoCategoryFolders() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        const auto found = test::FindFiles(*engine, "*.jpg|*.png|*.txt|");
        std::vector<FoundRecord> checked;
        for (const FoundRecord& record : found) {
            const std::string_view name = record.Name();
            if (name == "Beach day.jpg" || name == "Company logo.png" ||
                name == "Meeting notes.txt" || name == "Holiday_001.JPG") {
                checked.push_back(record);
            }
        }
        QCOMPARE(checked.size(), size_t(5));  // two files named "Beach day.jpg"
        std::sort(checked.begin(), checked.end(), [](const FoundRecord& a, const FoundRecord& b) {
            return CheckedFileKey(a) < CheckedFileKey(b);
        });

        test::ScratchDir dest;
        // A file already there keeps its bytes; the category folder for documents cannot be
        // made, so the text file fails.
        fs::create_directories(dest.Path() / "photo");
        std::ofstream(dest / "photo/Company logo.png") << "mine";
        std::ofstream(dest / "document") << "not a folder";

        CRecoverProcessWnd window(
            nullptr, CRecoverProcessWnd::kAllChecked, dest.Path().string(), checked,
            [&engine](uint16_t tag) { return tag == 1 ? engine.get() : nullptr; });
        FinishWhenDone(window);
        QCOMPARE(window.exec(), int(CRecoverProcessWnd::kResultFinished));

        const std::string originals = test::FixturePath("photos_originals");
        const auto sha = [](const std::string& path) { return test::Sha256OfFile(path); };
        QCOMPARE(sha(dest / "photo/Holiday_001.JPG"),
                 sha(originals + "/Camera roll/Holiday_001.JPG"));
        QCOMPARE(sha(dest / "photo/Company logo(1).png"),
                 sha(originals + "/Photos/Company logo.png"));
        std::ifstream mine(dest / "photo/Company logo.png");
        QCOMPARE(std::string(std::istreambuf_iterator<char>(mine), {}), std::string("mine"));
        // The two files of one name, whichever came first.
        const std::vector<std::string> beaches{sha(dest / "photo/Beach day.jpg"),
                                               sha(dest / "photo/Beach day(1).jpg")};
        QVERIFY(std::is_permutation(
            beaches.begin(), beaches.end(),
            std::vector<std::string>{sha(originals + "/Photos/2017/Beach day.jpg"),
                                     sha(originals + "/Photos/2018/Beach day.jpg")}
                .begin()));
        QVERIFY(!fs::exists(dest / "photo/Beach day(2).jpg"));

        QCOMPARE(window.Total(), 5U);
        QCOMPARE(window.Processed(), 5U);
        QCOMPARE(window.Failed(), 1U);
        QCOMPARE(window.findChild<QLabel*>("recovered")->text(),
                 FormatMessage(MessageText("MSG1102"), {"5", "5", "4", "1"}));

        // The failure first and red, the successes below it in the order they were done.
        auto* list = window.findChild<QTreeWidget*>("DetailList");
        QCOMPARE(list->topLevelItemCount(), 5);
        QTreeWidgetItem* failed = list->topLevelItem(0);
        QCOMPARE(failed->text(0), QString::fromStdString(dest / "document/Meeting notes.txt"));
        QVERIFY(failed->text(1) != "Success");
        QCOMPARE(failed->foreground(1).color(), QColor(255, 0, 0));
        for (int row = 1; row < 5; ++row) {
            QCOMPARE(list->topLevelItem(row)->text(1), QString("Success"));
            QVERIFY(list->topLevelItem(row)->foreground(1).color() != QColor(255, 0, 0));
        }
    }

    void DetailButtonGrowsAndShrinks() {
        CRecoverProcessWnd window(nullptr, CRecoverProcessWnd::kAllChecked, "/nonexistent", {},
                                  nullptr);
        window.show();
        QTRY_VERIFY(window.findChild<QWidget*>("FinishBtn")->isVisible());
        QVERIFY(window.findChild<QWidget*>("CancelBtn")->isHidden());
        auto* details = window.findChild<QPushButton*>("DetailBtn");
        QVERIFY(window.findChild<QWidget*>("DetailList")->isHidden());
        QTest::mouseClick(details, Qt::LeftButton);
        QCOMPARE(window.size(),
                 QSize(CRecoverProcessWnd::kWidth + CRecoverProcessWnd::kDetailWidth,
                       CRecoverProcessWnd::kHeight + CRecoverProcessWnd::kDetailHeight));
        QVERIFY(window.findChild<QWidget*>("DetailList")->isVisible());
        QTest::mouseClick(details, Qt::LeftButton);
        QCOMPARE(window.size(), QSize(CRecoverProcessWnd::kWidth, CRecoverProcessWnd::kHeight));
        // Closing after the end asks nothing.
        bool asked = false;
        auto* watch = new QTimer(&window);
        connect(watch, &QTimer::timeout, &window, [&asked] {
            if (auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget())) {
                asked = true;
                box->reject();
            }
        });
        watch->start(10);
        QTest::mouseClick(window.findChild<QPushButton*>("closebtn"), Qt::LeftButton);
        QCOMPARE(window.result(), int(CRecoverProcessWnd::kResultFinished));
        QVERIFY(!asked);
    }

    // The bar shows the share of all the bytes done, not the current file's: it starts empty,
    // stands at the first file's share once it is copied, and is full at the end.
    void BarShowsTheShareOfTheWholeRecovery() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        test::HeldEngine held(*engine);
        const auto found = test::FindFiles(*engine, "*.jpg|");
        QVERIFY(found.size() >= 2);
        const std::vector<FoundRecord> two{found[0], found[1]};
        const uint64_t first = std::max<uint64_t>(two[0].size, 1);
        const uint64_t total = first + std::max<uint64_t>(two[1].size, 1);
        const int firstShare = static_cast<int>(first * 100 / total);
        QVERIFY(firstShare > 0 && firstShare < 100);

        test::ScratchDir dest;
        CRecoverProcessWnd window(nullptr, CRecoverProcessWnd::kAllChecked, dest.Path().string(),
                                  two, [&held](uint16_t) { return &held; });
        const struct ReleaseAtEnd {
            test::HeldEngine& engine;
            ~ReleaseAtEnd() { engine.Release(); }
        } releaseAtEnd{held};
        auto* bar = window.findChild<QProgressBar*>("progress");
        window.open();
        QTRY_VERIFY(held.Waiting());
        QCOMPARE(bar->value(), 0);
        held.ReleaseOne();
        QTRY_COMPARE(window.Processed(), 1U);
        QTRY_VERIFY(held.Waiting());
        QTRY_COMPARE(bar->value(), firstShare);
        QCOMPARE(window.OverallPercent(), firstShare);
        held.Release();
        QTRY_VERIFY(window.findChild<QWidget*>("FinishBtn")->isVisible());
        QCOMPARE(bar->value(), 100);
        QCOMPARE(window.Failed(), 0U);
    }

    void CancelStopsTheWorkerAndNeverFinishes() {
        auto engine = test::ScannedImageEngine("photos_fat.img", 1);
        if (engine == nullptr) QSKIP("photos_fat.img is not built");
        test::HeldEngine held(*engine);
        const auto found = test::FindFiles(*engine, "*.jpg|*.png|");
        QVERIFY(found.size() >= 3);

        test::ScratchDir dest;
        CRecoverProcessWnd window(nullptr, CRecoverProcessWnd::kAllChecked, dest.Path().string(),
                                  found, [&held](uint16_t) { return &held; });
        // Should a check fail, the worker is let go before the window waits for it.
        const struct ReleaseAtEnd {
            test::HeldEngine& engine;
            ~ReleaseAtEnd() { engine.Release(); }
        } releaseAtEnd{held};
        bool finishSeen = false;
        auto* watch = new QTimer(&window);
        connect(watch, &QTimer::timeout, &window,
                [&] { finishSeen |= window.findChild<QWidget*>("FinishBtn")->isVisible(); });
        watch->start(5);
        window.open();
        QTRY_VERIFY(held.Waiting());

        // "No": the question closes and the copying goes on (still held here).
        test::SeenBox first;
        test::AnswerNextBox("cancelbtn", first);
        QTest::mouseClick(window.findChild<QPushButton*>("CancelBtn"), Qt::LeftButton);
        QVERIFY(first.shown);
        QCOMPARE(first.text, MessageText("MSG1103"));
        QVERIFY(window.isVisible());

        // "Yes", with the engine let go while the question is open: the worker waits at its
        // first report until the answer, then stops there.
        bool answered = false;
        auto* answer = new QTimer(&window);
        connect(answer, &QTimer::timeout, &window, [&] {
            auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            answer->stop();
            held.Release();
            while (held.Waiting()) QTest::qSleep(5);
            QTest::qSleep(100);
            answered = true;
            box->findChild<QPushButton*>("okbtn")->click();
        });
        answer->start(10);
        QTest::mouseClick(window.findChild<QPushButton*>("CancelBtn"), Qt::LeftButton);
        QVERIFY(answered);
        // The window closes once the job has stopped.
        QTRY_COMPARE(window.result(), int(CRecoverProcessWnd::kResultCancelled));
        QVERIFY(!window.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!finishSeen);
        QVERIFY(window.findChild<QWidget*>("FinishBtn")->isHidden());
        QCOMPARE(window.Processed(), 0U);
    }

    // Every file of a volume whose names were crafted to escape ("..", "../../x", "a/b",
    // control characters, 264 bytes, case twins), recovered through the window: each lands
    // inside the chosen folder under a safe name of its own, as from the command line.
    void CraftedNamesStayInsideTheDestination() {
        test::ScratchDir dir;
        const std::string image = dir / "crafted.img";
        const std::string made = test::MakeCraftedNamesImage(image, dir.Path().string());
        QVERIFY2(made.empty(), made.c_str());
        auto engine = CreateEngine(SourceRef::Image(image, 1), false);
        QVERIFY(engine != nullptr);
        QCOMPARE(engine->Scan(std::nullopt), kOk);
        std::vector<FoundRecord> checked;
        for (const auto& [path, listed] : test::ListTree(*engine)) {
            if (listed.record.isFolder == 0) checked.push_back(listed.record);
        }
        QCOMPARE(checked.size(), test::CraftedFiles().size());

        const fs::path box = dir.Path() / "box";
        const fs::path dest = box / "dest";
        fs::create_directories(dest);
        CRecoverProcessWnd window(nullptr, CRecoverProcessWnd::kAllChecked, dest.string(), checked,
                                  [&engine](uint16_t) { return engine.get(); });
        FinishWhenDone(window);
        QCOMPARE(window.exec(), int(CRecoverProcessWnd::kResultFinished));
        QCOMPARE(window.Failed(), 0U);
        for (const std::string& problem : test::CraftedRecoveryProblems(box, dest)) {
            QFAIL(problem.c_str());
        }
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("Recover", RecoverTest);

}  // namespace
}  // namespace keltra

#include "recover_test.moc"
