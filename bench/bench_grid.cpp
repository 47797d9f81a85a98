// Grid insertion and removal for 8 and 16 on 4096 x 4096 and 16384 x 16384 sheets, beside a memcpy
// of the result's bytes. Counters: vs_memcpy (time of one transform over one memcpy of the result,
// measured in the same run), peak_MiB (highest resident memory during the benchmark) and
// source_result_MiB (the source plus the result, which is all the peak should hold beyond the
// program itself).
#include <chrono>

#include "bench_support.h"
#include "grid/grid_transform.h"
#include "image/pixel_block.h"

namespace {

const QRgb kGrid = qRgb(255, 0, 255);

double mebibytes(const QImage& image)
{
    return double(image.sizeInBytes()) / (1024.0 * 1024.0);
}

void runTransform(benchmark::State& state, bool insert)
{
    const int side = int(state.range(0));
    const int tileSize = int(state.range(1));
    // Removal starts from a gridded 32-bit sheet, as it does in the program.
    QImage source = makeBenchSheet(side, side);
    if (!insert)
        source = insertGrid(source, tileSize, kGrid).image;

    resetPeakMemory();
    double seconds = 0;
    qsizetype resultBytes = 0;
    double resultMiB = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        GridResult result = insert ? insertGrid(source, tileSize, kGrid)
                                   : removeGrid(source, tileSize, kGrid);
        benchmark::DoNotOptimize(result.image.constBits());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!result.ok()) {
            state.SkipWithError(result.error.toUtf8().constData());
            return;
        }
        resultBytes = result.image.sizeInBytes();
        resultMiB = mebibytes(result.image);
    }
    state.counters["peak_MiB"] = peakMemorySinceResetMiB();
    state.counters["source_result_MiB"] = mebibytes(source) + resultMiB;
    source = QImage();
    state.counters["vs_memcpy"] =
        seconds / double(state.iterations()) / memcpySeconds(size_t(resultBytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * resultBytes);
}

void BM_InsertGrid(benchmark::State& state) { runTransform(state, true); }
void BM_RemoveGrid(benchmark::State& state) { runTransform(state, false); }

// The bytes of the result: (side div t) * (t + 1) a side after insertion, (side div t) * t after
// removal of the grid inserted before, at 4 bytes a pixel.
void BM_MemcpyInsertResult(benchmark::State& state)
{
    const size_t resultSide = size_t(state.range(0) / state.range(1) * (state.range(1) + 1));
    memcpyBaseline(state, resultSide * resultSide * 4);
}

void BM_MemcpyRemoveResult(benchmark::State& state)
{
    const size_t resultSide = size_t(state.range(0) / state.range(1) * state.range(1));
    memcpyBaseline(state, resultSide * resultSide * 4);
}

// A new image of the insertion result's size, written once: the floor for any transform into fresh
// memory, since the system must hand over zeroed pages before the first write.
void BM_FreshResultFill(benchmark::State& state)
{
    const int resultSide = int(state.range(0) / state.range(1) * (state.range(1) + 1));
    for (auto _ : state) {
        QImage image = createUninitialized(resultSide, resultSide, QImage::Format_RGB32);
        image.fill(0);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void sizes(benchmark::internal::Benchmark* b, int side)
{
    b->ArgNames({"side", "tile"})->Args({side, 8})->Args({side, 16})->Unit(benchmark::kMillisecond);
    if (side > 4096)
        b->Iterations(3);
}

}  // namespace

// Small sheets first, and each memcpy after its transforms, so a peak belongs to its own benchmark.
BENCHMARK(BM_InsertGrid)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 4096); });
BENCHMARK(BM_RemoveGrid)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 4096); });
BENCHMARK(BM_MemcpyInsertResult)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 4096); });
BENCHMARK(BM_MemcpyRemoveResult)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 4096); });
BENCHMARK(BM_FreshResultFill)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 4096); });
BENCHMARK(BM_InsertGrid)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 16384); });
BENCHMARK(BM_RemoveGrid)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 16384); });
BENCHMARK(BM_MemcpyInsertResult)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 16384); });
BENCHMARK(BM_MemcpyRemoveResult)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 16384); });
BENCHMARK(BM_FreshResultFill)->Apply([](benchmark::internal::Benchmark* b) { sizes(b, 16384); });
BENCHMARK_MAIN();
