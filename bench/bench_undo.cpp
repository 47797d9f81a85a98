// Undo and redo of each kind of step on a 4096 x 4096 sheet, beside a memcpy of the sheet's bytes
// (vs_memcpy: the time of one undo or redo over one memcpy of the larger of the two images). A
// swap is timed at two sheet sizes to show it does not grow with the sheet. BM_HistoryMemory takes
// 200 random steps and reports what the history keeps as a share of the sheet's bytes.
#include <chrono>
#include <random>

#include "bench_support.h"
#include "document/document.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A sheet whose tiles were moved many times, so that a restore has real work.
void shuffle(Document& doc, int swaps, unsigned seed)
{
    std::mt19937 random(seed);
    const TileMap& map = doc.tileMap();
    std::uniform_int_distribution<int> column(0, map.columns() - 1), row(0, map.rows() - 1);
    for (int i = 0; i < swaps; ++i)
        doc.swapTiles(column(random), row(random), column(random), row(random));
}

// Times undo and redo of the newest step in turn; counters per direction.
void timeUndoRedo(benchmark::State& state, Document& doc)
{
    double undoSeconds = 0, redoSeconds = 0;
    qsizetype largest = doc.workingImage().sizeInBytes();
    for (auto _ : state) {
        auto start = Clock::now();
        doc.undo();
        undoSeconds += since(start);
        largest = std::max(largest, doc.workingImage().sizeInBytes());
        start = Clock::now();
        doc.redo();
        redoSeconds += since(start);
    }
    const double memcpy = memcpySeconds(size_t(largest));
    const double runs = double(state.iterations());
    state.counters["undo_ms"] = undoSeconds / runs * 1e3;
    state.counters["redo_ms"] = redoSeconds / runs * 1e3;
    state.counters["undo_vs_memcpy"] = undoSeconds / runs / memcpy;
    state.counters["redo_vs_memcpy"] = redoSeconds / runs / memcpy;
}

void BM_UndoRedoSwap(benchmark::State& state)
{
    Document doc;
    const int side = int(state.range(0));
    doc.replaceSheet(makeBenchSheet(side, side), 16, 0);
    shuffle(doc, 1, 1);
    timeUndoRedo(state, doc);
    state.counters["undo_us"] = state.counters["undo_ms"] * 1e3;
}

void BM_UndoRedoResetMap(benchmark::State& state)
{
    Document doc;
    doc.replaceSheet(makeBenchSheet(4096, 4096), int(state.range(0)), 0);
    shuffle(doc, 20000, 2);
    doc.resetMap();
    timeUndoRedo(state, doc);
}

void BM_UndoRedoInsertGrid(benchmark::State& state)
{
    Document doc;
    doc.replaceSheet(makeBenchSheet(4096, 4096), int(state.range(0)), 0);
    doc.insertGrid();
    timeUndoRedo(state, doc);
}

void BM_UndoRedoRemoveGrid(benchmark::State& state)
{
    Document doc;
    doc.replaceSheet(makeBenchSheet(4096, 4096), int(state.range(0)), 0);
    doc.insertGrid();
    doc.removeGrid();
    timeUndoRedo(state, doc);
}

void BM_HistoryMemory(benchmark::State& state)
{
    for (auto _ : state) {
        Document doc;
        doc.replaceSheet(makeBenchSheet(4096, 4096), 16, 0);
        const double sheetBytes = double(doc.workingImage().sizeInBytes());
        std::mt19937 random(3);
        for (int step = 0; step < 200; ++step) {
            switch (random() % 6) {
            case 0:
            case 1:
                shuffle(doc, 1, unsigned(random()));
                break;
            case 2:
                doc.gridFlag() ? doc.removeGrid() : doc.insertGrid();
                break;
            case 3:
                doc.resetMap();
                break;
            case 4:
                if (!doc.gridFlag())
                    doc.changeTileMode(doc.tileSize() == 8 ? 16 : 8, random() % 2);
                break;
            default:
                random() % 2 ? doc.undo() : doc.redo();
            }
        }
        state.counters["steps_kept"] = doc.history().count();
        state.counters["history_MiB"] = double(doc.history().keptBytes()) / (1 << 20);
        state.counters["vs_sheet"] = double(doc.history().keptBytes()) / sheetBytes;
    }
}

}  // namespace

BENCHMARK(BM_UndoRedoSwap)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoRedoResetMap)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoRedoInsertGrid)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoRedoRemoveGrid)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
