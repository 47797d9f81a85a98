#include "bench_support.h"

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QPainter>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <vector>

double peakMemoryMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

void resetPeakMemory()
{
    // Writing 5 to clear_refs resets the kernel's high-water mark of this process's resident set.
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

double peakMemorySinceResetMiB()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return peakMemoryMiB();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;  // in kB
    }
    return peakMemoryMiB();
}

double memcpySeconds(size_t bytes)
{
    std::vector<unsigned char> from(bytes, 1);
    std::vector<unsigned char> to(bytes, 0);
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void memcpyBaseline(benchmark::State& state, size_t bytes)
{
    std::vector<unsigned char> from(bytes, 1);
    std::vector<unsigned char> to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

QImage makeBenchSheet(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 7) & 0xff, (y * 5) & 0xff, ((x / 8) ^ (y / 8)) & 0xff);
    }
    return format == QImage::Format_RGB32 ? image : image.convertToFormat(format);
}

namespace {

// A small fixed-seed generator (xorshift), so the sheet is the same on every machine.
struct Dice {
    quint32 state;
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return int(next() % quint32(n)); }
};

constexpr int kTile = 16;
constexpr int kShades = 4;
using Ramp = std::array<QRgb, kShades>;
using Tile = std::array<QRgb, kTile * kTile>;

// A colour in four shades, dark to light, as pixel art shades its surfaces.
Ramp makeRamp(Dice& dice)
{
    const int r = 40 + dice.below(200), g = 40 + dice.below(200), b = 40 + dice.below(200);
    Ramp ramp;
    for (int s = 0; s < kShades; ++s)
        ramp[size_t(s)] = qRgb(r * (s + 2) / 5, g * (s + 2) / 5, b * (s + 2) / 5);
    return ramp;
}

// Ground: a base shade with specks and short strokes of the neighbouring shades.
Tile makeGround(Dice& dice, const Ramp& ramp)
{
    Tile tile;
    tile.fill(ramp[1]);
    const int specks = 10 + dice.below(40);
    for (int i = 0; i < specks; ++i) {
        const int x = dice.below(kTile), y = dice.below(kTile), length = 1 + dice.below(3);
        const QRgb shade = ramp[size_t(dice.below(2) * 2)];
        for (int k = 0; k < length && x + k < kTile; ++k)
            tile[size_t(y * kTile + x + k)] = shade;
    }
    return tile;
}

// An object: an outlined disc or box, lit from the top left, on the empty background.
Tile makeObject(Dice& dice, const Ramp& ramp, QRgb background, QRgb outline)
{
    Tile tile;
    tile.fill(background);
    const int x0 = dice.below(6), y0 = dice.below(6);
    const int x1 = x0 + 6 + dice.below(kTile - 6 - x0), y1 = y0 + 6 + dice.below(kTile - 6 - y0);
    const bool disc = dice.below(2) == 0;
    const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0;
    const double rx = (x1 - x0) / 2.0 + 0.5, ry = (y1 - y0) / 2.0 + 0.5;
    const auto inside = [&](int x, int y) {
        if (x < x0 || x > x1 || y < y0 || y > y1)
            return false;
        const double dx = (x - cx) / rx, dy = (y - cy) / ry;
        return !disc || dx * dx + dy * dy <= 1.0;
    };
    for (int y = y0; y <= y1 && y < kTile; ++y)
        for (int x = x0; x <= x1 && x < kTile; ++x) {
            if (!inside(x, y))
                continue;
            const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) ||
                              !inside(x, y + 1);
            const double light = (x - x0) / double(x1 - x0 + 1) + (y - y0) / double(y1 - y0 + 1);
            tile[size_t(y * kTile + x)] =
                edge ? outline : ramp[size_t(3 - std::min(3, int(light * 2)))];
        }
    return tile;
}

}  // namespace

QImage makePixelArtSheet(int width, int height, QImage::Format format)
{
    Dice dice{0x2545f491u};
    const QRgb background = qRgb(0, 0, 0);  // transparency, as opening makes it
    const QRgb outline = qRgb(24, 16, 32);
    std::vector<Ramp> ramps;
    for (int i = 0; i < 8; ++i)
        ramps.push_back(makeRamp(dice));
    // Grounds come in families of four variants of one surface, as terrain does.
    std::vector<Tile> grounds, objects;
    for (int i = 0; i < 24 * 4; ++i)
        grounds.push_back(makeGround(dice, ramps[size_t(i / 4 % 8)]));
    for (int i = 0; i < 400; ++i)
        objects.push_back(makeObject(dice, ramps[size_t(dice.below(8))], background, outline));

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // The sheet is laid out in blocks of 4 x 4 tiles: empty, one ground tile repeated, a run of
    // objects, or objects standing on a ground.
    constexpr int kBlock = 4 * kTile;
    const int blockColumns = (width + kBlock - 1) / kBlock;
    std::vector<const Tile*> tiles(static_cast<size_t>(blockColumns) * 16);
    const Tile empty = [&] {
        Tile t;
        t.fill(background);
        return t;
    }();
    for (int blockY = 0; blockY * kBlock < height; ++blockY) {
        for (int b = 0; b < blockColumns; ++b) {
            const int kind = dice.below(8);
            const int family = dice.below(int(grounds.size()) / 4) * 4;
            const int firstObject = dice.below(int(objects.size()) - 16);
            for (int i = 0; i < 16; ++i) {
                const Tile* ground = &grounds[size_t(family + dice.below(4))];
                const Tile* tile = &empty;
                if (kind >= 2 && kind <= 4)
                    tile = ground;
                else if (kind >= 5 && kind <= 6)
                    tile = &objects[size_t(firstObject + i)];
                else if (kind == 7)
                    tile =
                        i >= 12 || dice.below(3) == 0 ? ground : &objects[size_t(firstObject + i)];
                tiles[size_t(b * 16 + i)] = tile;
            }
        }
        for (int row = 0; row < kBlock && blockY * kBlock + row < height; ++row) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(blockY * kBlock + row));
            for (int x = 0; x < width; ++x) {
                const Tile& tile =
                    *tiles[size_t(x / kBlock * 16 + row / kTile * 4 + x % kBlock / kTile)];
                line[x] = tile[size_t(row % kTile * kTile + x % kTile)];
            }
        }
    }
    return format == QImage::Format_RGB32 ? image : image.convertToFormat(format);
}

QString gameTilesFolder()
{
    const QByteArray chosen = qgetenv("TILEGRID_BENCH_TILES");
    return chosen.isEmpty() ? QStringLiteral("/usr/share/crawl/dat/tiles")
                            : QString::fromLocal8Bit(chosen);
}

QImage makeGameTileSheet(int width, int height, QImage::Format format)
{
    constexpr int kSide = 32;
    // The tile sheets proper, not the title pictures and icons beside them.
    const QStringList names{"feat.png", "floor.png",  "gui.png", "icons.png",
                            "main.png", "player.png", "wall.png"};
    std::vector<QImage> tiles;
    for (const QString& name : names) {
        const QImage source =
            QImage(QDir(gameTilesFolder()).filePath(name)).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y + kSide <= source.height(); y += kSide)
            for (int x = 0; x + kSide <= source.width(); x += kSide) {
                QImage tile = source.copy(x, y, kSide, kSide);
                bool seen = false;
                for (int row = 0; row < kSide && !seen; ++row) {
                    const auto* line = reinterpret_cast<const QRgb*>(tile.constScanLine(row));
                    seen = std::any_of(line, line + kSide, [](QRgb p) { return qAlpha(p) != 0; });
                }
                if (seen)
                    tiles.push_back(std::move(tile));
            }
    }
    if (tiles.empty())
        return {};
    // With alpha the tiles keep their transparency; otherwise it becomes black.
    const bool alpha = format == QImage::Format_ARGB32;
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(alpha ? Qt::transparent : Qt::black);
    QPainter painter(&image);
    if (alpha)
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    size_t next = 0;
    for (int y = 0; y < height; y += kSide)
        for (int x = 0; x < width; x += kSide)
            painter.drawImage(x, y, tiles[next++ % tiles.size()]);
    painter.end();
    return image.format() == format ? image : image.convertToFormat(format);
}
