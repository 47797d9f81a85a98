// The whole program on a 32767 x 16384 sheet, step by step through the real window (offscreen):
// open it, zoom to 10, swap two tiles, restore, insert and remove the grid, save it. Each step runs
// once; it reports its time and the process's peak memory, to be read against the sheet's own
// bytes (sheet_MiB). A grid cannot be inserted into a sheet this wide (the result would pass 32767
// pixels), so that refusal is a step of its own and the grid steps then run on the widest sheet
// that can take a grid.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollArea>
#include <chrono>
#include <cstdio>
#include <deque>

#include "app/app_state.h"
#include "app/main_window.h"
#include "bench_support.h"
#include "document/bmp_writer.h"
#include "platform/dialogs.h"

namespace {

constexpr int kWidth = 32767;
constexpr int kHeight = 16384;
constexpr int kGriddableWidth = 30832;  // 1927 tiles of 16: 1927 * 17 = 32759 with a grid

// Answers every question as the steps need; errors are kept to be reported.
class BenchDialogs : public Dialogs {
public:
    std::deque<FileChoice> files;
    QStringList errors;
    FileChoice chooseOpenFile(const QString&, const QString&, const QString&) override
    {
        return next();
    }
    FileChoice chooseSaveFile(const QString&, const QString&, const QString&) override
    {
        return next();
    }
    QStringList chooseOpenFiles(const QString&, const QString&, const QString&) override
    {
        return {};
    }
    std::optional<QRgb> chooseColor(QRgb) override { return std::nullopt; }
    bool askYesNo(const QString&) override { return true; }
    GridAnswer askGridLayout() override { return GridAnswer::NoGrid; }
    UnsavedAnswer askUnsaved(const QString&) override { return UnsavedAnswer::Discard; }
    OutdatedSheetAnswer askOutdatedSheet(const QString&) override
    {
        return OutdatedSheetAnswer::Cancel;
    }
    std::optional<TileSizeAnswer> askTileSize(TileShape) override { return std::nullopt; }
    void showAbout(const QString&) override {}
    void showError(const QString& text) override { errors << text; }
    void showInfo(const QString&) override {}

private:
    FileChoice next()
    {
        FileChoice choice = files.empty() ? FileChoice{} : files.front();
        if (!files.empty())
            files.pop_front();
        return choice;
    }
};

struct Session {
    QString folder;
    AppState state;
    BenchDialogs dialogs;
    std::unique_ptr<MainWindow> window;
};

Session& session()
{
    static Session s;
    return s;
}

// Paints the visible part of the view, as the screen would after the step.
void paintView()
{
    QWidget* viewport = session().window->viewScrollArea->viewport();
    benchmark::DoNotOptimize(viewport->grab().toImage().constBits());
}

QString writeSheetFile()
{
    // Straight into BMP rows, so that making the sheet does not itself set the memory peak.
    QImage sheet(kWidth, kHeight, QImage::Format_BGR888);
    for (int y = 0; y < kHeight; ++y) {
        uchar* row = sheet.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = uchar(x * 7);
            row[3 * x + 1] = uchar(y * 5);
            row[3 * x + 2] = uchar((x / 16) ^ (y / 16));
        }
    }
    const QString path = session().folder + QStringLiteral("/sheet.bmp");
    QFile file(path);
    QString error;
    if (!file.open(QIODevice::WriteOnly) || !writeBmp(sheet, file, error))
        qFatal("cannot write the bench sheet: %s", qPrintable(error));
    return path;
}

template <typename Step>
void runStep(benchmark::State& state, Step step)
{
    resetPeakMemory();
    const qsizetype errorsBefore = session().dialogs.errors.size();
    for (auto _ : state)
        step();
    state.counters["peak_MiB"] = peakMemorySinceResetMiB();
    state.counters["sheet_MiB"] =
        double(session().state.document.workingImage().sizeInBytes()) / (1024.0 * 1024.0);
    state.counters["refused"] = double(session().dialogs.errors.size() - errorsBefore);
    if (session().dialogs.errors.size() > errorsBefore)
        state.SetLabel(session().dialogs.errors.last().left(70).toStdString());
}

void BM_Open(benchmark::State& state)
{
    const QString path = writeSheetFile();
    session().dialogs.files = {{path, 0}};
    runStep(state, [] {
        session().window->dispatch().onOpenImage();
        paintView();
    });
}

void BM_ZoomToTen(benchmark::State& state)
{
    runStep(state, [] {
        for (int step = 0; step < 9; ++step)
            session().window->dispatch().onWheel(120);
        paintView();
    });
}

void BM_Swap(benchmark::State& state)
{
    runStep(state, [] {
        Dispatch& dispatch = session().window->dispatch();
        dispatch.onCanvasPress(QPoint(5, 5));
        dispatch.onCanvasRelease(QPoint(1000 * 160 + 5, 500 * 160 + 5));
        paintView();
    });
}

void BM_Restore(benchmark::State& state)
{
    runStep(state, [] {
        session().window->dispatch().onResetMap();
        paintView();
    });
}

void BM_InsertGridRefused(benchmark::State& state)
{
    runStep(state, [] { session().window->dispatch().onAddGrid(); });
}

void BM_InsertGrid(benchmark::State& state)
{
    Document& doc = session().state.document;
    doc.replaceSheet(doc.workingImage().copy(0, 0, kGriddableWidth, kHeight), 16, 0);
    runStep(state, [] {
        session().window->dispatch().onAddGrid();
        paintView();
    });
}

void BM_RemoveGrid(benchmark::State& state)
{
    runStep(state, [] {
        session().window->dispatch().onRemoveGrid();
        paintView();
    });
}

void BM_SaveBmp(benchmark::State& state)
{
    session().dialogs.files = {{session().folder + QStringLiteral("/saved"), 1}};
    runStep(state, [] { session().window->dispatch().onSaveImage(); });
}

void BM_SavePng(benchmark::State& state)
{
    session().dialogs.files = {{session().folder + QStringLiteral("/saved"), 0}};
    runStep(state, [] { session().window->dispatch().onSaveImage(); });
}

}  // namespace

#define STEP(fn) BENCHMARK(fn)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime()
STEP(BM_Open);
STEP(BM_ZoomToTen);
STEP(BM_Swap);
STEP(BM_Restore);
STEP(BM_InsertGridRefused);
STEP(BM_InsertGrid);
STEP(BM_RemoveGrid);
STEP(BM_SaveBmp);
STEP(BM_SavePng);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString folder = QDir::tempPath() + QStringLiteral("/tilegrid-large-sheet");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    session().folder = folder;
    session().window = std::make_unique<MainWindow>(session().state, session().dialogs);
    session().window->resize(1920, 1080);
    session().window->show();
    session().window->refreshControls();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session().window.reset();
    QDir(folder).removeRecursively();
    return 0;
}
