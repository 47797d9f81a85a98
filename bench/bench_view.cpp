// Repainting a 1920 x 1080 viewport of a 16384 x 16384 sheet at zoom 1, 4 and 10, beside a memcpy
// of the viewport's bytes. The repaint must not cost more at zoom 10 than at zoom 1, and the peak
// memory must not grow with the zoom. Also what one mouse move of a block drag costs the window.
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <chrono>

#include "bench_support.h"
#include "view/zoom_canvas.h"
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

// One mouse move while a selected block of 128 x 128 tiles of 16 pixels is dragged over the sheet
// at zoom 1, in a 1920 x 1080 view: the target mark moves one tile and the selection frame stays;
// the time is that of setting the marks and painting what they changed, as the event loop does.
void BM_DragMarksOneMove(benchmark::State& state)
{
    QScrollArea view;
    view.resize(kViewport);
    auto* canvas = new ZoomCanvas(qRgb(128, 128, 128));
    canvas->resize(kSheetSide, kSheetSide);
    canvas->showImage(&sheet(), 1);
    view.setWidget(canvas);
    view.show();
    view.horizontalScrollBar()->setValue(kSheetSide / 2);
    view.verticalScrollBar()->setValue(kSheetSide / 2);
    QApplication::processEvents();

    constexpr int kBlock = 128 * 16;
    const QRect selection(kSheetSide / 2 - 600, kSheetSide / 2 - 900, kBlock, kBlock);
    canvas->setSelectionFrame(selection);
    QApplication::processEvents();
    int step = 0;
    double seconds = 0;
    for (auto _ : state) {
        const QRect target = selection.translated(400 + 16 * (step++ % 2), 300);
        const auto start = std::chrono::steady_clock::now();
        canvas->setDragMarks({}, target);
        canvas->setSelectionFrame(selection);
        QApplication::processEvents();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double perMove = seconds / double(state.iterations());
    state.counters["ms_per_move"] = perMove * 1000.0;
    state.counters["vs_memcpy_viewport"] =
        perMove / memcpySeconds(size_t(kViewport.width()) * kViewport.height() * 4);
}

}  // namespace

BENCHMARK(BM_DragMarksOneMove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyViewport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintViewport)->Arg(1)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
// The drag benchmark needs widgets; without a display they are drawn offscreen.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
