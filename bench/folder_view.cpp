// The results by folder with a synthetic store of N found files (N from the command line,
// 100,000 by default) in the shape of a well-used disk: many deleted files of mixed kinds, a
// few thousand folders of every size from one file to a tenth of all (sizes falling as 1/k),
// one to five levels deep, and a twentieth carved. Measured in one run: the folder tree made
// against the type tree made from the same store (the ratio is the figure that travels between
// machines), the results page shown, the whole tree expanded, every folder chosen in turn (its
// files listed), the largest folder sorted by name, and the memory the tree holds per file.
// Runs on Qt's offscreen platform.
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/folder_tree_model.h"
#include "app/found_file_store.h"
#include "app/main_wnd.h"
#include "app/results_model.h"

namespace {

// Bytes the program holds on its heap.
size_t HeapBytes() {
    return mallinfo2().uordblks;
}

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

std::unique_ptr<keltra::FoundFileStore> MakeStore(const QString& folder, long files, long folders) {
    static constexpr const char* kExtensions[] = {"jpg", "JPG", "png", "heic", "CR2", "mp4",
                                                  "mov", "mp3", "pdf", "docx", "zip", "txt"};
    static constexpr const char* kTops[] = {"DCIM", "Users", "Pictures", "Music", "Documents"};
    // Folder k holds a share of the files falling as 1/k.
    double harmonic = 0;
    for (long k = 1; k <= folders; ++k) harmonic += 1.0 / static_cast<double>(k);
    std::vector<long> sizes;
    long placed = 0;
    for (long k = 1; k <= folders && placed < files; ++k) {
        const long size = std::max(
            1L, std::lround(static_cast<double>(files) / harmonic / static_cast<double>(k)));
        sizes.push_back(std::min(size, files - placed));
        placed += sizes.back();
    }
    sizes[0] += files - placed;
    auto store = std::make_unique<keltra::FoundFileStore>(folder);
    keltra::FoundRecord record = keltra::EmptyRecord();
    record.sourceTag = 1;
    long file = 0;
    for (size_t k = 0; k < sizes.size(); ++k) {
        // One to five levels: a top folder, then parents shared by many folders.
        std::string path = std::string(kTops[k % 5]) + "/";
        for (size_t level = 0; level < k % 5; ++level) {
            path += "Group " + std::to_string((k >> (2 * level)) % 13) + "/";
        }
        path += "Folder " + std::to_string(k) + "/";
        for (long i = 0; i < sizes[k]; ++i, ++file) {
            char name[64];
            std::snprintf(name, sizeof(name), "IMG_%07ld.%s", file, kExtensions[file % 12]);
            record.SetName(name);
            record.recordIndex = static_cast<uint32_t>(file + 1);
            record.size = 1000 + static_cast<uint64_t>(file % 5000) * 1024;
            const bool carved = file % 20 == 0;
            record.origin = static_cast<uint32_t>(carved ? keltra::RecordOrigin::Carving
                                                         : keltra::RecordOrigin::QuickFat);
            keltra::IgnoreStatus(store->Add(record, carved ? std::string() : path, 0),
                                 "a store that cannot be written shows as fewer rows");
        }
    }
    keltra::IgnoreStatus(store->Finish(), "a store that cannot be written shows as fewer rows");
    return store;
}

std::vector<keltra::TypeOption> Options() {
    return {{"TypeJpg", "JPEG", 0, {"jpg"}},
            {"TypePng", "PNG", 0, {"png"}},
            {"TypeMp3", "MP3", 1, {"mp3"}},
            {"TypeMp4", "MP4", 2, {"mp4"}}};
}

void AllFolders(const QAbstractItemModel& model, const QModelIndex& parent,
                std::vector<QModelIndex>& out) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        out.push_back(model.index(row, 0, parent));
        AllFolders(model, out.back(), out);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long files = argc > 1 ? std::stol(argv[1]) : 100000;
    const long folders = argc > 2 ? std::stol(argv[2]) : 5000;
    QTemporaryDir scratch;
    keltra::CMainWnd window;
    window.resize(1280, 800);
    window.show();
    Settle();

    // The two trees from one store, each made three times; the medians compared.
    auto results = std::make_unique<keltra::CResultsModel>(
        MakeStore(scratch.path(), files, folders),
        std::vector<keltra::ResultsSource>{{"bench.img", 1}}, keltra::ScanSummary{}, Options());
    std::vector<double> typeMs, folderMs;
    size_t treeBytes = 0;
    size_t folderCount = 0;
    for (int round = 0; round < 3; ++round) {
        auto store = MakeStore(scratch.path(), files, folders);
        QElapsedTimer clock;
        clock.start();
        const keltra::CResultsModel types(std::move(store), {{"bench.img", 1}}, {}, Options());
        typeMs.push_back(Ms(clock));
        const size_t before = HeapBytes();
        clock.restart();
        const keltra::CFolderTreeModel tree(*results);
        folderMs.push_back(Ms(clock));
        treeBytes = HeapBytes() - before;
        folderCount = tree.FolderCount();
    }
    std::sort(typeMs.begin(), typeMs.end());
    std::sort(folderMs.begin(), folderMs.end());

    // The page as a user meets it: shown, the folder view picked, every folder opened.
    QElapsedTimer clock;
    clock.start();
    window.ShowResults(std::move(results));
    Settle();
    const double showMs = Ms(clock);
    auto* views = window.findChild<QTabWidget*>("ResultViews");
    views->setCurrentWidget(window.findChild<QWidget*>("PageByFolder"));
    auto* view = window.findChild<QTreeView*>("FolderTree");
    clock.restart();
    view->expandAll();
    Settle();
    const double expandMs = Ms(clock);
    std::vector<QModelIndex> all;
    AllFolders(*window.Folders(), {}, all);
    double worstMs = 0;
    QModelIndex largest;
    int largestRows = -1;
    clock.restart();
    for (const QModelIndex& folder : all) {
        QElapsedTimer one;
        one.start();
        view->setCurrentIndex(folder);
        Settle();
        worstMs = std::max(worstMs, Ms(one));
        if (window.FileListModel()->rowCount() > largestRows) {
            largestRows = window.FileListModel()->rowCount();
            largest = folder;
        }
    }
    const double browseMs = Ms(clock);
    view->setCurrentIndex(largest);
    Settle();
    clock.restart();
    window.findChild<QTableView*>("FileList")
        ->sortByColumn(keltra::CFileListModel::kNameColumn, Qt::AscendingOrder);
    Settle();
    const double sortMs = Ms(clock);

    std::printf("found files: %ld in %zu folders (largest lists %d files)\n", files, folderCount,
                largestRows);
    std::printf("type tree made: %.1f ms; folder tree made: %.1f ms (medians of 3): ratio %.2f\n",
                typeMs[1], folderMs[1], folderMs[1] / typeMs[1]);
    std::printf("folder tree memory: %.1f bytes/file\n",
                static_cast<double>(treeBytes) / static_cast<double>(files));
    std::printf("results page shown (both trees): %.1f ms; folder tree expanded: %.1f ms\n", showMs,
                expandMs);
    std::printf(
        "every folder chosen in turn: %.1f ms in all, %.2f ms each on average, "
        "worst %.1f ms\n",
        browseMs, browseMs / static_cast<double>(all.size()), worstMs);
    std::printf("largest folder sorted by name: %.1f ms\n", sortMs);
    return 0;
}
