// The quick scan of a FAT32 volume with 100,000 directory entries (built by bench/run.sh), from
// opening the image to the last folder record. Compare with `fls -rd` on the same image, which
// run.sh times in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engines/fat/quick_fat_scan.h"

namespace {

void BM_QuickFatScan(benchmark::State& state) {
    const char* image = std::getenv("KELTRA_BENCH_FAT_IMAGE");
    if (image == nullptr) {
        state.SkipWithError("set KELTRA_BENCH_FAT_IMAGE to a FAT image");
        return;
    }
    const std::filesystem::path logs =
        std::filesystem::temp_directory_path() / "keltra-fat-bench-logs";
    uint64_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(logs);
        state.ResumeTiming();
        keltra::QuickFatScan engine;
        engine.SetLogFolder(logs.string());
        if (engine.Open(keltra::SourceRef::Image(image, 0)) != keltra::kOk ||
            engine.Scan(std::nullopt) != keltra::kOk) {
            state.SkipWithError("the quick scan failed");
            break;
        }
        found = engine.GetRecordCount();
    }
    std::filesystem::remove_all(logs);
    state.counters["records"] = static_cast<double>(found);
}
BENCHMARK(BM_QuickFatScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
