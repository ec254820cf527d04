// The scan and search windows with their real jobs, on engines the test controls: the
// progress lines, the cancel question that holds the job, a source without an engine, the
// question about an earlier deep scan, and engines that reach the sources only with the job's
// results.
#include "app/process_wnd.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <thread>

#include "app/found_file_store.h"
#include "app/message_box.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "gui_test_support.h"
#include "scanlog/scan_history.h"
#include "support/test_support.h"

namespace keltra {
namespace {

using test::AnswerNextBox;
using test::SeenBox;

// One progress report of the test engine's scan.
struct Report {
    int percent;
    int weight;
    int secondsLeft;
    uint64_t current;
    uint64_t total;
};

// Reports `reports` times (the last report repeated), a millisecond apart, and finds two files.
class CTestEngine : public ScanEngine {
  public:
    std::atomic<int> calls{0};
    std::atomic<bool> scanned{false};
    std::atomic<QThread*> scanThread{nullptr};
    Status scanResult = kOk;
    int reports = 1;
    std::vector<Report> script{{50, 100, -1, 0, 0}};
    // After its reports the scan waits until the window's stop is confirmed, then ends well.
    bool holdAfterReports = false;
    CProcessWnd* window = nullptr;

    Status Open(const SourceRef&) override { return kOk; }
    Status ReadRecordHead(const FoundRecord&, std::span<std::byte>, size_t& got) override {
        got = 0;
        return kErrInvalidParameter;
    }
    uint64_t UnreadableSectors() const override { return 0; }
    void CloseSource() override {}
    Status ReopenSource() override { return kOk; }
    void SetCallbacks(ScanProgressCallback scan, CopyProgressCallback, void* user,
                      int weight) override {
        callback_ = scan;
        user_ = user;
        weight_ = weight;
    }
    Status Scan(const std::optional<std::string>&) override {
        scanned = true;
        scanThread = QThread::currentThread();
        for (int i = 0; i < reports; ++i) {
            const Report& r = script[std::min<size_t>(i, script.size() - 1)];
            ++calls;
            const int answer = callback_(user_, r.percent, r.weight == 0 ? weight_ : r.weight,
                                         r.secondsLeft, r.current, r.total, 2, 0);
            if (answer != 0) return answer;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (holdAfterReports && (window == nullptr || !window->CancelRequested())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return scanResult;
    }
    // The root holds two photos; `beforeList`, when set, runs first (a scan still busy).
    Status ListFolder(const FoundRecord* folder, int, std::vector<FoundRecord>& out) override {
        if (folder != nullptr) return kOk;
        for (uint32_t i = 1; i <= 2; ++i) {
            FoundRecord r = EmptyRecord();
            r.SetName("found.jpg");
            r.recordIndex = i;
            out.push_back(r);
        }
        return kOk;
    }
    Status CountFolderFiles(const FoundRecord*, int, uint32_t&) override { return kOk; }
    uint64_t GetRecordCount() override { return 2; }
    uint64_t GetFileCount() override { return 2; }
    Status GetRecordPath(const FoundRecord&, std::string&) override { return kOk; }
    Status RecoverRecord(const FoundRecord&, const std::string&, int) override { return kOk; }
    void SetSearchCallback(SearchProgressCallback callback, void* user) override {
        search_ = callback;
        searchUser_ = user;
    }
    Status FindByExtensions(const std::string& extensions, std::vector<FoundRecord>& out) override {
        lastPattern = extensions;
        for (int i = 0; i < 2; ++i) {
            if (search_(searchUser_, 50 * i, 0) != 0) return 1;
            FoundRecord r = EmptyRecord();
            r.SetName("found.jpg");
            out.push_back(r);
        }
        return 1;
    }
    Status ReadRecordData(const FoundRecord&, std::string&, std::span<std::byte>, uint32_t&,
                          PreviewCallback, void*) override {
        return kOk;
    }
    std::string lastPattern;

  private:
    ScanProgressCallback callback_ = nullptr;
    SearchProgressCallback search_ = nullptr;
    void* user_ = nullptr;
    void* searchUser_ = nullptr;
    int weight_ = 0;
};

using Owner = QWidget;

// Two image sources whose engines come from `engines` in turn (null once they run out).
struct Sources {
    SourceItem first;
    SourceItem second;
    std::vector<CTestEngine*> made;
    std::vector<std::unique_ptr<CTestEngine>> engines;

    Sources() {
        first.imagePath = "/images/first.img";
        second.imagePath = "/images/second.img";
    }
    std::vector<SourceItem*> List() { return {&first, &second}; }
    EngineMaker Maker() {
        return [this](const SourceItem&, bool) -> std::unique_ptr<ScanEngine> {
            if (engines.empty()) return nullptr;
            auto engine = std::move(engines.front());
            engines.erase(engines.begin());
            made.push_back(engine.get());
            return engine;
        };
    }
};

QString Text(const QDialog& window, const char* name) {
    return window.findChild<QLabel*>(name)->text();
}

class ProcessWndTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { appData_ = std::make_unique<test::ScopedAppDataFolder>(); }
    void cleanupTestCase() { appData_.reset(); }
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void ScansEverySourceAndShowsItsProgress() {
        Owner owner;
        Sources sources;
        for (const Report& last : {Report{40, 100, 3600, 120, 1000}, Report{40, 9, 30, 0, 0}}) {
            auto engine = std::make_unique<CTestEngine>();
            engine->script = {last};
            sources.engines.push_back(std::move(engine));
        }
        CScanProcessWnd window(&owner, sources.List(), false, sources.Maker());
        QCOMPARE(window.size(), QSize(450, 250));
        QCOMPARE(window.exec(), kProcessDone);
        QVERIFY(window.WorkerDone());
        // The engines stay the job's until taken, each with the source it scanned.
        QVERIFY(!sources.first.engine && !sources.second.engine);
        const std::vector<ScannedSource> scanned = window.TakeScanned();
        QCOMPARE(scanned.size(), size_t(2));
        QVERIFY(scanned[0].item == &sources.first && scanned[0].engine.get() == sources.made[0]);
        QVERIFY(scanned[1].item == &sources.second && scanned[1].engine.get() == sources.made[1]);
        // The second source's report: weight 9 has no estimate yet, and no sector counts.
        QCOMPARE(Text(window, "stage"), QString("Scanning image file second.img"));
        QCOMPARE(Text(window, "percent"), QString("Progress: 3%"));
        QCOMPARE(Text(window, "time"), QString("Time left: estimating..."));
        QVERIFY(window.findChild<QLabel*>("sectors")->isHidden());
        QCOMPARE(window.findChild<QProgressBar*>("progress")->value(), 3);
    }

    // The engine works on the job's thread; the job's reports and its end reach the thread it
    // was made on, where it lives again once it has finished, with its results.
    void JobWorksOnItsThreadAndReportsToTheWindowsThread() {
        Sources sources;
        auto engine = std::make_unique<CTestEngine>();
        engine->reports = 40;
        engine->script = {{10, 100, -1, 0, 0}, {60, 100, -1, 0, 0}};
        sources.engines.push_back(std::move(engine));
        QThread* const home = QThread::currentThread();
        CScanJob job({&sources.first}, false, sources.Maker());
        std::vector<int> percents;
        bool elsewhere = false;
        bool finished = false;
        connect(&job, &CScanJob::Progress, this, [&](const ScanReport& report) {
            percents.push_back(report.percent);
            elsewhere |= QThread::currentThread() != home;
        });
        connect(&job, &CJob::Finished, this, [&] {
            finished = true;
            elsewhere |= QThread::currentThread() != home || job.thread() != home;
        });
        job.Start();
        QVERIFY(job.thread() != home);
        QTRY_VERIFY(finished);
        QVERIFY(!elsewhere);
        QVERIFY(job.thread() == home);
        QVERIFY(job.Done() && !job.Running() && !job.Stopped());
        QVERIFY(sources.made.at(0)->scanThread != home);
        // The reports keep their order, each change of percent among them.
        QCOMPARE(percents.front(), 10);
        QCOMPARE(percents.back(), 60);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QVERIFY(percents.size() < 40);  // a report that changes nothing waits its turn
        QCOMPARE(job.TakeScanned().size(), size_t(1));
    }

    // A window that closes while its job runs (its owner went) stops the job, and one
    // destroyed while its job runs waits for the job's thread to end.
    void ClosingTheWindowStopsItsJob() {
        Owner owner;
        Sources sources;
        for (int i = 0; i < 3; ++i) {
            auto engine = std::make_unique<CTestEngine>();
            engine->reports = 1000000;
            sources.engines.push_back(std::move(engine));
        }
        auto window =
            std::make_unique<CScanProcessWnd>(&owner, sources.List(), false, sources.Maker());
        window->open();
        QTRY_VERIFY(!sources.made.empty() && sources.made[0]->calls > 5);
        window->done(QDialog::Rejected);
        QVERIFY(window->CancelRequested());
        QTRY_VERIFY(window->WorkerDone());
        QVERIFY(window->Stopped());
        QVERIFY(sources.made[0]->calls < 1000000);
        QCOMPARE(sources.made.size(), size_t(1));  // the second source was not begun

        window = std::make_unique<CScanProcessWnd>(&owner, std::vector{&sources.second}, false,
                                                   sources.Maker());
        window->open();
        QTRY_VERIFY(sources.made.size() == 2 && sources.made[1]->calls > 5);
        QElapsedTimer clock;
        clock.start();
        window.reset();
        QVERIFY(clock.elapsed() < 5000);
    }

    void ProgressLinesOfADeepScan() {
        Owner owner;
        Sources sources;
        auto engine = std::make_unique<CTestEngine>();
        engine->script = {{40, 100, 3600, 120, 1000}};
        sources.engines.push_back(std::move(engine));
        SourceItem partition;
        partition.partition = VolumeEntry{};
        partition.partition->letter = 3;
        CScanProcessWnd window(&owner, {&partition}, false, sources.Maker());
        QCOMPARE(window.exec(), kProcessDone);
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(Text(window, "stage"), QString("Scanning volume 3"));
        QCOMPARE(Text(window, "percent"), QString("Progress: 40%"));
        QCOMPARE(Text(window, "time"), QString("Time left: 1 Hour 0 Min"));
        QCOMPARE(Text(window, "sectors"), QString("Sectors read: 120 / 1000"));
        QCOMPARE(Text(window, "totalfile"), QString("Files found: 2"));
        QVERIFY(!window.findChild<QLabel*>("sectors")->isHidden());
    }

    void TimeLineStaysEmptyWithoutAnEstimate() {
        Owner owner;
        Sources sources;
        sources.engines.push_back(std::make_unique<CTestEngine>());  // -1 at weight 100
        CScanProcessWnd window(&owner, {&sources.first}, false, sources.Maker());
        QCOMPARE(window.exec(), kProcessDone);
        QCoreApplication::sendPostedEvents(&window);
        QCOMPARE(Text(window, "time"), QString());
    }

    void SourceWithoutEngineEndsThePass() {
        Owner owner;
        Sources sources;  // no engines at all
        CScanProcessWnd window(&owner, sources.List(), false, sources.Maker());
        QCOMPARE(window.exec(), kProcessNoEngine);
        QVERIFY(window.WorkerDone());
        QVERIFY(window.TakeScanned().empty());
        QCOMPARE(window.PassedOver(),
                 QStringList({"first.img: no NTFS, exFAT, FAT or Ext file system was found on it; "
                              "passed over.",
                              "second.img: no NTFS, exFAT, FAT or Ext file system was found on "
                              "it; passed over."}));
        QVERIFY(sources.made.empty());
    }

    // While the cancel question is open the worker waits in its next report; "no" lets it go
    // on to the end of its scan and the next source.
    void OpenCancelQuestionHoldsTheWorker() {
        Owner owner;
        Sources sources;
        for (int i = 0; i < 2; ++i) {
            auto engine = std::make_unique<CTestEngine>();
            engine->reports = 2000;
            sources.engines.push_back(std::move(engine));
        }
        CScanProcessWnd window(&owner, sources.List(), false, sources.Maker());
        int held = -1;
        QString question;
        QTimer::singleShot(0, &window, [&] {
            QTRY_VERIFY(!sources.made.empty() && sources.made[0]->calls > 10);
            CTestEngine* engine = sources.made[0];
            auto* timer = new QTimer(&window);
            QObject::connect(timer, &QTimer::timeout, timer, [&, engine, timer] {
                auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) return;
                timer->stop();
                question = box->findChild<QLabel*>("message")->text();
                const int before = engine->calls;
                QTest::qWait(300);
                held = engine->calls - before;
                box->findChild<QPushButton*>("cancelbtn")->click();  // "no"
                timer->deleteLater();
            });
            timer->start(5);
            window.findChild<QPushButton*>("cancelbtn")->click();
        });
        QCOMPARE(window.exec(), kProcessDone);
        QCOMPARE(question, QString("Stop the scan now? The files found so far are kept."));
        QVERIFY2(held >= 0 && held <= 1, qPrintable(QString::number(held)));
        QVERIFY(!window.CancelRequested());
        QCOMPARE(sources.made.size(), size_t(2));
        QCOMPARE(sources.made[0]->calls.load(), 2000);
        QCOMPARE(sources.made[1]->calls.load(), 2000);
        QCOMPARE(window.TakeScanned().size(), size_t(2));
    }

    // "Yes" stops the engine at its next report and ends the pass; what the stopped source's
    // engine found is kept.
    void ConfirmedCancelStopsThePass() {
        Owner owner;
        Sources sources;
        for (int i = 0; i < 2; ++i) {
            auto engine = std::make_unique<CTestEngine>();
            engine->reports = 100000;
            sources.engines.push_back(std::move(engine));
        }
        CScanProcessWnd window(&owner, sources.List(), false, sources.Maker());
        SeenBox seen;
        QTimer::singleShot(0, &window, [&] {
            QTRY_VERIFY(!sources.made.empty() && sources.made[0]->calls > 5);
            AnswerNextBox("okbtn", seen);
            window.findChild<QPushButton*>("closebtn")->click();
        });
        QCOMPARE(window.exec(), kProcessDone);
        QVERIFY(window.WorkerDone());
        QVERIFY(seen.shown);
        QVERIFY(window.CancelRequested());
        QVERIFY(window.Stopped());
        QCOMPARE(sources.made.size(), size_t(1));
        QVERIFY(sources.made[0]->calls < 100000);
        const std::vector<ScannedSource> scanned = window.TakeScanned();
        QCOMPARE(scanned.size(), size_t(1));
        QVERIFY(scanned[0].engine.get() == sources.made[0]);
    }

    // A deep scan of a source with an unfinished deep scan in the history asks whether to
    // continue it; "no" forgets that scan and its folder before the engine is made. A quick scan
    // never asks.
    void UnfinishedDeepScanIsContinuedOnlyWhenWanted() {
        const test::ScratchDir scratch;
        const std::string image = scratch / "card.img";
        test::WriteWholeFile(image, std::vector<std::byte>(64 * 1024));
        ScanHistory& history = ScanHistory::Instance();
        for (const int answer : {kAnswerOk, kAnswerCancel, 0}) {
            history.NewScanFolder();
            const std::string folder = history.CurrentScanFolder();
            std::filesystem::create_directories(folder);
            test::WriteWholeFile(folder + "log", std::vector<std::byte>(16));
            DeepScanState stopped;
            stopped.runLength = 64;
            QCOMPARE(history.SaveScanState(kImageDiskNumber, 0, 128, stopped, folder, image), kOk);

            const bool deep = answer != 0;
            Owner owner;
            Sources sources;
            sources.first.imagePath = image;
            sources.engines.push_back(std::make_unique<CTestEngine>());
            CScanProcessWnd window(&owner, {&sources.first}, deep, sources.Maker());
            SeenBox seen;
            if (deep) AnswerNextBox(answer == kAnswerOk ? "okbtn" : "cancelbtn", seen);
            QCOMPARE(window.exec(), kProcessDone);
            QCOMPARE(seen.shown, deep);
            if (deep) {
                QCOMPARE(seen.text, QString("This source was partly deep-scanned before; that scan "
                                            "was stopped. Continue it where it stopped? (Cancel "
                                            "starts afresh.)"));
            }
            QVERIFY(sources.made.at(0)->scanned);
            const bool forgotten = answer == kAnswerCancel;
            QCOMPARE(std::filesystem::exists(folder), !forgotten);
            ScanHistory saved(history.Folder());  // what `config` now holds
            ScanHistoryRecord record{};
            QCOMPARE(saved.FindImageScan(image, record), !forgotten);
            if (!forgotten) IgnoreStatus(history.ForgetScan(folder), "cleaning up");
            IgnoreStatus(history.Save(), "cleaning up");
        }
    }

    void SearchCollectsFromEverySource() {
        QCOMPARE(SearchPatternFromWildcards("*.jpg|*.png|"), std::string(".\\.jpg|.\\.png|"));
        QCOMPARE(SearchPatternFromWildcards("a\\*b+[c]"), std::string("a\\b\\+\\[c\\]"));

        Owner owner;
        Sources sources;
        const test::ScratchDir scratch;
        const QString folder = QString::fromStdString(scratch.Path().string());
        std::vector<ScannedSource> scanned;
        for (SourceItem* source : sources.List()) {
            scanned.push_back({source, std::make_unique<CTestEngine>()});
        }
        const ScanEngine* secondEngine = scanned[1].engine.get();
        CSearchProcessWnd window(&owner, std::move(scanned),
                                 std::make_unique<FoundFileStore>(folder), "*.jpg");
        QCOMPARE(window.size(), QSize(450, 220));
        QCOMPARE(window.exec(), kProcessDone);
        SearchResults found = window.TakeResults();
        QCOMPARE(found.store->Count(), size_t(4));
        QCOMPARE(found.sources.size(), size_t(2));
        QCOMPARE(found.store->Source(3), uint16_t(1));
        QCOMPARE(found.sources[1].name, QString("second.img"));
        // The sources come back with their engines, with what was found on them.
        QCOMPARE(found.scanned.size(), size_t(2));
        QVERIFY(found.scanned[1].item == &sources.second);
        QVERIFY(found.scanned[1].engine.get() == secondEngine);
        QCOMPARE(Text(window, "stage"), QString("Searching second.img"));
        QCOMPARE(Text(window, "percent"), QString("Progress: 100%"));

        // A list of types keeps only theirs; a source that was not scanned has nothing to add.
        found.scanned[1].engine.reset();
        CSearchProcessWnd unscanned(&owner, std::move(found.scanned),
                                    std::make_unique<FoundFileStore>(folder), "*.png");
        QCOMPARE(unscanned.exec(), kProcessDone);
        SearchResults partial = unscanned.TakeResults();
        QCOMPARE(partial.store->Count(), size_t(0));
        QCOMPARE(partial.sources.size(), size_t(1));
    }

    // A deep scan whose earlier pass went to the end is offered as finished: shown as it was,
    // or scanned again from the start.
    void FinishedDeepScanIsOfferedAsFinished() {
        const test::ScratchDir scratch;
        const std::string image = scratch / "card.img";
        test::WriteWholeFile(image, std::vector<std::byte>(64 * 1024));
        ScanHistory& history = ScanHistory::Instance();
        for (const bool finished : {true, false}) {
            history.NewScanFolder();
            const std::string folder = history.CurrentScanFolder();
            std::filesystem::create_directories(folder);
            DeepScanState state;
            state.sectorsDone = finished ? 128 : 40;
            state.runLength = finished ? 0 : 88;
            QCOMPARE(history.SaveScanState(kImageDiskNumber, 0, 128, state, folder, image), kOk);
            Owner owner;
            Sources sources;
            sources.first.imagePath = image;
            sources.engines.push_back(std::make_unique<CTestEngine>());
            CScanProcessWnd window(&owner, {&sources.first}, true, sources.Maker());
            SeenBox seen;
            AnswerNextBox("okbtn", seen);
            QCOMPARE(window.exec(), kProcessDone);
            QCOMPARE(seen.text, MessageText(finished ? "MSG1210" : "MSG1206"));
            QVERIFY(seen.text.contains(finished ? "to the end" : "stopped"));
            IgnoreStatus(history.ForgetScan(folder), "cleaning up");
            IgnoreStatus(history.Save(), "cleaning up");
        }
    }

    // Stop during a deep scan of two sources, each with an unfinished scan of its own, while
    // the first engine finishes its work without another report: both sources' questions come
    // before the scan starts, so the stop question never meets one, and the window closes
    // without beginning the second source.
    void StopBeforeTheNextSourcesQuestionDoesNotHang() {
        const test::ScratchDir scratch;
        ScanHistory& history = ScanHistory::Instance();
        std::vector<std::string> folders;
        Sources sources;
        for (SourceItem* source : sources.List()) {
            source->imagePath = scratch / (source == &sources.first ? "a.img" : "b.img");
            test::WriteWholeFile(source->imagePath, std::vector<std::byte>(64 * 1024));
            history.NewScanFolder();
            folders.push_back(history.CurrentScanFolder());
            std::filesystem::create_directories(folders.back());
            DeepScanState state;
            state.runLength = 50;
            QCOMPARE(history.SaveScanState(kImageDiskNumber, 0, 128, state, folders.back(),
                                           source->imagePath),
                     kOk);
        }
        // The first engine reports once, then works on until the stop is confirmed and ends
        // without reporting again, as an engine in its last stretch does.
        auto first = std::make_unique<CTestEngine>();
        first->reports = 1;
        first->holdAfterReports = true;
        sources.engines.push_back(std::move(first));
        sources.engines.push_back(std::make_unique<CTestEngine>());
        Owner owner;
        CScanProcessWnd window(&owner, sources.List(), true, sources.Maker());
        static_cast<CTestEngine*>(sources.engines.front().get())->window = &window;
        std::atomic<bool> finished{false};
        std::thread watchdog([&finished] {
            for (int i = 0; i < 600 && !finished; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!finished) qFatal("the stop of a deep scan of two sources hangs");
        });
        int questions = 0;
        auto* timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, timer, [&] {
            auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            ++questions;
            // The sources' questions: continue; the stop question: yes.
            box->findChild<QPushButton*>("okbtn")->click();
        });
        timer->start(5);
        QTimer::singleShot(0, &window, [&] {
            QTRY_VERIFY(!sources.made.empty() && sources.made[0]->calls >= 1);
            window.findChild<QPushButton*>("cancelbtn")->click();
        });
        QCOMPARE(window.exec(), kProcessDone);
        finished = true;
        watchdog.join();
        QVERIFY(window.Stopped());
        QCOMPARE(sources.made.size(), size_t(1));  // the second source was not begun
        QCOMPARE(questions, 3);
        for (const std::string& folder : folders)
            IgnoreStatus(history.ForgetScan(folder), "cleaning up");
        IgnoreStatus(history.Save(), "cleaning up");
    }

    // Stop pressed at many points of a deep scan of two sources, the second with an unfinished
    // scan of its own: while the first engine still reports, while it works on silently in its
    // last stretch, and just as it ends (the next source's question about its earlier scan then
    // comes up beside the stop question). Control always comes back within seconds.
    void StopAtAnyPointOfATwoSourceDeepScanComesBackWithinSeconds() {
        enum class Engine { Reporting, Silent, Ending };
        const test::ScratchDir scratch;
        ScanHistory& history = ScanHistory::Instance();
        for (const int stopAt : {1, 30, 60, 99, 100}) {
            for (const Engine mode : {Engine::Reporting, Engine::Silent, Engine::Ending}) {
                const QString point =
                    QStringLiteral("stop at %1%, mode %2").arg(stopAt).arg(static_cast<int>(mode));
                Sources sources;
                std::vector<std::string> folders;
                for (SourceItem* source : sources.List()) {
                    source->imagePath = scratch / (source == &sources.first ? "a.img" : "b.img");
                    test::WriteWholeFile(source->imagePath, std::vector<std::byte>(64 * 1024));
                    history.NewScanFolder();
                    folders.push_back(history.CurrentScanFolder());
                    std::filesystem::create_directories(folders.back());
                    DeepScanState state;
                    state.runLength = 50;
                    QCOMPARE(history.SaveScanState(kImageDiskNumber, 0, 128, state, folders.back(),
                                                   source->imagePath),
                             kOk);
                }
                for (int i = 0; i < 2; ++i) {
                    auto engine = std::make_unique<CTestEngine>();
                    engine->script.clear();
                    for (int p = 1; p <= stopAt; ++p) engine->script.push_back({p, 100, 60, 0, 0});
                    engine->reports = i == 0 && mode != Engine::Reporting ? stopAt : 100000;
                    engine->holdAfterReports = i == 0 && mode == Engine::Silent;
                    sources.engines.push_back(std::move(engine));
                }
                CTestEngine* first = sources.engines.front().get();
                Owner owner;
                CScanProcessWnd window(&owner, sources.List(), true, sources.Maker());
                first->window = &window;
                std::atomic<bool> finished{false};
                std::thread watchdog([&finished, point] {
                    for (int i = 0; i < 600 && !finished; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    }
                    if (!finished) qFatal("the deep scan's stop hangs: %s", qPrintable(point));
                });
                // Every question gets "yes": continue the earlier scan; stop now.
                auto* answers = new QTimer(&window);
                QObject::connect(answers, &QTimer::timeout, answers, [] {
                    if (auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget()))
                        box->findChild<QPushButton*>("okbtn")->click();
                });
                answers->start(5);
                QElapsedTimer sinceStop;
                QTimer::singleShot(0, &window, [&] {
                    QTRY_VERIFY(first->calls >= stopAt);
                    sinceStop.start();
                    window.findChild<QPushButton*>("cancelbtn")->click();
                });
                QCOMPARE(window.exec(), kProcessDone);
                QVERIFY2(sinceStop.isValid() && sinceStop.elapsed() < 5000, qPrintable(point));
                finished = true;
                watchdog.join();
                QVERIFY2(window.WorkerDone(), qPrintable(point));
                for (const std::string& folder : folders)
                    IgnoreStatus(history.ForgetScan(folder), "cleaning up");
                IgnoreStatus(history.Save(), "cleaning up");
            }
        }
    }

  private:
    std::unique_ptr<test::ScopedAppDataFolder> appData_;
    std::unique_ptr<test::ScratchLanguages> languages_;
};

KELTRA_GUI_TEST("ProcessWnd", ProcessWndTest);

}  // namespace
}  // namespace keltra

#include "process_wnd_test.moc"
