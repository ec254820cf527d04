// The main window's size: it opens using most of the screen (or at the size the user left it),
// never smaller than its smallest usable size, and remembers its size and whether it was
// maximised in the user's config.ini ([Window] Width, Height, Maximized).
#pragma once

#include <QRect>
#include <QSize>
#include <optional>
#include <string>

class QWidget;

namespace keltra {

// The layouts stay usable down to this size.
inline constexpr QSize kSmallestWindowSize{800, 500};

struct RememberedWindow {
    QSize size;
    bool maximized = false;
};

// The size to open at on a screen whose free area is `available`: the remembered size, else
// nine tenths of the free area up to 1600 × 1000; never larger than the free area nor smaller
// than the smallest size.
QSize OpeningWindowSize(const std::optional<RememberedWindow>& remembered, QSize available);

// What the file remembers; nothing when it holds no usable size.
std::optional<RememberedWindow> ReadRememberedWindow(const std::string& iniPath);
void WriteRememberedWindow(const std::string& iniPath, const RememberedWindow& window);

// Sizes the window for its screen, maximised when it was left so, and writes
// its size to the file when it closes.
void KeepWindowSize(QWidget* window, const std::string& iniPath);

}  // namespace keltra
