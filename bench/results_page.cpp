// The results page with a synthetic store of N found files (N from the command line, 100,000
// by default): the time to build the store (the search's part), to show the page, to tick all
// files of the list, to tick one category, and the memory the program holds (anonymous resident
// memory: the records themselves stay in the store's file) after each step and after Back.
// Runs on Qt's offscreen platform.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/file_list_model.h"
#include "app/found_file_store.h"
#include "app/main_wnd.h"
#include "app/results_model.h"

namespace {

// Resident anonymous and file-backed memory of the process, in KiB.
struct Memory {
    long anon = 0;
    long file = 0;
    long peak = 0;
};

Memory ReadMemory() {
    Memory m;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        const auto value = [&line] { return std::stol(line.substr(line.find(':') + 1)); };
        if (line.starts_with("RssAnon:")) m.anon = value();
        if (line.starts_with("RssFile:")) m.file = value();
        if (line.starts_with("VmHWM:")) m.peak = value();
    }
    return m;
}

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long files = argc > 1 ? std::stol(argv[1]) : 100000;
    QTemporaryDir scratch;
    keltra::CMainWnd window;
    window.show();
    Settle();
    const Memory before = ReadMemory();

    // The store: mostly photos in a hundred camera folders, some sounds, videos and documents.
    QElapsedTimer clock;
    clock.start();
    auto store = std::make_unique<keltra::FoundFileStore>(scratch.path());
    static constexpr const char* kExtensions[] = {"JPG", "jpg", "png", "mp3",
                                                  "mp4", "pdf", "CR2", "txt"};
    keltra::FoundRecord record = keltra::EmptyRecord();
    for (long i = 0; i < files; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "IMG_%07ld.%s", i, kExtensions[i % 8 < 5 ? 0 : i % 8]);
        record.SetName(name);
        record.recordIndex = static_cast<uint32_t>(i + 1);
        record.size = 1000 + static_cast<uint64_t>(i % 5000) * 1024;
        record.sourceTag = 1;
        char folder[32];
        std::snprintf(folder, sizeof(folder), "DCIM/%03ldCANON/", i % 100);
        keltra::IgnoreStatus(store->Add(record, folder, 0),
                             "a store that cannot be written shows as fewer rows");
    }
    keltra::IgnoreStatus(store->Finish(), "a store that cannot be written shows as fewer rows");
    const double buildMs = Ms(clock);

    // Show: the model made and put on the page, the first type listed and drawn.
    clock.restart();
    keltra::ScanSummary summary;
    std::vector<keltra::TypeOption> options;
    // The file-type page's options as the window knows them: only their grouping matters here.
    options.push_back({"TypeJpg", "JPEG", 0, {"jpg"}});
    options.push_back({"TypePng", "PNG", 0, {"png"}});
    options.push_back({"TypeMp3", "MP3", 1, {"mp3"}});
    options.push_back({"TypeMp4", "MP4", 2, {"mp4"}});
    window.ShowResults(std::make_unique<keltra::CResultsModel>(
        std::move(store), std::vector<keltra::ResultsSource>{{"bench.img", 1}}, summary, options));
    Settle();
    const double showMs = Ms(clock);
    const Memory shown = ReadMemory();

    // Tick all: the list of the photo category (most files), then "All".
    auto* tree = window.findChild<QTreeView*>("TypeTree");
    tree->setCurrentIndex(window.Results()->CategoryIndex(0));
    Settle();
    const long listed = window.FileListModel()->rowCount();
    auto* all = window.findChild<QCheckBox*>("ChkAllListSel");
    clock.restart();
    all->click();
    Settle();
    const double tickAllMs = Ms(clock);
    const size_t tickedAll = window.CheckedCount();

    // Tick one category in the tree (audio), as a click on its box does.
    clock.restart();
    window.Results()->setData(window.Results()->CategoryIndex(1), Qt::Checked, Qt::CheckStateRole);
    Settle();
    const double tickCategoryMs = Ms(clock);
    const Memory ticked = ReadMemory();

    // Back: the results go, and their memory with them.
    QMetaObject::invokeMethod(window.findChild<QWidget*>("BtnPrev"), "click");
    Settle();
    const Memory after = ReadMemory();

    std::printf("found files: %ld (listed in the photo category: %ld, ticked by All: %zu)\n", files,
                listed, tickedAll);
    std::printf("store built (the search's share): %.1f ms\n", buildMs);
    std::printf("show the results page: %.1f ms\n", showMs);
    std::printf("tick all of the list: %.1f ms\n", tickAllMs);
    std::printf("tick one category: %.1f ms\n", tickCategoryMs);
    const auto perFile = [files](long kib) { return static_cast<double>(kib) * 1024.0 / files; };
    std::printf(
        "anonymous memory: %ld KiB before, +%.1f bytes/file shown, +%.1f bytes/file "
        "ticked, +%.1f bytes/file after Back\n",
        before.anon, perFile(shown.anon - before.anon), perFile(ticked.anon - before.anon),
        perFile(after.anon - before.anon));
    std::printf(
        "file-backed resident memory (store pages read): +%ld KiB; peak resident: %ld "
        "KiB\n",
        ticked.file - before.file, ticked.peak);
    return 0;
}
