// Image files in and out on 4096 x 4096 sheets at 24 and 32 bits, beside a memcpy of the image's
// bytes. Two kinds of sheet (art): 0 is the generated pixel-art sheet, flat and repetitive; 1 is
// made of a released game's real tiles, each once, as a tile sheet holds them. Counters:
// vs_memcpy (one operation over one memcpy of the image's bytes, measured in the same run) and
// file_KiB (the size of the file written or read). PNG saving is also set
// against a plain libpng writer at zlib level 9 with filter None, the way this program saved before
// (BM_SavePngZlib9 with filters:0): vs_zlib9 (time), cpu_vs_zlib9 (processor time of all
// threads) and size_vs_zlib9. That is the fairest plain reference: with libpng's own filter
// choice (filters:1, its rows' smallest sum of absolute differences) zlib 9 takes about twice the
// time for files a third larger on both sheets. BM_SavePngCompression saves with the three
// compression choices (compression 0 fast, 1 small, 2 smallest). PNG opening is set against Qt's reader
// followed by the conversion to 24 bits (BM_DecodePngQt, the way it opened before): vs_qt.
// BM_OpenGridSave opens a PNG sheet, inserts a 16 x 16 grid and saves it as PNG, and sets that
// against ImageMagick doing the same on the same file (BM_ImageMagickGrid, skipped without
// `convert`): vs_imagemagick.
// bits 33 stands for a 32-bit sheet with straight alpha (transparent background around pixel art,
// the game tiles' own transparency), saved as it is and opened keeping it: vs_opaque32 sets it
// against the same art at 32 bits, opaque, opened as ever.
// BM_SaveRawFile writes as many bytes through the same temporary-file route: the disk's share.
// The benchmarks named Large save a 32767 x 16384 sheet and need about 8 GB of memory; they run
// only when asked for: --benchmark_filter=Large.
#include <png.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <csetjmp>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench_support.h"
#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/image_decoder.h"
#include "document/png_writer.h"
#include "grid/grid_transform.h"

namespace {

constexpr int kSide = 4096;
constexpr int kAlphaBits = 33;  // 32 bits with straight alpha
constexpr int kLargeWidth = 32767;
constexpr int kLargeHeight = 16384;

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The sheets the benchmarks run on: art 0 is makePixelArtSheet's, art 1 real game tiles
// (makeGameTileSheet, null when they are not installed).
enum Art { kPixelArt = 0, kGameTiles = 1 };
using SheetKey = std::tuple<int, int, bool>;  // bits, art, large

const QImage& sheet(int bits, int art = kPixelArt, bool large = false)
{
    static std::map<SheetKey, QImage> made;
    const SheetKey key{bits, art, large};
    if (const auto it = made.find(key); it != made.end())
        return it->second;
    if (large)
        made.clear();  // one large sheet at a time
    const int width = large ? kLargeWidth : kSide;
    const int height = large ? kLargeHeight : kSide;
    const QImage::Format format = bits == kAlphaBits ? QImage::Format_ARGB32
                                  : bits == 32       ? QImage::Format_RGB32
                                                     : QImage::Format_BGR888;
    if (art == kGameTiles)
        return made[key] = makeGameTileSheet(width, height, format);
    QImage image = makePixelArtSheet(width, height, format);
    // Pixel art with alpha: the background colour (the top-left pixel's) is transparent.
    if (format == QImage::Format_ARGB32 && !image.isNull()) {
        const QRgb background = image.pixel(0, 0);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (line[x] == background)
                    line[x] &= 0x00ffffffu;
        }
    }
    return made[key] = image;
}

// The seconds of one opaque 32-bit run of a benchmark, by art, for the alpha runs to compare.
double& opaque32Seconds(const char* benchmark, int art)
{
    static std::map<std::pair<std::string, int>, double> kept;
    return kept[{benchmark, art}];
}

// Keeps an opaque 32-bit run's time, or sets an alpha run's against it.
void compareAlpha(benchmark::State& state, const char* benchmark, int bits, int art, double perRun)
{
    if (bits == 32)
        opaque32Seconds(benchmark, art) = perRun;
    else if (bits == kAlphaBits && opaque32Seconds(benchmark, art) > 0)
        state.counters["vs_opaque32"] = perRun / opaque32Seconds(benchmark, art);
}

// Skips the benchmark when its sheet could not be made.
bool haveSheet(benchmark::State& state, const QImage& image)
{
    if (!image.isNull())
        return true;
    state.SkipWithError(("no game tiles in " + gameTilesFolder().toStdString()).c_str());
    return false;
}

void report(benchmark::State& state, double seconds, size_t imageBytes, qsizetype fileBytes)
{
    const double perRun = seconds / double(state.iterations());
    state.counters["vs_memcpy"] = perRun / memcpySeconds(imageBytes);
    state.counters["file_KiB"] = double(fileBytes) / 1024.0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(imageBytes));
}

// The PNG writer this program had before: libpng, zlib level 9, filter None, IHDR/IDAT/IEND;
// or, filtered, with libpng's own choice of filter for each row.
struct Sink {
    QByteArray* out;
};

void appendToSink(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<Sink*>(png_get_io_ptr(png))->out->append(reinterpret_cast<const char*>(data),
                                                         qsizetype(length));
}

void noFlush(png_structp) {}

bool encodeZlib9(const QImage* image, Sink* sink, png_bytep rowBuffer, bool filtered)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const bool alpha = image->depth() == 32;
    png_set_write_fn(png, sink, appendToSink, noFlush);
    if (!filtered)
        png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(image->width()), png_uint_32(image->height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_bgr(png);
    png_write_info(png, info);
    for (int y = 0; y < image->height(); ++y) {
        const uchar* row = image->constScanLine(y);
        if (alpha) {
            for (int x = 0; x < image->width(); ++x) {
                std::memcpy(rowBuffer + 4 * x, row + 4 * x, 3);
                rowBuffer[4 * x + 3] = 0xff;
            }
            png_write_row(png, rowBuffer);
        } else {
            png_write_row(png, row);
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

QByteArray pngZlib9(const QImage& image, bool filtered)
{
    QByteArray bytes;
    std::vector<png_byte> rowBuffer(size_t(image.width()) * 4);
    Sink sink{&bytes};
    return encodeZlib9(&image, &sink, rowBuffer.data(), filtered) ? bytes : QByteArray();
}

// Processor seconds of every thread of the process so far.
double processorSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// The zlib-9 writer's time and size per sheet, for the ratios of the new writer.
struct Reference {
    double seconds = 0;
    double processorSeconds = 0;
    qsizetype bytes = 0;
};
std::map<SheetKey, Reference>& references()
{
    static std::map<SheetKey, Reference> kept;
    return kept;
}

// Sets a save's time and size against the reference's, when it ran.
void compareZlib9(benchmark::State& state, const SheetKey& key, double seconds, double processor,
                  qsizetype bytes)
{
    if (const auto it = references().find(key); it != references().end()) {
        const double runs = double(state.iterations());
        state.counters["vs_zlib9"] = seconds / runs / it->second.seconds;
        state.counters["cpu_vs_zlib9"] = processor / runs / it->second.processorSeconds;
        state.counters["size_vs_zlib9"] = double(bytes) / double(it->second.bytes);
    }
}

void savePngZlib9(benchmark::State& state, bool large)
{
    const int bits = int(state.range(0));
    const int art = large ? kPixelArt : int(state.range(1));
    const bool filtered = !large && state.range(2) != 0;
    const QImage& image = sheet(bits, art, large);
    if (!haveSheet(state, image))
        return;
    double seconds = 0, processor = 0;
    qsizetype size = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double startProcessor = processorSeconds();
        const QByteArray png = pngZlib9(image, filtered);
        seconds += since(start);
        processor += processorSeconds() - startProcessor;
        size = png.size();
    }
    report(state, seconds, size_t(image.sizeInBytes()), size);
    const double runs = double(state.iterations());
    if (filtered)
        compareZlib9(state, {bits, art, large}, seconds, processor, size);
    else
        references()[{bits, art, large}] = {seconds / runs, processor / runs, size};
}

using Writer = std::function<bool(QIODevice& device, QString& error)>;

// Times write into memory; returns the seconds of all runs, or -1 (the benchmark skipped) when
// a run fails. bytes keeps the last file; processor, when given, gets the processor seconds.
double timeSaves(benchmark::State& state, const Writer& write, QByteArray& bytes,
                 double* processor = nullptr)
{
    QBuffer buffer(&bytes);
    double seconds = 0;
    for (auto _ : state) {
        buffer.open(QIODevice::WriteOnly);  // keeps the array's capacity from the last run
        QString error;
        const auto start = Clock::now();
        const double startProcessor = processorSeconds();
        const bool ok = write(buffer, error);
        seconds += since(start);
        if (processor)
            *processor += processorSeconds() - startProcessor;
        buffer.close();
        if (!ok) {
            state.SkipWithError(error.toUtf8().constData());
            return -1;
        }
    }
    return seconds;
}

void savePng(benchmark::State& state, bool large, const PngWriteOptions& options)
{
    const int bits = int(state.range(0));
    const int art = large ? kPixelArt : int(state.range(1));
    const QImage& image = sheet(bits, art, large);
    if (!haveSheet(state, image))
        return;
    QByteArray bytes;
    double processor = 0;
    const double seconds = timeSaves(
        state,
        [&](QIODevice& device, QString& error) { return writePng(image, device, error, options); },
        bytes, &processor);
    if (seconds < 0)
        return;
    report(state, seconds, size_t(image.sizeInBytes()), bytes.size());
    const PngWriteOptions defaults;
    if (options.level == defaults.level && options.compression == defaults.compression && !large)
        compareAlpha(state, "save", bits, art, seconds / double(state.iterations()));
    compareZlib9(state, {bits, art, large}, seconds, processor, bytes.size());
}

// The writer at a libdeflate level (range level; 0 its default).
void savePngAtLevel(benchmark::State& state, bool large)
{
    PngWriteOptions options;
    if (const int level = int(state.range(large ? 1 : 2)); level > 0)
        options.level = level;
    savePng(state, large, options);
}

void BM_SavePngZlib9(benchmark::State& state) { savePngZlib9(state, false); }
void BM_SavePng(benchmark::State& state) { savePngAtLevel(state, false); }

void BM_SavePngCompression(benchmark::State& state)
{
    PngWriteOptions options;
    options.compression = PngCompression(state.range(2));
    savePng(state, false, options);
}
void BM_SavePngZlib9Large(benchmark::State& state) { savePngZlib9(state, true); }
void BM_SavePngLarge(benchmark::State& state) { savePngAtLevel(state, true); }

QByteArray pngOf(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    writePng(image, buffer, error);
    return buffer.data();
}

double& qtDecodeSeconds(int bits, int art)
{
    static std::map<std::pair<int, int>, double> kept;
    return kept[{bits, art}];
}

// The PNG file the opening benchmarks read: the sheet as this program saves it; null, the
// benchmark skipped, when the sheet could not be made.
QByteArray pngToOpen(benchmark::State& state, int bits, int art)
{
    return haveSheet(state, sheet(bits, art)) ? pngOf(sheet(bits, art)) : QByteArray();
}

// How opening read a PNG before: Qt's reader, then a conversion to 24 bits.
void BM_DecodePngQt(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const int art = int(state.range(1));
    const QByteArray png = pngToOpen(state, bits, art);
    if (png.isNull())
        return;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        QBuffer buffer;
        buffer.setData(png);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        const QImage image = reader.read().convertToFormat(QImage::Format_BGR888);
        benchmark::DoNotOptimize(image.constBits());
        seconds += since(start);
    }
    qtDecodeSeconds(bits, art) = seconds / double(state.iterations());
    // The decoded sheet is always 24-bit, so compare with a memcpy of that.
    report(state, seconds, size_t(kSide) * kSide * 3, png.size());
}

void BM_DecodePng(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const int art = int(state.range(1));
    const QByteArray png = pngToOpen(state, bits, art);
    if (png.isNull())
        return;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const DecodeResult result =
            decodeImageData(png, QStringLiteral("bench.png"),
                            bits == kAlphaBits ? Transparency::Keep : Transparency::OverBlack);
        benchmark::DoNotOptimize(result.image.constBits());
        seconds += since(start);
        if (!result.ok()) {
            state.SkipWithError(result.error.toUtf8().constData());
            return;
        }
    }
    report(state, seconds, size_t(kSide) * kSide * 3, png.size());
    compareAlpha(state, "open", bits, art, seconds / double(state.iterations()));
    if (qtDecodeSeconds(bits, art) > 0)
        state.counters["vs_qt"] = seconds / double(state.iterations()) / qtDecodeSeconds(bits, art);
}

void BM_SaveBmp(benchmark::State& state)
{
    const QImage& image = sheet(int(state.range(0)));
    QByteArray bytes;
    const double seconds = timeSaves(
        state, [&](QIODevice& device, QString& error) { return writeBmp(image, device, error); },
        bytes);
    if (seconds >= 0)
        report(state, seconds, size_t(image.sizeInBytes()), bytes.size());
}

QString benchPath(const char* name)
{
    return QDir::temp().filePath(QStringLiteral("tilegrid_bench_image_io_") + QLatin1String(name));
}

// The whole BMP save as the program does it: temporary file, write, rename.
void BM_SaveBmpFile(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QImage& image = sheet(bits);
    const QString path = benchPath("saved.bmp");
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const QString error = writeFileAtomically(path, [&](QIODevice& device, QString& reason) {
            return writeBmp(image, device, reason);
        });
        seconds += since(start);
        if (!error.isEmpty()) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    report(state, seconds, size_t(image.sizeInBytes()), QFileInfo(path).size());
    QFile::remove(path);
}

// The disk's share: the same number of bytes, already laid out, saved the same way.
void BM_SaveRawFile(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QByteArray bytes(qsizetype(sheet(bits).sizeInBytes()) + 54, '\x5a');
    const QString path = benchPath("saved.raw");
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const QString error = writeFileAtomically(path, bytes);
        seconds += since(start);
        if (!error.isEmpty()) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    report(state, seconds, bytes.size(), bytes.size());
    QFile::remove(path);
}

// The 24-bit sheet as a PNG file, the input of both end-to-end runs.
QString gridInput()
{
    const QString path = benchPath("grid_in.png");
    if (!QFileInfo::exists(path))
        writeFileAtomically(path, pngOf(sheet(24)));
    return path;
}

double& imageMagickSeconds()
{
    static double seconds = 0;
    return seconds;
}

// ImageMagick's quickest way to a one-pixel grid after every 16 x 16 tile: cut the sheet into
// columns, add a column of grid colour to each and join them, then the same for rows.
void BM_ImageMagickGrid(benchmark::State& state)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    const QString output = benchPath("grid_magick.png");
    const QStringList arguments{gridInput(), "-background", "#ff00ff", "-crop", "16x", "+repage",
                                "-gravity", "east", "-splice", "1x0", "+append", "-crop", "x16",
                                "+repage", "-gravity", "south", "-splice", "0x1", "-append",
                                output};
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        QProcess process;
        process.start(convert, arguments);
        const bool ok = process.waitForFinished(-1) && process.exitCode() == 0;
        seconds += since(start);
        if (!ok) {
            state.SkipWithError(process.readAllStandardError().left(200).constData());
            return;
        }
    }
    imageMagickSeconds() = seconds / double(state.iterations());
    const QImage result(output);
    state.counters["grid_side"] = result.width();
    report(state, seconds, size_t(kSide) * kSide * 3, QFileInfo(output).size());
    QFile::remove(output);
}

void BM_OpenGridSave(benchmark::State& state)
{
    const QString input = gridInput();
    const QString output = benchPath("grid_ours.png");
    double seconds = 0;
    int side = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const DecodeResult opened = loadImageFile(input);
        const GridResult gridded = insertGrid(opened.image, 16, qRgb(255, 0, 255));
        const QString error = writeFileAtomically(output, [&](QIODevice& device, QString& reason) {
            return writePng(gridded.image, device, reason);
        });
        seconds += since(start);
        if (!opened.ok() || !gridded.ok() || !error.isEmpty()) {
            state.SkipWithError("open, grid or save failed");
            return;
        }
        side = gridded.image.width();
    }
    state.counters["grid_side"] = side;
    report(state, seconds, size_t(kSide) * kSide * 3, QFileInfo(output).size());
    if (imageMagickSeconds() > 0)
        state.counters["vs_imagemagick"] =
            seconds / double(state.iterations()) / imageMagickSeconds();
    QFile::remove(output);
}

void BM_MemcpyImage(benchmark::State& state)
{
    memcpyBaseline(state, size_t(kSide) * kSide * size_t(state.range(0) / 8));
}

void depths(benchmark::internal::Benchmark* b)
{
    b->ArgName("bits")->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void depthsAndArt(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"bits", "art"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int art : {kPixelArt, kGameTiles})
        for (int bits : {24, 32})
            b->Args({bits, art});
}


// Palettes and optipng. Sources: 0 the pixel-art sheet, 1 the game tiles (both 24-bit, no form
// to keep), 2 a real paletted sheet (TILEGRID_PALETTED_SHEET, or the title picture of Debian's
// crawl-tiles-data), saved keeping its palette. BM_SaveVsOptipng saves with compression 0 fast
// or 2 smallest and sets the file and the time against `optipng -o2` on the same pixels
// (size_vs_optipng, time_vs_optipng; without optipng installed only file_KiB).
// BM_DecodePaletted reads a paletted PNG of the source (source 2 as saved, the pixel art as
// small writes it) and sets it against reading the same pixels as RGB (vs_rgb).
struct PalettedSource {
    QImage image;
    StoredForm form;
};

const PalettedSource& palettedSource(int source)
{
    static std::map<int, PalettedSource> made;
    if (const auto it = made.find(source); it != made.end())
        return it->second;
    PalettedSource& made_ = made[source];
    if (source < 2) {
        made_.image = sheet(24, source);
        return made_;
    }
    QString path = qEnvironmentVariable("TILEGRID_PALETTED_SHEET");
    if (path.isEmpty())
        path = QStringLiteral("/usr/share/crawl/dat/tiles/title_froggy_goodgod_tengu_gold.png");
    const DecodeResult decoded = loadImageFile(path, Transparency::Keep);
    if (decoded.ok() && decoded.stored.paletted()) {
        made_.image = decoded.image;
        made_.form = decoded.stored;
    }
    return made_;
}

QByteArray savedAs(const PalettedSource& source, PngCompression compression, double* seconds)
{
    PngWriteOptions options;
    options.compression = compression;
    options.keep = source.form.known() ? &source.form : nullptr;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    const auto start = Clock::now();
    writePng(source.image, buffer, error, options);
    if (seconds)
        *seconds = since(start);
    return buffer.data();
}

// optipng -o2's file size and seconds on the pixels of source, once; {0, 0} without optipng.
std::pair<qint64, double> optipngOf(int source)
{
    static std::map<int, std::pair<qint64, double>> kept;
    if (const auto it = kept.find(source); it != kept.end())
        return it->second;
    const QString optipng = QStandardPaths::findExecutable(QStringLiteral("optipng"));
    if (optipng.isEmpty())
        return kept[source] = {0, 0.0};
    const QString path = benchPath("optipng_in.png");
    writeFileAtomically(path, savedAs(palettedSource(source), PngCompression::Fast, nullptr));
    QProcess process;
    const auto start = Clock::now();
    process.start(optipng, {QStringLiteral("-quiet"), QStringLiteral("-o2"), path});
    process.waitForFinished(-1);
    const double seconds = since(start);
    const qint64 size = QFileInfo(path).size();
    QFile::remove(path);
    return kept[source] = {size, seconds};
}

bool havePalettedSource(benchmark::State& state, int source)
{
    if (!palettedSource(source).image.isNull())
        return true;
    state.SkipWithError(source == 2 ? "no paletted sheet: set TILEGRID_PALETTED_SHEET"
                                    : "no game tiles");
    return false;
}

void BM_SaveVsOptipng(benchmark::State& state)
{
    const int source = int(state.range(0));
    if (!havePalettedSource(state, source))
        return;
    const PngCompression compression = PngCompression(state.range(1));
    double seconds = 0, total = 0;
    qsizetype size = 0;
    for (auto _ : state) {
        size = savedAs(palettedSource(source), compression, &seconds).size();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["file_KiB"] = double(size) / 1024.0;
    const auto [optipngSize, optipngSeconds] = optipngOf(source);
    if (optipngSize > 0) {
        state.counters["size_vs_optipng"] = double(size) / double(optipngSize);
        state.counters["time_vs_optipng"] = total / double(state.iterations()) / optipngSeconds;
    }
}

void BM_DecodePaletted(benchmark::State& state)
{
    const int source = int(state.range(0));
    if (!havePalettedSource(state, source))
        return;
    const PalettedSource& from = palettedSource(source);
    const QByteArray paletted =
        savedAs(from, source == 2 ? PngCompression::Fast : PngCompression::Small, nullptr);
    const QByteArray rgb = pngOf(from.image);
    if (paletted.at(25) != 3) {
        state.SkipWithError("more than 256 colours");
        return;
    }
    const auto timeOf = [&](const QByteArray& png) {
        double best = 1e9;
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            benchmark::DoNotOptimize(decodeImageData(png, QStringLiteral("p.png"), Transparency::Keep));
            best = std::min(best, since(start));
        }
        return best;
    };
    const double rgbSeconds = timeOf(rgb);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(
            decodeImageData(paletted, QStringLiteral("p.png"), Transparency::Keep));
        const double one = since(start);
        seconds += one;
        state.SetIterationTime(one);
    }
    state.counters["vs_rgb"] = seconds / double(state.iterations()) / rgbSeconds;
    state.counters["file_KiB"] = double(paletted.size()) / 1024.0;
}

// The zlib-9 references: filter None, then libpng's own filter choice.
void depthsArtAndFilters(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"bits", "art", "filters"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int art : {kPixelArt, kGameTiles})
        for (int bits : {24, 32})
            for (int filters : {0, 1})
                b->Args({bits, art, filters});
}

void depthsArtAndCompression(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"bits", "art", "compression"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int art : {kPixelArt, kGameTiles})
        for (int bits : {24, 32})
            for (const PngCompression compression :
                 {PngCompression::Fast, PngCompression::Small, PngCompression::Smallest})
                b->Args({bits, art, int(compression)});
}

void depthsArtAndLevels(benchmark::internal::Benchmark* b)
{
    // Level 0 stands for the writer's default.
    b->ArgNames({"bits", "art", "level"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int art : {kPixelArt, kGameTiles}) {
        for (int bits : {24, 32})
            for (int level : {0, 5, 6, 8, 9})
                b->Args({bits, art, level});
        b->Args({kAlphaBits, art, 0});
    }
}

void depthsArtAndAlpha(benchmark::internal::Benchmark* b)
{
    depthsAndArt(b);
    for (int art : {kPixelArt, kGameTiles})
        b->Args({kAlphaBits, art});
}

}  // namespace

BENCHMARK(BM_SavePngZlib9)->Apply(depthsArtAndFilters)->Iterations(1);
BENCHMARK(BM_SavePng)->Apply(depthsArtAndLevels);
BENCHMARK(BM_SavePngCompression)->Apply(depthsArtAndCompression);
BENCHMARK(BM_DecodePngQt)->Apply(depthsAndArt);
BENCHMARK(BM_DecodePng)->Apply(depthsArtAndAlpha);
BENCHMARK(BM_SaveBmp)->Apply(depths);
BENCHMARK(BM_SaveBmpFile)->Apply(depths);
BENCHMARK(BM_SaveRawFile)->Apply(depths);
BENCHMARK(BM_ImageMagickGrid)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_OpenGridSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemcpyImage)->Apply(depths);
BENCHMARK(BM_SaveVsOptipng)
    ->ArgNames({"source", "compression"})
    ->ArgsProduct({{0, 1, 2}, {0, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);
BENCHMARK(BM_DecodePaletted)
    ->ArgNames({"source"})
    ->Args({0})
    ->Args({2})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_SavePngZlib9Large)
    ->Arg(24)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_SavePngLarge)
    ->Args({24, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

int main(int argc, char** argv)
{
    // The Large benchmarks need gigabytes and minutes: left out unless a filter names what to run.
    std::vector<char*> arguments(argv, argv + argc);
    std::string skipLarge = "--benchmark_filter=-Large";
    if (std::none_of(arguments.begin(), arguments.end(), [](const char* a) {
            return std::strncmp(a, "--benchmark_filter", 18) == 0;
        }))
        arguments.push_back(skipLarge.data());
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QFile::remove(benchPath("grid_in.png"));
    return 0;
}
