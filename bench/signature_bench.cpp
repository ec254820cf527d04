// The stop scan's recogniser pass: every recogniser of the table, then the volume-metadata
// test, on every sector, as the end finders run it over the sectors after a header. Measured
// over 1 GiB of random bytes (what free space mostly holds) and 1 GiB of photo-like data
// (JPEG entropy-coded bytes, with FF stuffing, a header every 3 MiB and zero slack).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engines/carving/carve_session.h"
#include "engines/carving/end_search.h"

namespace {

using keltra::Status;

constexpr size_t kBufferBytes = size_t{64} << 20;  // scanned 16 times: 1 GiB per iteration
constexpr int kPasses = 16;
constexpr uint32_t kSector = 512;

class Bytes : public keltra::SectorReader {
  public:
    explicit Bytes(const std::vector<std::byte>& bytes) : bytes_(bytes) {}
    Status ReadAt(uint64_t offset, std::span<std::byte> buffer, size_t& done) override {
        done = 0;
        if (offset >= bytes_.size()) return keltra::kOk;
        done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
        std::memcpy(buffer.data(), bytes_.data() + offset, done);
        return keltra::kOk;
    }

  private:
    const std::vector<std::byte>& bytes_;
};

std::vector<std::byte> RandomBytes() {
    std::vector<std::byte> v(kBufferBytes);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < v.size(); i += 8) {
        const uint64_t r = rng();
        std::memcpy(v.data() + i, &r, 8);
    }
    return v;
}

std::vector<std::byte> PhotoLikeBytes() {
    std::vector<std::byte> v = RandomBytes();
    constexpr size_t kPhoto = 3 << 20;
    constexpr unsigned char kHeader[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x1F, 0xFE,
                                         'E',  'x',  'i',  'f',  0,    0};
    for (size_t photo = 0; photo < v.size(); photo += kPhoto) {
        std::memcpy(v.data() + photo, kHeader, sizeof kHeader);
        const size_t end = std::min(v.size(), photo + kPhoto - 700);
        for (size_t i = photo + sizeof kHeader; i + 1 < end; ++i) {
            if (v[i] == std::byte{0xFF}) v[++i] = std::byte{0};
        }
        v[end - 2] = std::byte{0xFF};
        v[end - 1] = std::byte{0xD9};
        std::fill(v.begin() + static_cast<ptrdiff_t>(end),
                  v.begin() + static_cast<ptrdiff_t>(std::min(v.size(), photo + kPhoto)),
                  std::byte{0});
    }
    return v;
}

void RunPass(benchmark::State& state, const std::vector<std::byte>& data) {
    keltra::SectorSource source;
    keltra::OpenReaderSource(source, std::make_unique<Bytes>(data), data.size() / kSector);
    keltra::CarveSession ctx;
    ctx.source = &source;
    ctx.sectorSize = kSector;
    ctx.transportStreamFlag = 0;
    uint64_t stops = 0;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            ctx.currentSector = 0;
            std::span<const std::byte> rest(data);
            while (!rest.empty()) {
                uint64_t size = 0;
                if (keltra::ScanForNextHeader(ctx, rest, size) == 0) break;
                ++stops;
                rest = rest.subspan(static_cast<size_t>(size) + kSector);
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPasses *
                            static_cast<int64_t>(data.size()));
    state.counters["stops_per_GiB"] =
        static_cast<double>(stops) / static_cast<double>(state.iterations());
}

void BM_RecogniserPassRandom(benchmark::State& state) {
    static const std::vector<std::byte> data = RandomBytes();
    RunPass(state, data);
}
BENCHMARK(BM_RecogniserPassRandom)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecogniserPassPhotoLike(benchmark::State& state) {
    static const std::vector<std::byte> data = PhotoLikeBytes();
    RunPass(state, data);
}
BENCHMARK(BM_RecogniserPassPhotoLike)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
