// The quick NTFS scan of a volume with over 100,000 MFT records (50,000 deleted files in 2,000
// folders, made by bench/make_ntfs_bench_image.sh). bench/run.sh times `fls -rd` on the same
// image in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "engines/ntfs/quick_ntfs_scan.h"

namespace {

void BM_QuickNtfsScan(benchmark::State& state) {
    const char* image = std::getenv("KELTRA_BENCH_NTFS_IMAGE");
    if (image == nullptr) {
        state.SkipWithError("set KELTRA_BENCH_NTFS_IMAGE to an NTFS image");
        return;
    }
    const auto logs = std::filesystem::temp_directory_path() / "keltra-ntfs-bench";
    uint64_t records = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(logs);
        keltra::QuickNtfsScan engine;
        if (engine.Open(keltra::SourceRef::Image(image, 1)) != keltra::kOk) {
            state.SkipWithError("cannot open the image");
            return;
        }
        engine.SetLogFolder(logs.string());
        state.ResumeTiming();
        if (engine.Scan(std::nullopt) != keltra::kOk) state.SkipWithError("scan failed");
        records = engine.GetRecordCount();
    }
    state.counters["records"] = static_cast<double>(records);
    std::filesystem::remove_all(logs);
}
BENCHMARK(BM_QuickNtfsScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
