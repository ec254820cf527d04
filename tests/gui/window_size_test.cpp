// The main window's size: what it opens at on small and large screens, what it remembers in
// the user's config.ini (and what it ignores there), and the main window itself resizable
// down to its smallest usable size.
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "app/language_table.h"
#include "app/main_wnd.h"
#include "app/window_size.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

class WindowSizeTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { session_ = std::make_unique<test::ScratchSession>(); }
    void cleanup() { session_.reset(); }

    void opensUsingTheScreenWithinItsLimits() {
        // A 1280 × 800 screen with a panel: most of it.
        QCOMPARE(OpeningWindowSize(std::nullopt, QSize(1280, 770)), QSize(1152, 693));
        // A large screen: a window of a reasonable size, not the whole screen.
        QCOMPARE(OpeningWindowSize(std::nullopt, QSize(2560, 1400)), QSize(1600, 1000));
        // Never below the smallest usable size, even on a smaller screen.
        QCOMPARE(OpeningWindowSize(std::nullopt, QSize(640, 480)), kSmallestWindowSize);
        QCOMPARE(OpeningWindowSize(std::nullopt, QSize()), QSize(800, 500));
        // The remembered size, cut to a smaller screen than the one it was left on.
        const RememberedWindow left{QSize(1000, 700), false};
        QCOMPARE(OpeningWindowSize(left, QSize(1280, 770)), QSize(1000, 700));
        QCOMPARE(OpeningWindowSize(RememberedWindow{QSize(3000, 2000), false}, QSize(1280, 770)),
                 QSize(1280, 770));
        QCOMPARE(OpeningWindowSize(RememberedWindow{QSize(300, 200), false}, QSize(1280, 770)),
                 kSmallestWindowSize);
    }

    void remembersItsSizeAndIgnoresNonsense() {
        QTemporaryDir dir;
        const std::string ini = dir.filePath("config.ini").toStdString();
        QVERIFY(!ReadRememberedWindow(ini));
        {
            std::ofstream out(ini);
            out << "[Language]\nCurrent=German\n";
        }
        WriteRememberedWindow(ini, {QSize(1111, 666), true});
        const auto back = ReadRememberedWindow(ini);
        QVERIFY(back);
        QCOMPARE(back->size, QSize(1111, 666));
        QVERIFY(back->maximized);
        // The user's other settings stay.
        std::ifstream in(ini);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        QVERIFY(text.find("Current=German") != std::string::npos);

        for (const char* bad : {"Width=-5\nHeight=600\n", "Width=900\nHeight=abc\n",
                                "Width=900\n", "Width=99999999999\nHeight=600\n"}) {
            std::ofstream out(ini);
            out << "[Window]\n" << bad;
            out.close();
            QVERIFY2(!ReadRememberedWindow(ini), bad);
        }
    }

    void closingWritesTheSizeTheNextWindowOpensAt() {
        QTemporaryDir dir;
        const std::string ini = dir.filePath("config.ini").toStdString();
        {
            QWidget window;
            KeepWindowSize(&window, ini);
            QCOMPARE(window.minimumSize(), kSmallestWindowSize);
            window.show();
            // Within the test platform's 800 × 600 screen.
            window.resize(800, 555);
            window.close();
        }
        QWidget again;
        KeepWindowSize(&again, ini);
        QCOMPARE(again.size(), QSize(800, 555));
        QVERIFY(!(again.windowState() & Qt::WindowMaximized));
        again.show();
        again.showMaximized();
        QTRY_VERIFY(again.isMaximized());
        again.close();
        const auto back = ReadRememberedWindow(ini);
        QVERIFY(back);
        QVERIFY(back->maximized);
        QWidget third;
        KeepWindowSize(&third, ini);
        QVERIFY(third.windowState() & Qt::WindowMaximized);
    }

    void mainWindowResizesAndFitsTheSmallestSize() {
        CMainWnd window;
        QVERIFY(window.maximumSize().width() > 4000);  // not fixed: it can be maximised
        QCOMPARE(window.minimumSize(), kSmallestWindowSize);
        // Every page's layout fits at the smallest size.
        auto* pages = window.findChild<QStackedWidget*>("TabPage");
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            const QSize needed = window.minimumSizeHint();
            QVERIFY2(needed.width() <= 800 && needed.height() <= 500,
                     qPrintable(QString("page %1 needs %2 x %3")
                                    .arg(page)
                                    .arg(needed.width())
                                    .arg(needed.height())));
        }
        // The window's size is kept in the user's file of this session.
        const std::string ini = LanguageTable().Paths().userConfigFile;
        window.show();
        test::Screenshot(window, "main_window_opening");
        window.resize(800, 590);
        window.close();
        const auto back = ReadRememberedWindow(ini);
        QVERIFY(back);
        QCOMPARE(back->size, QSize(800, 590));
    }

  private:
    std::unique_ptr<test::ScratchSession> session_;
};

KELTRA_GUI_TEST("WindowSize", WindowSizeTest);

}  // namespace
}  // namespace keltra

#include "window_size_test.moc"
