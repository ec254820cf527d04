// Helpers of the GUI tests: the registry of test classes, language files in a scratch folder,
// and answering the next message box or acting on the next modal window.
#pragma once

#include <QApplication>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "support/test_support.h"

namespace keltra::test {

struct GuiTestClass {
    const char* name;
    std::function<std::unique_ptr<QObject>()> make;
};

std::vector<GuiTestClass>& GuiTestClasses();

// Registers a test class under `name` at static initialisation.
struct RegisterGuiTest {
    template <typename T>
    RegisterGuiTest(const char* name, T*) {
        GuiTestClasses().push_back({name, [] { return std::make_unique<T>(); }});
    }
};
#define KELTRA_GUI_TEST(Name, Class)                                    \
    static const ::keltra::test::RegisterGuiTest kRegister##Class(Name, \
                                                                  static_cast<Class*>(nullptr))

// The shipped config.ini and language files copied into a scratch folder, with the
// process-wide language table pointed at the copy (user file: user/config.ini inside it).
class ScratchLanguages {
  public:
    ScratchLanguages();
    QString Path(const QString& name) const { return dir_.filePath(name); }

  private:
    QTemporaryDir dir_;
};

// A test function's own language files and application-data folder (and with it an empty scan
// history), made before it runs and dropped after it.
struct ScratchSession {
    ScratchLanguages languages;
    ScopedAppDataFolder appData;
};

// What a message box showed and how it was answered.
struct SeenBox {
    bool shown = false;
    int kind = -1;
    QString title;
    QString text;
    QRect geometry;  // where it opened
};

// When KELTRA_SCREENSHOT_DIR names a folder: shows the window and saves it there, as it
// appears on the screen, as NAME.png.
void Screenshot(QWidget& window, const QString& name);

// Clicks `button` ("okbtn", "cancelbtn", "closebtn") of the next message box to open, and
// records what it showed.
void AnswerNextBox(const QString& button, SeenBox& seen);

// Calls `act` once on the first modal window of type T to come up (within thirty seconds).
template <typename T>
void WhenModal(std::function<void(T*)> act) {
    auto* timer = new QTimer(qApp);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, ticks] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            act(window);
        } else if (++*ticks > 3000) {
            timer->deleteLater();
        }
    });
    timer->start(10);
}

}  // namespace keltra::test
