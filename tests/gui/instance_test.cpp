// One instance per machine: a second start brings the first window forward and ends.
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_wnd.h"
#include "app/single_instance.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

class InstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void SecondStartRaisesTheFirstWindow() {
        test::ScratchLanguages languages;
        QTemporaryDir folder;
        CSingleInstance first(folder.path());
        QVERIFY(first.TryBecomeFirst());
        CMainWnd window;
        QVERIFY(first.Listen([&window] {
            window.showNormal();
            window.raise();
            window.activateWindow();
        }));
        window.showMinimized();
        QVERIFY(window.isMinimized());

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KELTRA_INSTANCE_FOLDER", folder.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(env);
        QSignalSpy finished(&second, &QProcess::finished);
        QElapsedTimer elapsed;
        elapsed.start();
        second.start(KELTRA_GUI_BINARY, {});
        QVERIFY(finished.wait(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        qInfo("second start ended after %lld ms", static_cast<long long>(elapsed.elapsed()));
    }

    void AnUnreachableFirstInstanceIsReported() {
        QTemporaryDir folder;
        CSingleInstance first(folder.path());
        QVERIFY(first.TryBecomeFirst());
        // It holds the lock but does not listen (yet, or any more).
        CSingleInstance second(folder.path());
        QVERIFY(!second.TryBecomeFirst());
        QVERIFY(!second.AskFirstToShow(300));
    }
};

KELTRA_GUI_TEST("Instance", InstanceTest);

}  // namespace
}  // namespace keltra

#include "instance_test.moc"
