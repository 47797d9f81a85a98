// Repainting a 1920 x 1080 viewport of a 16384 x 16384 sheet at zoom 1, 4 and 10, beside a memcpy
// of the viewport's bytes. The repaint must not cost more at zoom 10 than at zoom 1, and the peak
// memory must not grow with the zoom.
#include "bench_support.h"
#include "view/zoom_render.h"

namespace {

constexpr int kSheetSide = 16384;
constexpr QSize kViewport(1920, 1080);

const QImage& sheet()
{
    static const QImage image = makeBenchSheet(kSheetSide, kSheetSide);
    return image;
}

void BM_RepaintViewport(benchmark::State& state)
{
    const int zoom = int(state.range(0));
    const QImage& image = sheet();
    // A viewport in the middle of the zoomed sheet, not aligned to a zoom block.
    const QRect area(QPoint(image.width() * zoom / 2 + 3, image.height() * zoom / 2 + 5), kViewport);
    QImage out;
    for (auto _ : state) {
        renderZoomed(image, zoom, area, out);
        benchmark::DoNotOptimize(out.constBits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kViewport.width() * kViewport.height() * 4);
    state.counters["peak_MiB"] = peakMemoryMiB();
}

void BM_MemcpyViewport(benchmark::State& state)
{
    memcpyBaseline(state, size_t(kViewport.width()) * kViewport.height() * 4);
    state.counters["peak_MiB"] = peakMemoryMiB();
}

}  // namespace

BENCHMARK(BM_MemcpyViewport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintViewport)->Arg(1)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
