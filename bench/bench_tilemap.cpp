// Restoring a 4096 x 4096 sheet of 8 x 8 tiles (262 144 tiles) under a random permutation, beside
// a memcpy of the image's bytes, at both depths; and writing and reading its map text. Counters:
// vs_memcpy (one restore over one memcpy of the image, same run), peak_MiB (highest resident
// memory during the benchmark) and image_MiB (one image, the most a restore should add).
#include <algorithm>
#include <chrono>
#include <random>

#include "bench_support.h"
#include "image/pixel_block.h"
#include "tilemap/map_file.h"
#include "tilemap/tile_ops.h"

namespace {

constexpr int kSide = 4096;
constexpr int kTile = 8;
constexpr int kTiles = kSide / kTile;

TileMap randomMap()
{
    std::vector<int32_t> numbers(size_t(kTiles) * kTiles);
    for (size_t i = 0; i < numbers.size(); ++i)
        numbers[i] = int32_t(i);
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(2024));
    TileMap map(kTiles + 1, kTiles + 1);
    for (size_t i = 0; i < numbers.size(); ++i)
        map.at(int(i % kTiles), int(i / kTiles)) = numbers[i];
    return map;
}

void BM_RestoreTileOrder(benchmark::State& state)
{
    const QImage image = makeBenchSheet(kSide, kSide, QImage::Format(state.range(0)));
    const TileMap map = randomMap();

    resetPeakMemory();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QImage restored = restoredImage(image, map, kTile);
        benchmark::DoNotOptimize(restored.constBits());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double imageMiB = double(image.sizeInBytes()) / (1024.0 * 1024.0);
    state.counters["peak_MiB"] = peakMemorySinceResetMiB();
    state.counters["image_MiB"] = imageMiB;
    state.counters["vs_memcpy"] =
        seconds / double(state.iterations()) / memcpySeconds(size_t(image.sizeInBytes()));
    state.SetBytesProcessed(int64_t(state.iterations()) * image.sizeInBytes());
}

// The order alone, without moving a pixel.
void BM_RestoreOrder(benchmark::State& state)
{
    const TileMap map = randomMap();
    for (auto _ : state) {
        std::vector<int> order = restoreOrder(map);
        benchmark::DoNotOptimize(order.data());
    }
}

// A new image of the sheet's size, written once front to back: what any restore into a new image
// must at least pay for fresh memory.
void BM_NewImageFill(benchmark::State& state)
{
    for (auto _ : state) {
        QImage image = createUninitialized(kSide, kSide, QImage::Format(state.range(0)));
        image.fill(0);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_MemcpyImage(benchmark::State& state)
{
    const int bytesPerPixel = state.range(0) == QImage::Format_RGB32 ? 4 : 3;
    memcpyBaseline(state, size_t(kSide) * kSide * size_t(bytesPerPixel));
}

void BM_WriteMapText(benchmark::State& state)
{
    const TileMap map = randomMap();
    for (auto _ : state) {
        QByteArray text = writeMapText(map);
        benchmark::DoNotOptimize(text.constData());
    }
}

void BM_ParseMapText(benchmark::State& state)
{
    const QByteArray text = writeMapText(randomMap());
    for (auto _ : state) {
        MapParseResult parsed = parseMapText(text, kTiles, kTiles, QStringLiteral("m"), kTile);
        if (!parsed.map) {
            state.SkipWithError("the map text did not read back");
            return;
        }
        benchmark::DoNotOptimize(parsed.map->at(0, 0));
    }
    state.counters["file_KiB"] = double(text.size()) / 1024.0;
}

void depths(benchmark::internal::Benchmark* b)
{
    b->ArgName("format")->Arg(QImage::Format_BGR888)->Arg(QImage::Format_RGB32)->Unit(
        benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_RestoreTileOrder)->Apply(depths);
BENCHMARK(BM_RestoreOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewImageFill)->Apply(depths);
BENCHMARK(BM_MemcpyImage)->Apply(depths);
BENCHMARK(BM_WriteMapText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseMapText)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
