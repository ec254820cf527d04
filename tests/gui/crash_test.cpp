// Crash dumps: a fault in a child process writes one dump in D-Error/ of its current directory.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app/crash_dump.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

class CrashTest : public QObject {
    Q_OBJECT

  private slots:
    void NameHasNoLeadingZeros() {
        QCOMPARE(CrashDumpName({2018, 3, 14, 9, 5, 7}), std::string("2018-3-14&9-5-7.dmp"));
        QCOMPARE(CrashDumpName({2026, 12, 31, 23, 59, 0}), std::string("2026-12-31&23-59-0.dmp"));
    }

    void FaultWritesOneDump_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("signal");
        QTest::newRow("segv") << "segv" << false << "SIGSEGV";
        QTest::newRow("segv, folder exists") << "segv" << true << "SIGSEGV";
        QTest::newRow("abort, folder exists") << "abort" << true << "SIGABRT";
    }

    void FaultWritesOneDump() {
        QFETCH(QString, how);
        QFETCH(bool, folderExists);
        QFETCH(QString, signal);
        QTemporaryDir cwd;
        if (folderExists) QVERIFY(QDir(cwd.path()).mkdir("D-Error"));
        QProcess child;
        child.setWorkingDirectory(cwd.path());
        const QDate today = QDate::currentDate();
        child.start(KELTRA_CRASH_CHILD, {how});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QStringList dumps = QDir(cwd.filePath("D-Error")).entryList(QDir::Files);
        QCOMPARE(dumps.size(), 1);
        static const QRegularExpression kName(
            R"(^(\d{4})-([1-9]\d?)-([1-9]\d?)&(\d{1,2})-(\d{1,2})-(\d{1,2})\.dmp$)");
        const auto m = kName.match(dumps.front());
        QVERIFY2(m.hasMatch(), qPrintable(dumps.front()));
        const QDate named(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        QVERIFY(named == today || named == today.addDays(1));

        QFile dump(cwd.filePath("D-Error/" + dumps.front()));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(dump.readAll());
        QVERIFY(text.startsWith("Keltra Photo Recovery crash dump\n"));
        QVERIFY2(text.contains(signal), qPrintable(text.left(400)));
        QVERIFY(text.contains("fault address: 0x"));
        QVERIFY(text.contains("\nbacktrace:\n"));
        QVERIFY(text.contains("keltra_crash_child"));  // the map names the program
        QVERIFY(text.contains("\nmemory map:\n"));
        QVERIFY(text.contains("[stack]"));
    }
};

KELTRA_GUI_TEST("Crash", CrashTest);

}  // namespace
}  // namespace keltra

#include "crash_test.moc"
