#include "gui_test_support.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/language_table.h"
#include "app/message_box.h"

namespace keltra::test {

std::vector<GuiTestClass>& GuiTestClasses() {
    static std::vector<GuiTestClass> classes;
    return classes;
}

ScratchLanguages::ScratchLanguages() {
    const std::filesystem::path root = dir_.path().toStdString();
    std::filesystem::copy(KELTRA_APP_DATA_DIR, root, std::filesystem::copy_options::recursive);
    LanguageTable().Open({(root / "config.ini").string(), (root / "Languages").string(),
                          (root / "user" / "config.ini").string()});
}

void Screenshot(QWidget& window, const QString& name) {
    const QString dir = qEnvironmentVariable("KELTRA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return;
    QTest::qWait(300);
    QPixmap shot = window.screen()->grabWindow(window.winId());
    if (shot.isNull() || QGuiApplication::platformName() == "offscreen") shot = window.grab();
    shot.save(dir + "/" + name + ".png");
}

void AnswerNextBox(const QString& button, SeenBox& seen) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, button, &seen, ticks] {
        auto* box = qobject_cast<CMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (++*ticks > 500) timer->deleteLater();  // no box came within five seconds
            return;
        }
        seen.shown = true;
        seen.kind = box->Kind();
        seen.title = box->findChild<QLabel*>("title")->text();
        seen.text = box->findChild<QLabel*>("message")->text();
        seen.geometry = box->frameGeometry();
        box->findChild<QPushButton*>(button)->click();
        timer->deleteLater();
    });
    timer->start();
}

}  // namespace keltra::test
