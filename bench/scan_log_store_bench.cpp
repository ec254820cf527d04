// The record store at the size of a big deep scan: a search by extension over 1,000,000 records
// and the listing of a folder with 100,000 children, against a plain read of the main file
// (what `cat` does) from the page cache. Reports records/s and bytes/s.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engines/scan_log_store.h"

namespace {

namespace fs = std::filesystem;
using keltra::FoundRecord;
using keltra::ParentKey;
using keltra::ScanLogStore;

constexpr uint32_t kRecords = 1'000'000;
constexpr uint32_t kFolderChildren = 100'000;
constexpr uint32_t kFolderKey = 40;
constexpr const char* kLogName = "File_Type_0_20261271 0";

// Builds the log once per process in a temporary folder removed at exit: 100,000 files in one
// folder, the rest under the root; one name in twenty has a photo extension, others documents.
class BenchLog {
  public:
    BenchLog() {
        std::string tmpl = (fs::temp_directory_path() / "keltra-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
        folder_ = tmpl;
        ScanLogStore store;
        if (store.OpenLog(folder_, kLogName) != keltra::kOk) std::abort();
        static const char* const kExtensions[] = {"doc", "txt", "pdf", "mp3", "xls"};
        for (uint32_t i = 0; i < kRecords; ++i) {
            FoundRecord& r = store.NewRecord();
            r.contentIntact = 1;
            r.size = 4096 + i;
            r.location = i * 8ULL;
            const char* extension = i % 20 == 0 ? "jpg" : kExtensions[i % 5];
            // Names in a scrambled order, so that the listing's sort has work to do.
            r.SetName("FILE_" + std::to_string((i * 2654435761u) % kRecords) + "." + extension);
            const uint32_t index = r.recordIndex;
            store.Link(i < kFolderChildren ? ParentKey(kFolderKey, 1) : ParentKey(5, 0), index, 0);
        }
        if (store.Flush() != keltra::kOk) std::abort();
    }
    ~BenchLog() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const std::string& Folder() const { return folder_; }
    std::string MainPath() const { return folder_ + "/" + kLogName; }

  private:
    std::string folder_;
};

const BenchLog& Log() {
    static BenchLog log;
    return log;
}

void BM_CatMainFile(benchmark::State& state) {
    const std::string path = Log().MainPath();
    std::vector<char> buffer(128 * 1024);
    int64_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) bytes += n;
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(bytes / static_cast<int64_t>(keltra::kFoundRecordSize));
}
BENCHMARK(BM_CatMainFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchByExtension(benchmark::State& state) {
    ScanLogStore store;
    if (store.OpenLog(Log().Folder(), kLogName) != keltra::kOk) {
        state.SkipWithError("cannot open the log");
        return;
    }
    size_t found = 0;
    for (auto _ : state) {
        std::vector<FoundRecord> out;
        IgnoreStatus(
            store.SearchByExtension("*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.mp3|*.wav|*.avi|*.mp4|", out),
            "the benchmark measures the work, not its answer");
        found = out.size();
    }
    state.counters["found"] = static_cast<double>(found);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRecords *
                            static_cast<int64_t>(keltra::kFoundRecordSize));
}
BENCHMARK(BM_SearchByExtension)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListFolderOf100000(benchmark::State& state) {
    ScanLogStore store;
    if (store.OpenLog(Log().Folder(), kLogName) != keltra::kOk) {
        state.SkipWithError("cannot open the log");
        return;
    }
    for (auto _ : state) {
        std::vector<FoundRecord> out;
        IgnoreStatus(store.ListChildren(ParentKey(kFolderKey, 1), out),
                     "the benchmark measures the work, not its answer");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFolderChildren);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFolderChildren *
                            static_cast<int64_t>(keltra::kFoundRecordSize));
}
BENCHMARK(BM_ListFolderOf100000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
