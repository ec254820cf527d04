// Sequential reading of an image through ReadSectors in 64 KiB chunks, the way the deep scan
// reads a whole volume. Compare its bytes/s with `cat IMAGE > /dev/null` (bench/run.sh).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "storage/sector_source.h"

namespace {

void BM_ReadWholeImage(benchmark::State& state) {
    const char* image = std::getenv("KELTRA_BENCH_IMAGE");
    keltra::SectorSource source;
    if (image == nullptr || keltra::OpenImageSource(source, image) != keltra::kOk) {
        state.SkipWithError("set KELTRA_BENCH_IMAGE to an image file");
        return;
    }
    std::vector<std::byte> chunk(65536);
    for (auto _ : state) {
        uint64_t lba = 0;
        while (lba + 128 <= source.totalSectors) {
            uint32_t read = 0;
            IgnoreStatus(keltra::ReadSectors(source, 128, chunk, lba, 512, read),
                         "the benchmark measures the work, not its answer");
            lba += 128;
        }
        benchmark::DoNotOptimize(chunk.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(source.totalSectors / 128 * 65536));
}
BENCHMARK(BM_ReadWholeImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
