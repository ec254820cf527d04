// The thumbnail grid of the real main window over a card of 10,000 small JPEGs (a FAT32 image
// written with mtools, every picture deleted so that the quick scan lists it), scrolled from top
// to bottom a screenful at a time as a user pages down: time to the first thumbnail and to the
// first full screen, for each step the time until its screen is complete, the worst stall of
// the window's event loop while scrolling (the longest gap between two ticks of a 2 ms timer),
// and the resident memory at the end (the cache is capped, so it must not grow with the count).
// thumbnail_grid_bench [COUNT]; runs on Qt's offscreen platform; needs mkfs.vfat and mtools.
#include "app/thumbnail_grid.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/main_wnd.h"

namespace {

void SaveJpeg(const QString& path, int index) {
    QImage image(320, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 240);
    gradient.setColorAt(0, QColor::fromHsv(index * 37 % 360, 200, 220));
    gradient.setColorAt(1, QColor::fromHsv(index * 91 % 360, 160, 90));
    painter.fillRect(image.rect(), gradient);
    painter.drawText(image.rect(), Qt::AlignCenter, QString::number(index));
    painter.end();
    image.save(path, "JPEG", 85);
}

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MTOOLS_SKIP_CHECK", "1");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return false;
    }
    return true;
}

// A FAT32 image of `count` deleted JPEGs in one folder.
bool MakeCard(const QString& folder, int count, QString& image) {
    const QString pictures = folder + "/DCIM";
    QDir().mkpath(pictures);
    for (int i = 0; i < count; ++i)
        SaveJpeg(QString("%1/P%2.JPG").arg(pictures).arg(i, 6, 10, QChar('0')), i);
    image = folder + "/card.img";
    const qint64 megabytes = 64 + count / 40;
    if (!Run("mkfs.vfat",
             {"-C", "-F", "32", "-n", "BENCH", image, QString::number(megabytes * 1024)})) {
        return false;
    }
    QStringList copy{"-i", image, "-s", pictures, "::/"};
    if (!Run("mcopy", copy)) return false;
    return Run("mdel", {"-i", image, "::/DCIM/*.JPG"});
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return 0;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir scratch;
    qputenv("XDG_DATA_HOME", (scratch.path() + "/data").toUtf8());
    QString image;
    QElapsedTimer clock;
    clock.start();
    if (!MakeCard(scratch.path(), count, image)) return 1;
    std::printf("card of %d JPEGs (320 x 240) made in %.1f s\n", count, clock.nsecsElapsed() / 1e9);

    keltra::CMainWnd window;
    window.resize(1280, 800);
    window.show();
    QTest::mouseClick(window.findChild<QPushButton*>("BtnStart"), Qt::LeftButton);
    if (window.AddImageSource(image) == nullptr) return 1;
    clock.restart();
    QTest::mouseClick(window.findChild<QPushButton*>("BtnScan"), Qt::LeftButton);
    window.findChild<QTabWidget*>("ResultViews")
        ->setCurrentWidget(window.findChild<QWidget*>("PageByFolder"));
    keltra::CFileListModel* files = window.FileListModel();
    std::printf("quick scan and results: %.1f s, %d files listed\n", clock.nsecsElapsed() / 1e9,
                files->rowCount());
    if (files->rowCount() < count) return 1;
    const long rssBefore = StatusKiB("VmRSS:");

    auto* view = window.findChild<QListView*>("FileGrid");
    keltra::CThumbnailGrid* grid = window.Grid();
    // The rows whose cells show.
    auto onScreen = [&] {
        std::vector<int> rows;
        const QSize cell = view->gridSize();
        const QRect area = view->viewport()->rect();
        for (int y = cell.height() / 2; y < area.height(); y += cell.height()) {
            for (int x = cell.width() / 2; x < area.width(); x += cell.width()) {
                const QModelIndex at = view->indexAt(QPoint(x, y));
                if (at.isValid()) rows.push_back(at.row());
            }
        }
        return rows;
    };
    auto screenDone = [&] {
        for (int row : onScreen()) {
            if (grid->ThumbnailOf(files->FileAt(row)) == nullptr) return false;
        }
        return true;
    };
    // The event loop's pulse: the gaps between the ticks of a 2 ms timer; the longest is the
    // worst stall.
    QElapsedTimer pulse;
    std::vector<double> gapsMs;
    bool measuring = false;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (measuring) gapsMs.push_back(pulse.nsecsElapsed() / 1e6);
        pulse.restart();
    });
    ticker.start();

    // Pages a view from top to bottom as Page Down does: the view scrolls and paints at once
    // (the window thread's share), then its screen fills; the next step follows a frame later.
    struct Paging {
        std::vector<double> paintMs, completeMs, gapsMs;
    };
    auto pageThrough = [&](QAbstractItemView* pagedView, const std::function<bool()>& complete) {
        Paging paging;
        QScrollBar* bar = pagedView->verticalScrollBar();
        gapsMs.clear();
        pulse.restart();
        measuring = true;
        while (bar->value() < bar->maximum()) {
            QElapsedTimer step;
            step.start();
            bar->setValue(std::min(bar->maximum(), bar->value() + bar->pageStep()));
            pagedView->viewport()->repaint();
            paging.paintMs.push_back(step.nsecsElapsed() / 1e6);
            if (!QTest::qWaitFor(complete, 60000)) break;
            paging.completeMs.push_back(step.nsecsElapsed() / 1e6);
            QTest::qWait(16);
        }
        QTest::qWait(50);
        measuring = false;
        paging.gapsMs = gapsMs;
        return paging;
    };
    auto report = [](const char* what, const Paging& paging) {
        // A frame at 60 Hz lasts 16.7 ms: a longer gap drops at least one.
        const auto dropped = std::count_if(paging.gapsMs.begin(), paging.gapsMs.end(),
                                           [](double gap) { return gap > 16.7; });
        std::printf(
            "%s: %zu pages; scroll and paint median %.1f ms, max %.1f ms; page complete "
            "median %.1f ms, 95th %.1f ms, max %.1f ms\n",
            what, paging.paintMs.size(), Percentile(paging.paintMs, 0.5),
            Percentile(paging.paintMs, 1.0), Percentile(paging.completeMs, 0.5),
            Percentile(paging.completeMs, 0.95), Percentile(paging.completeMs, 1.0));
        std::printf(
            "  event loop: gaps 99th %.1f ms, 99.9th %.1f ms, worst %.1f ms; %ld of %zu "
            "over a 60 Hz frame\n",
            Percentile(paging.gapsMs, 0.99), Percentile(paging.gapsMs, 0.999),
            Percentile(paging.gapsMs, 1.0), static_cast<long>(dropped), paging.gapsMs.size());
    };

    // The list first, in the same run: what the machine's own load costs the event loop.
    report("list (no pictures)",
           pageThrough(window.findChild<QAbstractItemView*>("FileList"), [] { return true; }));

    int firstShown = 0;
    QObject::connect(grid, &keltra::CThumbnailGrid::ThumbnailShown, [&](quint64) { ++firstShown; });
    clock.restart();
    QTest::mouseClick(window.findChild<QToolButton*>("BtnGridView"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return firstShown > 0; }, 60000)) return 1;
    const double firstMs = clock.nsecsElapsed() / 1e6;
    if (!QTest::qWaitFor(screenDone, 60000)) return 1;
    const double firstScreenMs = clock.nsecsElapsed() / 1e6;
    std::printf("grid shown: first thumbnail %.1f ms, first screen (%zu cells) %.1f ms\n", firstMs,
                onScreen().size(), firstScreenMs);
    const Paging gridPaging = pageThrough(view, screenDone);
    if (gridPaging.completeMs.size() != gridPaging.paintMs.size()) return 1;
    report("grid", gridPaging);
    if (!QTest::qWaitFor([&] { return grid->Service().Idle(); }, 10000)) return 1;
    // The lease goes back once the reads ended (a queued call).
    if (!QTest::qWaitFor([&] { return !grid->HoldsSources(); }, 10000)) return 1;
    std::printf(
        "cache %d thumbnails, %.1f MiB; resident %.1f MiB at the end (%.1f MiB over "
        "the results page before the grid), peak %.1f MiB; source held open: %s\n",
        grid->Service().CachedCount(), grid->Service().CachedBytes() / 1048576.0,
        StatusKiB("VmRSS:") / 1024.0, (StatusKiB("VmRSS:") - rssBefore) / 1024.0,
        StatusKiB("VmHWM:") / 1024.0, grid->HoldsSources() ? "yes" : "no");
    return 0;
}
