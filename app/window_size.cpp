#include "app/window_size.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <charconv>
#include <filesystem>

#include "app/ini_file.h"

namespace keltra {

namespace {

constexpr char kSection[] = "Window";
constexpr QSize kLargestOpening{1600, 1000};

std::optional<int> Number(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Writes the window's size when it closes.
class SizeKeeper : public QObject {
  public:
    SizeKeeper(QWidget* window, std::string iniPath)
        : QObject(window), window_(window), iniPath_(std::move(iniPath)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Close) {
            const bool maximized = window_->isMaximized();
            // A maximised window keeps the size it returns to.
            const QSize size = maximized ? window_->normalGeometry().size() : window_->size();
            if (size.isValid()) WriteRememberedWindow(iniPath_, {size, maximized});
        }
        return false;
    }

  private:
    QWidget* window_;
    std::string iniPath_;
};

}  // namespace

QSize OpeningWindowSize(const std::optional<RememberedWindow>& remembered, QSize available) {
    QSize size = remembered ? remembered->size
                            : (available * 9 / 10).boundedTo(kLargestOpening);
    if (available.isValid()) size = size.boundedTo(available);
    return size.expandedTo(kSmallestWindowSize);
}

std::optional<RememberedWindow> ReadRememberedWindow(const std::string& iniPath) {
    std::vector<IniEntry> entries;
    if (!ReadIniFile(iniPath, entries)) return std::nullopt;
    std::optional<int> width, height;
    bool maximized = false;
    for (const IniEntry& e : entries) {
        if (e.section != kSection) continue;
        if (e.key == "Width") width = Number(e.value);
        if (e.key == "Height") height = Number(e.value);
        if (e.key == "Maximized") maximized = e.value == "1";
    }
    // A size written by hand or by a broken run may be anything.
    if (!width || !height || *width <= 0 || *height <= 0 || *width > 100000 || *height > 100000) {
        return std::nullopt;
    }
    return RememberedWindow{QSize(*width, *height), maximized};
}

void WriteRememberedWindow(const std::string& iniPath, const RememberedWindow& window) {
    // Not being able to remember the size is no reason to trouble the user.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(iniPath).parent_path(), ec);
    const char* why = "the window opens at its usual size next time";
    IgnoreStatus(WriteIniValue(iniPath, kSection, "Width", std::to_string(window.size.width())),
                 why);
    IgnoreStatus(WriteIniValue(iniPath, kSection, "Height", std::to_string(window.size.height())),
                 why);
    IgnoreStatus(WriteIniValue(iniPath, kSection, "Maximized", window.maximized ? "1" : "0"), why);
}

void KeepWindowSize(QWidget* window, const std::string& iniPath) {
    window->setMinimumSize(kSmallestWindowSize);
    const std::optional<RememberedWindow> remembered = ReadRememberedWindow(iniPath);
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const QSize size = OpeningWindowSize(remembered, area.size());
    // Where it opens is the window manager's choice.
    window->resize(size);
    if (remembered && remembered->maximized) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    }
    window->installEventFilter(new SizeKeeper(window, iniPath));
}

}  // namespace keltra
