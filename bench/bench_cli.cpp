// The command line end to end, process start included: "tilegrid grid add" (and "grid extrude")
// on one 4096 x 4096 sheet and on 64 sheets of 512 x 512 (one job, then one per core), beside
// ImageMagick doing the same grid with its separable-strip recipe in the same run. After the
// benchmarks a summary gives the ratios, so they come from one run on whatever load the machine
// has. In-process steps on the large sheet (decode, grid, PNG and BMP encode) show which part
// dominates.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "bench_support.h"
#include "document/image_decoder.h"
#include "document/sheet_files.h"
#include "grid/grid_transform.h"
#include "tilemap/tile_dedupe.h"

namespace {

constexpr int kLargeSide = 4096;
constexpr int kSmallSide = 512;
constexpr int kSmallCount = 64;
const QRgb kMagenta = qRgb(255, 0, 255);

struct Inputs {
    QTemporaryDir folder;
    QString large;
    QStringList small;
    QString convert;  // ImageMagick's convert, empty when not installed
};

Inputs& inputs()
{
    static Inputs in;
    return in;
}

struct Timing {
    double wall = 0;  // seconds per run
    double cpu = 0;  // processor seconds per run, of this process and the programs it ran
    qint64 bytes = 0;  // size of the file written, when there is one
};

// Per benchmark, for the summary.
std::map<std::string, Timing>& timings()
{
    static std::map<std::string, Timing> t;
    return t;
}

// Processor seconds used so far by this process and by the children it has waited for. On a
// machine shared with other work the wall clock stretches; this does not.
double processorSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// A sheet as pixel art looks: 16 x 16 tiles drawn from a few dozen designs in a 16-colour palette,
// with flat areas, outlines and dithered patches, so PNG compresses it as it would a real one.
QImage pixelArtSheet(int side, unsigned seed)
{
    std::mt19937 random(seed);
    QRgb palette[16];
    for (QRgb& colour : palette)
        colour = qRgb(int(random() % 256), int(random() % 256), int(random() % 256));
    constexpr int kDesigns = 48;
    QImage designs(16 * kDesigns, 16, QImage::Format_RGB32);
    for (int d = 0; d < kDesigns; ++d) {
        const QRgb background = palette[random() % 16];
        const QRgb ink = palette[random() % 16];
        const QRgb shade = palette[random() % 16];
        const int x0 = int(random() % 8), y0 = int(random() % 8);
        const int x1 = x0 + 4 + int(random() % 5), y1 = y0 + 4 + int(random() % 5);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                const bool edge = inside && (x == x0 || y == y0 || x == x1 - 1 || y == y1 - 1);
                QRgb colour = edge ? ink : inside ? shade : background;
                if (!inside && d % 3 == 0 && y > 10 && (x + y) % 2 == 0)
                    colour = shade;  // a dithered ground
                designs.setPixel(16 * d + x, y, colour);
            }
    }
    designs = designs.convertToFormat(QImage::Format_BGR888);
    QImage sheet(side, side, QImage::Format_BGR888);
    for (int ty = 0; ty < side / 16; ++ty)
        for (int tx = 0; tx < side / 16; ++tx) {
            const int d = int(random() % kDesigns);
            for (int y = 0; y < 16; ++y)
                std::memcpy(sheet.scanLine(ty * 16 + y) + tx * 16 * 3,
                            designs.constScanLine(y) + d * 16 * 3, 16 * 3);
        }
    return sheet;
}

void prepareInputs()
{
    Inputs& in = inputs();
    // KEEP_BENCH_FILES=1 leaves the sheets and results behind, to look at.
    if (qEnvironmentVariableIsSet("KEEP_BENCH_FILES")) {
        in.folder.setAutoRemove(false);
        std::printf("files in %s\n", qPrintable(in.folder.path()));
    }
    in.large = in.folder.filePath(QStringLiteral("large.png"));
    // The inputs are written fast (Qt's writer at low compression): how they were made does not
    // matter, only that both programs decode the same file.
    pixelArtSheet(kLargeSide, 1).save(in.large, "PNG", 80);
    QDir(in.folder.path()).mkdir(QStringLiteral("small"));
    for (int i = 0; i < kSmallCount; ++i) {
        const QString path =
            in.folder.filePath(QStringLiteral("small/s%1.png").arg(i, 2, 10, QLatin1Char('0')));
        pixelArtSheet(kSmallSide, 100 + unsigned(i)).save(path, "PNG", 80);
        in.small << path;
    }
    in.convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
}

bool runProcess(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Times each iteration by the wall clock (the work of most is in child processes), keeps the mean
// under key for the summary and reports it as a multiple of a memcpy of the result's bytes.
template <typename Work>
void timeRuns(benchmark::State& state, const std::string& key, size_t resultBytes, Work work)
{
    double total = 0;
    const double cpuBefore = processorSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) {
            state.SkipWithError("the program failed");
            return;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double mean = total / double(state.iterations());
    const double cpu = (processorSeconds() - cpuBefore) / double(state.iterations());
    timings()[key] = Timing{mean, cpu, 0};
    state.counters["x_memcpy"] = mean / memcpySeconds(resultBytes);
    state.counters["cpu_s"] = cpu;
}

size_t griddedBytes(int side, int count = 1)
{
    const size_t gridded = size_t(side + side / 16);
    return gridded * gridded * 4 * size_t(count);
}

QString tilegrid()
{
    return QStringLiteral(TILEGRID_PROGRAM_PATH);
}

QString outputPath(const char* name)
{
    return inputs().folder.filePath(QLatin1StringView(name));
}

// ImageMagick's separable-strip recipe for the same grid: cut tile-wide columns, splice a line
// of the grid colour on the right of each, join them; then the same for rows. extra sets the
// output's encoding, resources the memory it may use before falling back to disk.
QStringList magickGrid(const QString& input, const QString& output, const QStringList& resources,
                       const QStringList& extra)
{
    return resources + QStringList{input} +
           QStringList{"-crop",   "16x",      "+repage", "-background", "magenta", "-gravity",
                       "East",    "-splice",  "1x0",     "+append",     "-crop",   "x16",
                       "+repage", "-gravity", "South",   "-splice",     "0x1",     "-append"} +
           extra + QStringList{output};
}

// Pixel for pixel, whatever else the files say (palette, colour space chunks).
bool samePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row)
        if (std::memcmp(x.constScanLine(row), y.constScanLine(row), size_t(x.width()) * 4) != 0)
            return false;
    return true;
}

const QStringList kMoreMemory{"-limit", "memory", "2GiB", "-limit", "map", "4GiB"};

void BM_TilegridStart(benchmark::State& state)
{
    timeRuns(state, "start", griddedBytes(kLargeSide),
             [] { return runProcess(tilegrid(), {QStringLiteral("--version")}); });
}

// range(0): 0 writes PNG, 1 BMP.
void BM_TilegridLarge(benchmark::State& state)
{
    const bool png = state.range(0) == 0;
    const QString output = outputPath(png ? "tg-large.png" : "tg-large.bmp");
    const std::string key = png ? "tilegrid png" : "tilegrid bmp";
    timeRuns(state, key, griddedBytes(kLargeSide), [&] {
        return runProcess(tilegrid(), {"grid", "add", "--quiet", inputs().large, "-o", output});
    });
    timings()[key].bytes = QFileInfo(output).size();
    state.SetLabel(png ? "PNG out" : "BMP out");
}

// grid extrude on the same sheet by 1 pixel, PNG out: it writes (18/17)² times the pixels of the
// grid, and should take at most 1.5 times as long.
void BM_TilegridExtrudeLarge(benchmark::State& state)
{
    const QString output = outputPath("tg-extruded.png");
    const size_t side = size_t(kLargeSide / 16 * 18);
    timeRuns(state, "tilegrid extrude", side * side * 4, [&] {
        return runProcess(tilegrid(), {"grid", "extrude", "--quiet", inputs().large, "-o", output});
    });
    timings()["tilegrid extrude"].bytes = QFileInfo(output).size();
    state.SetLabel("PNG out");
}

// range(0): 0 its default PNG (zlib 7, adaptive filters), 1 zlib 1 and no filter (-quality 10),
// 2 zlib 9 and no filter as our writer (-quality 90), 3 BMP; range(1): 1 with memory enough to
// keep its strips off the disk.
void BM_MagickLarge(benchmark::State& state)
{
    if (inputs().convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    static const char* const kLabels[] = {"PNG default", "PNG -quality 10", "PNG -quality 90",
                                          "BMP"};
    const QStringList extra = state.range(0) == 1   ? QStringList{"-quality", "10"}
                              : state.range(0) == 2 ? QStringList{"-quality", "90"}
                                                    : QStringList{};
    const QString output = outputPath(state.range(0) == 3 ? "im-large.bmp" : "im-large.png");
    const QString ours = outputPath(state.range(0) == 3 ? "tg-large.bmp" : "tg-large.png");
    const QStringList arguments =
        magickGrid(inputs().large, output, state.range(1) ? kMoreMemory : QStringList{}, extra);
    const std::string label =
        QStringLiteral("%1%2")
            .arg(QLatin1StringView(kLabels[state.range(0)]),
                 state.range(1) ? QStringLiteral(", -limit memory 2GiB") : QString())
            .toStdString();
    timeRuns(state, "magick " + label, griddedBytes(kLargeSide),
             [&] { return runProcess(inputs().convert, arguments); });
    timings()["magick " + label].bytes = QFileInfo(output).size();
    // The same grid, pixel for pixel, or the comparison means nothing.
    const bool same = samePixels(loadImageFile(output).image, loadImageFile(ours).image);
    state.SetLabel(label + (same ? "" : " (PIXELS DIFFER from tilegrid's)"));
}

// range(0): --jobs; 0 means one per core.
void BM_TilegridSmall(benchmark::State& state)
{
    const int jobs = state.range(0) > 0 ? int(state.range(0)) : QThread::idealThreadCount();
    const QString outDir = outputPath("tg-small");
    timeRuns(state, state.range(0) == 1 ? "tilegrid 64 one job" : "tilegrid 64 all cores",
             griddedBytes(kSmallSide, kSmallCount), [&] {
                 return runProcess(tilegrid(),
                                   QStringList{"grid", "add", "--quiet", "--jobs",
                                               QString::number(jobs), "--out-dir", outDir} +
                                       inputs().small);
             });
    state.SetLabel(QStringLiteral("--jobs %1").arg(jobs).toStdString());
}

// One convert per sheet with its fastest settings; range(0) 0 one after another, 1 one per core
// at a time.
void BM_MagickSmall(benchmark::State& state)
{
    if (inputs().convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    const QString outDir = outputPath("im-small");
    QDir().mkpath(outDir);
    const int parallel = state.range(0) ? QThread::idealThreadCount() : 1;
    timeRuns(state, parallel > 1 ? "magick 64 all cores" : "magick 64 one at a time",
             griddedBytes(kSmallSide, kSmallCount), [&] {
                 for (int first = 0; first < kSmallCount; first += parallel) {
                     std::vector<std::unique_ptr<QProcess>> running;
                     for (int i = first; i < std::min(first + parallel, kSmallCount); ++i) {
                         running.push_back(std::make_unique<QProcess>());
                         running.back()->start(
                             inputs().convert,
                             magickGrid(inputs().small[i],
                                        outDir + QStringLiteral("/s%1.png").arg(i), kMoreMemory,
                                        {"-quality", "10"}));
                     }
                     for (auto& process : running)
                         if (!process->waitForFinished(-1) || process->exitCode() != 0)
                             return false;
                 }
                 return true;
             });
    state.SetLabel(parallel > 1 ? "PNG -quality 10, one per core at a time"
                                : "PNG -quality 10, one after another");
}

// The steps of one large-sheet run inside one process, to see which part dominates.
void BM_StepDecode(benchmark::State& state)
{
    timeRuns(state, "step decode", griddedBytes(kLargeSide),
             [] { return loadImageFile(inputs().large).ok(); });
}

void BM_StepGrid(benchmark::State& state)
{
    const QImage sheet = loadImageFile(inputs().large).image;
    timeRuns(state, "step grid", griddedBytes(kLargeSide),
             [&] { return insertGrid(sheet, 16, kMagenta).ok(); });
}

// range(0): 0 PNG, 1 BMP.
void BM_StepSave(benchmark::State& state)
{
    const QImage gridded = insertGrid(loadImageFile(inputs().large).image, 16, kMagenta).image;
    const bool png = state.range(0) == 0;
    const QString path = outputPath(png ? "step.png" : "step.bmp");
    timeRuns(state, png ? "step save png" : "step save bmp", griddedBytes(kLargeSide), [&] {
        return saveImageFile(gridded, path, png ? ImageFileFormat::Png : ImageFileFormat::Bmp)
            .isEmpty();
    });
    state.SetLabel(png ? "PNG" : "BMP");
}

// Dedupe of the large sheet, decoded already and not encoded: range(0) 1 with flips; range(1) 0
// the pixel-art sheet (few designs, many duplicates), 1 a sheet of noise (every tile its own, so
// every kept tile is hashed in all its turns); range(2) 0 its 65,536 tiles of 16 x 16, 1 its
// 8,192 tiles of 32 x 64 (the same bytes; only the mirrors are flips).
void BM_StepDedupe(benchmark::State& state)
{
    QImage sheet = pixelArtSheet(kLargeSide, 1);
    if (state.range(1) == 1) {
        std::mt19937 random(9);
        for (int y = 0; y < sheet.height(); ++y)
            for (qsizetype x = 0; x < sheet.bytesPerLine(); ++x)
                sheet.scanLine(y)[x] = uchar(random());
    }
    const bool flips = state.range(0) == 1;
    const TileShape tile = state.range(2) == 0 ? TileShape(16) : TileShape(32, 64);
    size_t kept = 0;
    const std::string name = std::string(flips ? "step dedupe flips" : "step dedupe") +
                             (tile.square() ? "" : " 32x64");
    timeRuns(state, name, size_t(sheet.sizeInBytes()), [&] {
        const TileDuplicates groups = findDuplicateTiles(sheet, tile, tile, flips);
        kept = groups.kept.size();
        return !packTiles(sheet, groups.kept, tile, kLargeSide / tile.width).isNull();
    });
    state.SetLabel(std::string(state.range(1) ? "noise" : "pixel art") +
                   (flips ? ", --flips" : "") + ", " + tileText(tile).toStdString() + ", " +
                   std::to_string(kept) + " kept");
}

// sheet merge of 30 sheets of 256 tiles of 16 x 16 (external tilesets), --used-by 36 maps of
// 150 x 150 cells that each name 10 of them and show half their tiles, with --dedupe --flips:
// end to end, at most 2 s wanted.
void BM_TilegridMergeUsedBy(benchmark::State& state)
{
    constexpr int kSheets = 30, kMaps = 36, kSide = 150, kNamed = 10;
    const QString folder = outputPath("merge");
    QDir().mkpath(folder + QStringLiteral("/maps"));
    QStringList arguments{"sheet", "merge", "--quiet", "--dedupe", "--flips"};
    for (int n = 0; n < kSheets; ++n) {
        const QString name = QStringLiteral("s%1").arg(n);
        pixelArtSheet(256, 500 + unsigned(n)).save(folder + u'/' + name + ".png", "PNG", 80);
        QFile tsx(folder + u'/' + name + ".tsx");
        if (!tsx.open(QIODevice::WriteOnly))
            return state.SkipWithError("the tilesets cannot be written");
        tsx.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset "
                                 "version=\"1.10\" name=\"%1\" tilewidth=\"16\" "
                                 "tileheight=\"16\" tilecount=\"256\" columns=\"16\">\n <image "
                                 "source=\"%1.png\" width=\"256\" height=\"256\"/>\n"
                                 "</tileset>\n")
                      .arg(name)
                      .toUtf8());
        arguments << folder + u'/' + name + ".png";
    }
    arguments << "--used-by";
    std::mt19937 random(77);
    for (int m = 0; m < kMaps; ++m) {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.10\" "
                          "orientation=\"orthogonal\" renderorder=\"right-down\" width=\"150\" "
                          "height=\"150\" tilewidth=\"16\" tileheight=\"16\" infinite=\"0\">\n";
        for (int k = 0; k < kNamed; ++k)
            text += " <tileset firstgid=\"" + QByteArray::number(1 + 256 * k) +
                    "\" source=\"../s" + QByteArray::number((m + 3 * k) % kSheets) + ".tsx\"/>\n";
        text += " <layer id=\"1\" name=\"ground\" width=\"150\" height=\"150\">\n  <data "
                "encoding=\"csv\">\n";
        for (int cell = 0; cell < kSide * kSide; ++cell)
            text += QByteArray::number(1 + 256 * (random() % kNamed) + random() % 128) +
                    (cell + 1 < kSide * kSide ? "," : "\n");
        text += "</data>\n </layer>\n</map>\n";
        const QString map = folder + QStringLiteral("/maps/m%1.tmx").arg(m);
        QFile file(map);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return state.SkipWithError("the maps cannot be written");
        arguments << map;
    }
    arguments << "-o" << folder + "/atlas.png" << "--remap-out" << folder + "/atlas.remap";
    timeRuns(state, "tilegrid merge", size_t(kSheets) * 256 * 256 * 3,
             [&] { return runProcess(tilegrid(), arguments); });
}

void BM_MemcpyLargeResult(benchmark::State& state)
{
    memcpyBaseline(state, griddedBytes(kLargeSide));
}

void printSummary()
{
    const auto& t = timings();
    const auto get = [&](const std::string& key) {
        const auto found = t.find(key);
        return found == t.end() ? Timing{} : found->second;
    };
    const auto line = [](const char* what, Timing ours, Timing theirs, const std::string& how) {
        if (ours.wall > 0 && theirs.wall > 0)
            std::printf("%-22s tilegrid %6.2f s (cpu %5.2f)   ImageMagick %6.2f s (cpu %5.2f)   "
                        "ratio %.2f (cpu %.2f)   %s\n",
                        what, ours.wall, ours.cpu, theirs.wall, theirs.cpu, ours.wall / theirs.wall,
                        ours.cpu / theirs.cpu, how.c_str());
        if (ours.bytes > 0 && theirs.bytes > 0)
            std::printf("%-22s file sizes: tilegrid %.1f MB, ImageMagick %.1f MB\n", "",
                        double(ours.bytes) / 1e6, double(theirs.bytes) / 1e6);
    };
    std::printf("\n== Summary: seconds per run, wall clock and processor; ratio = tilegrid / "
                "ImageMagick\n");
    std::string bestKey;
    for (const auto& [key, timing] : t)
        if (key.rfind("magick PNG", 0) == 0 &&
            (bestKey.empty() || timing.wall < t.at(bestKey).wall))
            bestKey = key;
    if (!bestKey.empty())
        line("4096 x 4096 to PNG", get("tilegrid png"), t.at(bestKey), bestKey.substr(7));
    line("4096 x 4096 to BMP", get("tilegrid bmp"), get("magick BMP, -limit memory 2GiB"), "BMP");
    line("64 x 512 x 512, 1 job", get("tilegrid 64 one job"), get("magick 64 one at a time"),
         "one convert after another");
    line("64 x 512 x 512, cores", get("tilegrid 64 all cores"), get("magick 64 all cores"),
         "one convert per core at a time");
    const Timing one = get("tilegrid 64 one job");
    const Timing all = get("tilegrid 64 all cores");
    if (one.wall > 0 && all.wall > 0)
        std::printf("tilegrid 64 sheets: --jobs 1 %.2f s, --jobs %d %.2f s: speed-up %.2f on %d "
                    "cores\n",
                    one.wall, QThread::idealThreadCount(), all.wall, one.wall / all.wall,
                    QThread::idealThreadCount());
    const Timing extrude = get("tilegrid extrude");
    if (extrude.wall > 0 && get("tilegrid png").wall > 0)
        std::printf("4096 x 4096 grid extrude %.2f s (cpu %.2f), grid add %.2f s (cpu %.2f): ratio "
                    "%.2f (cpu %.2f), at most 1.5 wanted\n",
                    extrude.wall, extrude.cpu, get("tilegrid png").wall, get("tilegrid png").cpu,
                    extrude.wall / get("tilegrid png").wall, extrude.cpu / get("tilegrid png").cpu);
    if (get("tilegrid png").wall > 0)
        std::printf("tilegrid 4096 x 4096 PNG run by step: start %.2f s, decode %.2f s, grid "
                    "%.3f s, PNG save %.2f s (BMP save %.2f s)\n",
                    get("start").wall, get("step decode").wall, get("step grid").wall,
                    get("step save png").wall, get("step save bmp").wall);
    if (const Timing merge = get("tilegrid merge"); merge.wall > 0)
        std::printf("sheet merge of 30 sheets --used-by 36 maps --dedupe --flips: %.2f s (cpu "
                    "%.2f), at most 2 s wanted\n",
                    merge.wall, merge.cpu);
}

}  // namespace

BENCHMARK(BM_TilegridStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TilegridLarge)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_TilegridExtrudeLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MagickLarge)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_TilegridSmall)
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_MagickSmall)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_StepDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StepGrid)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StepSave)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_StepDedupe)
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 0})
    ->Args({1, 1, 0})
    ->Args({0, 0, 1})
    ->Args({1, 1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_TilegridMergeUsedBy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MemcpyLargeResult)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    prepareInputs();
    benchmark::RunSpecifiedBenchmarks();
    printSummary();
    benchmark::Shutdown();
    return 0;
}
