// Image files in and out on a 4096 x 4096 sheet at 24 and 32 bits: decoding a PNG, writing PNG
// (zlib level 9, filter None) and BMP, beside a memcpy of the image's bytes. Counters: vs_memcpy
// (one operation over one memcpy of the image's bytes, measured in the same run), file_KiB (the
// size of the file written or read), and for PNG vs_zlib (our whole PNG write over zlib alone
// compressing the same unfiltered rows at level 9, which is the floor for these settings).
// BM_SaveRawFile writes as many bytes through the same temporary-file route: the disk's share.
#include <zlib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/image_decoder.h"
#include "document/png_writer.h"

namespace {

constexpr int kSide = 4096;

QImage sheet(int bits)
{
    return makeBenchSheet(kSide, kSide, bits == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
}

size_t imageBytes(int bits)
{
    return size_t(kSide) * kSide * size_t(bits / 8);
}

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(benchmark::State& state, double seconds, int bits, qsizetype fileBytes)
{
    const double perRun = seconds / double(state.iterations());
    state.counters["vs_memcpy"] = perRun / memcpySeconds(imageBytes(int(bits)));
    state.counters["file_KiB"] = double(fileBytes) / 1024.0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(imageBytes(bits)));
}

QByteArray pngOf(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    writePng(image, buffer, error);
    return buffer.data();
}

// zlib alone at level 9 over the rows as a PNG stream holds them before compression: a filter
// byte 0 and the pixels in file order.
double zlibSeconds(const QImage& image)
{
    const int channels = image.depth() / 8;
    const size_t rowBytes = 1 + size_t(image.width()) * size_t(channels);
    std::vector<Bytef> raw(rowBytes * size_t(image.height()), 0);
    for (int y = 0; y < image.height(); ++y) {
        const uchar* from = image.constScanLine(y);
        Bytef* to = &raw[size_t(y) * rowBytes + 1];
        for (int x = 0; x < image.width(); ++x) {
            // Memory holds B,G,R(,A); the file R,G,B(,A).
            to[x * channels + 0] = from[x * channels + 2];
            to[x * channels + 1] = from[x * channels + 1];
            to[x * channels + 2] = from[x * channels + 0];
            if (channels == 4)
                to[x * channels + 3] = 0xff;
        }
    }
    std::vector<Bytef> packed(compressBound(uLong(raw.size())));
    double best = 0;
    for (int run = 0; run < 2; ++run) {
        uLongf packedSize = uLongf(packed.size());
        const auto start = Clock::now();
        compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9);
        best = run == 0 ? since(start) : std::min(best, since(start));
    }
    return best;
}

void BM_DecodePng(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QByteArray png = pngOf(sheet(bits));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const DecodeResult result = decodeImageData(png, QStringLiteral("bench.png"));
        benchmark::DoNotOptimize(result.image.constBits());
        seconds += since(start);
        if (!result.ok()) {
            state.SkipWithError(result.error.toUtf8().constData());
            return;
        }
    }
    // The decoded sheet is always 24-bit, so compare with a memcpy of that.
    report(state, seconds, 24, png.size());
}

template <bool Png>
void saveToMemory(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QImage image = sheet(bits);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    double seconds = 0;
    for (auto _ : state) {
        buffer.open(QIODevice::WriteOnly);  // keeps the array's capacity from the last run
        QString error;
        const auto start = Clock::now();
        const bool ok = Png ? writePng(image, buffer, error) : writeBmp(image, buffer, error);
        seconds += since(start);
        buffer.close();
        if (!ok) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    report(state, seconds, bits, bytes.size());
    if (Png)
        state.counters["vs_zlib"] = seconds / double(state.iterations()) / zlibSeconds(image);
}

void BM_SavePng(benchmark::State& state) { saveToMemory<true>(state); }
void BM_SaveBmp(benchmark::State& state) { saveToMemory<false>(state); }

// The whole BMP save as the program does it: temporary file, write, rename.
void BM_SaveBmpFile(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QImage image = sheet(bits);
    const QString path = QDir::temp().filePath(QStringLiteral("tilegrid_bench_image_io.bmp"));
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
    report(state, seconds, bits, QFileInfo(path).size());
    QFile::remove(path);
}

// The disk's share: the same number of bytes, already laid out, saved the same way.
void BM_SaveRawFile(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const QByteArray bytes(qsizetype(imageBytes(bits)) + 54, '\x5a');
    const QString path = QDir::temp().filePath(QStringLiteral("tilegrid_bench_image_io.raw"));
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
    report(state, seconds, bits, bytes.size());
    QFile::remove(path);
}

void BM_MemcpyImage(benchmark::State& state)
{
    memcpyBaseline(state, imageBytes(int(state.range(0))));
}

void depths(benchmark::internal::Benchmark* b)
{
    b->ArgName("bits")->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_DecodePng)->Apply(depths);
BENCHMARK(BM_SavePng)->Apply(depths)->Iterations(2);
BENCHMARK(BM_SaveBmp)->Apply(depths);
BENCHMARK(BM_SaveBmpFile)->Apply(depths);
BENCHMARK(BM_SaveRawFile)->Apply(depths);
BENCHMARK(BM_MemcpyImage)->Apply(depths);
BENCHMARK_MAIN();
