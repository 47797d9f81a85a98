// Restoring a 4096 x 4096 sheet of 8 x 8 tiles (262 144 tiles) under a random permutation, beside
// a memcpy of the image's bytes, at both depths; and writing and reading its map text. Counters:
// vs_memcpy (one restore over one memcpy of the image, same run), peak_MiB (highest resident
// memory during the benchmark) and image_MiB (one image, the most a restore should add). Also a
// block move and its undo.
#include <algorithm>
#include <chrono>
#include <random>

#include "bench_support.h"
#include "document/document.h"
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

// Moving a block of 2048 x 2048 pixels on a 4096 x 4096 sheet as the window's step, and undoing
// it, each beside a memcpy of the bytes that change place (the block and the tiles it lands on).
// range(0): 0 lands the block beside itself, 1 one tile down and right, overlapping it; range(1):
// 0 tiles of 16 x 16 (128 x 128 of them), 1 of 32 x 64 (64 x 32).
void BM_MoveBlock(benchmark::State& state)
{
    const TileShape tile = state.range(1) == 0 ? TileShape(16) : TileShape(32, 64);
    const QSize blockTiles(2048 / tile.width, 2048 / tile.height);
    const QPoint offset =
        state.range(0) == 0 ? QPoint(blockTiles.width(), blockTiles.height()) : QPoint(1, 1);
    Document doc;
    doc.replaceSheet(makeBenchSheet(kSide, kSide), tile, 0);
    const QRect block(QPoint(0, 0), blockTiles);
    const QRect moved = block.translated(offset);
    // Every place of the block and of where it lands gets another tile.
    const QRect overlap = block & moved;
    const qint64 changing = 2 * qint64(block.width()) * block.height() -
                            qint64(overlap.width()) * overlap.height();
    const size_t bytes = size_t(changing) * size_t(tile.area()) * 3;
    double moveSeconds = 0, undoSeconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!doc.moveTiles(block, offset).isEmpty()) {
            state.SkipWithError("the move was refused");
            return;
        }
        moveSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        start = std::chrono::steady_clock::now();
        doc.undo();
        undoSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double baseline = memcpySeconds(bytes);
    state.counters["moved_MiB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["move_vs_memcpy"] = moveSeconds / double(state.iterations()) / baseline;
    state.counters["undo_vs_memcpy"] = undoSeconds / double(state.iterations()) / baseline;
    state.SetLabel(std::string(state.range(0) == 0 ? "beside" : "overlapping") + ", " +
                   tileText(tile).toStdString() + " tiles");
}

void depths(benchmark::internal::Benchmark* b)
{
    b->ArgName("format")->Arg(QImage::Format_BGR888)->Arg(QImage::Format_RGB32)->Unit(
        benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_RestoreTileOrder)->Apply(depths);
BENCHMARK(BM_MoveBlock)
    ->ArgNames({"overlap", "shape"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewImageFill)->Apply(depths);
BENCHMARK(BM_MemcpyImage)->Apply(depths);
BENCHMARK(BM_WriteMapText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseMapText)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
