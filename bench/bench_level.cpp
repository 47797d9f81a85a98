// Carrying a rearrangement of 256 tiles into a 1000 x 1000 level: a TMX layer in base64 + zlib and
// a CSV grid, through remapLevelFiles (read, remap, atomic write into another folder). Beside each,
// the same file read and written back without the remap (parse, decode, encode, atomic write) and
// a memcpy of its bytes. Counters: vs_read_write (remap over read-and-write, same run), vs_memcpy,
// file_MiB. The TMX layer is also carried through a packing, as levels remap --remap does after
// sheet dedupe --flips: a quarter of the tiles merge into others, turned, and the tileset's tile
// count, columns and image size change.
//
// LDtk: a project of about 1 MiB, its tile layers and auto-layers drawn from the sheet and another
// tileset, remapped through remapLevelFiles beside the same file read (parsed as JSON) and written
// back unchanged; vs_read_write must stay below 3.
//
// Merging: a 1000 x 1000 TMX map (base64 + zlib) that names 17 tilesets of 64 tiles, 12 of them
// merged into one atlas (a sixth of their tiles merging into others, some turned), through
// remapLevelFiles beside the same map read and written back; vs_read_write must stay below 1.5.
//
// Godot: a scene whose one TileMapLayer of 1000 x 1000 cells (12 bytes a cell, in base64) shows
// the sheet and another source, remapped through remapLevelFiles beside the same scene read (its
// cells decoded) and written back (encoded again); vs_read_write must stay below 1.5.
//
// Nesting: a TMJ map whose one 500 x 500 layer stands inside 0 or 250 group layers, remapped in
// memory; vs_flat is the nested map over the flat one (the same run, in this thread's processor
// time, which other work on the machine does not inflate), which must stay below 2.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <charconv>
#include <chrono>
#include <numeric>
#include <random>
#include <time.h>

#include "bench_support.h"
#include "document/atomic_file.h"
#include "level/atlas_merge.h"
#include "level/layer_codec.h"
#include "level/level_remap.h"
#include "level/remap_file.h"

namespace
{

constexpr int kSide = 1000;
constexpr int kTiles = 256;

TileRemap benchRemap()
{
    TileRemap remap;
    remap.newIndexOf.resize(kTiles);
    std::iota(remap.newIndexOf.begin(), remap.newIndexOf.end(), 0);
    std::shuffle(remap.newIndexOf.begin(), remap.newIndexOf.end(), std::mt19937(11));
    remap.columns = 16;
    return remap;
}

// 256 tiles packed into 192: tile 192 + i is tile 3i mod 192 turned by i mod 8, read back from the
// remap file's text as levels remap --remap reads it.
TileRemap benchPacking()
{
    TileRemap remap;
    remap.columns = 16;
    remap.newTiles = 192;
    remap.newColumnCount = 12;
    for (int32_t tile = 0; tile < kTiles; ++tile) {
        remap.newIndexOf.push_back(tile < 192 ? tile : (tile - 192) * 3 % 192);
        remap.symmetryOf.push_back(TileSymmetry(tile < 192 ? 0u : unsigned(tile) % 8u));
    }
    return *parseRemapText(writeRemapText(RemapFile{{}, {RemapSheet{{}, remap}}})).single();
}

// Gids of the sheet (first gid 1, flipped now and then), another tileset and empty cells.
std::vector<uint32_t> benchCells()
{
    std::mt19937 random(7);
    std::vector<uint32_t> cells(size_t(kSide) * kSide);
    for (uint32_t& cell : cells) {
        const uint32_t pick = random() % 10;
        cell = pick == 0 ? 0 : pick < 8 ? 1 + random() % kTiles : 257 + random() % 64;
        if (pick != 0 && random() % 8 == 0)
            cell |= 0x80000000u;
    }
    return cells;
}

QByteArray benchTmx()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" "
           "orientation=\"orthogonal\" "
           "width=\"1000\" height=\"1000\" tilewidth=\"16\" tileheight=\"16\" infinite=\"0\">\n"
           " <tileset firstgid=\"1\" name=\"sheet\" tilewidth=\"16\" tileheight=\"16\" "
           "tilecount=\"256\" columns=\"16\">\n  <image source=\"sheet.png\" width=\"256\" "
           "height=\"256\"/>\n </tileset>\n <tileset firstgid=\"257\" name=\"other\" "
           "tilewidth=\"16\" tileheight=\"16\" tilecount=\"64\" columns=\"8\">\n  <image "
           "source=\"other.png\" width=\"128\" height=\"128\"/>\n </tileset>\n <layer id=\"1\" "
           "name=\"Ground\" width=\"1000\" height=\"1000\">\n  <data encoding=\"base64\" "
           "compression=\"zlib\">\n   " +
           encodeLayerData(benchCells(), LayerCompression::Zlib) +
           "\n  </data>\n </layer>\n</map>\n";
}

QByteArray benchCsv()
{
    std::mt19937 random(9);
    QByteArray text;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const int pick = int(random() % 10);
            text += QByteArray::number(pick == 0 ? -1 : int(random() % kTiles));
            text += x + 1 < kSide ? "," : "\n";
        }
    }
    return text;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A map read and written back without the remap: parse the XML, decode and re-encode the layer.
void readWriteTmx(const QString& from, const QString& to)
{
    QByteArray bytes = readAll(from);
    QXmlStreamReader reader(bytes);
    QString base64;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"data")
            base64 = reader.readElementText().trimmed();
    }
    std::vector<uint32_t> cells;
    QString error;
    decodeLayerData(base64.toLatin1(), LayerCompression::Zlib, int64_t(kSide) * kSide, cells,
                    error);
    const QByteArray encoded = encodeLayerData(cells, LayerCompression::Zlib);
    const qsizetype at = bytes.indexOf(base64.toLatin1());
    bytes.replace(at, base64.size(), encoded);
    writeFileAtomically(to, bytes);
}

// A CSV level read into numbers and written back with its separators.
void readWriteCsv(const QString& from, const QString& to)
{
    const QByteArray bytes = readAll(from);
    std::vector<int> numbers;
    const char* at = bytes.constData();
    const char* end = at + bytes.size();
    while (at < end) {
        int value = 0;
        const auto parsed = std::from_chars(at, end, value);
        if (parsed.ec == std::errc()) {
            numbers.push_back(value);
            at = parsed.ptr;
        } else {
            ++at;
        }
    }
    QByteArray out(bytes.size(), Qt::Uninitialized);
    char* write = out.data();
    size_t next = 0;
    for (at = bytes.constData(); at < end;) {
        if (*at == ',' || *at == '\n') {
            *write++ = *at++;
            continue;
        }
        while (at < end && *at != ',' && *at != '\n')
            ++at;
        write = std::to_chars(write, out.data() + out.size(), numbers[next++]).ptr;
    }
    out.resize(write - out.data());
    writeFileAtomically(to, out);
}

// A TMJ map whose one 500 x 500 layer (the first cells of benchCells) stands inside depth groups.
QByteArray nestedTmj(int depth)
{
    const std::vector<uint32_t> cells = benchCells();
    QByteArray data;
    for (size_t i = 0; i < 500 * 500; ++i)
        data += (i > 0 ? "," : "") + QByteArray::number(cells[i]);
    QByteArray open;
    QByteArray close;
    for (int i = 0; i < depth; ++i) {
        open += R"({"type":"group","name":"g","layers":[)";
        close += "]}";
    }
    return R"({"type":"map","width":500,"height":500,"tilewidth":16,"tileheight":16,"layers":[)" +
           open + R"({"type":"tilelayer","name":"Ground","width":500,"height":500,"data":[)" +
           data + "]}" + close +
           R"(],"tilesets":[{"firstgid":1,"name":"sheet","image":"sheet.png","tilecount":256,)"
           R"("columns":16,"tilewidth":16,"tileheight":16},{"firstgid":257,"name":"other",)"
           R"("image":"other.png","tilecount":64,"columns":8,"tilewidth":16,"tileheight":16}]})";
}

// A project whose one level holds layers of tiles, pretty printed as LDtk writes its "Full" style.
QByteArray benchLdtk()
{
    std::mt19937 random(5);
    QByteArray layers;
    for (int layer = 0; layer < 8; ++layer) {
        const bool other = layer % 4 == 3;
        const char* key = layer % 2 ? "autoLayerTiles" : "gridTiles";
        QByteArray tiles;
        for (int i = 0; i < 2000; ++i) {
            const int t = int(random() % (other ? 64 : kTiles));
            const int columns = other ? 8 : 16;
            tiles += QStringLiteral("%1\n\t\t\t\t\t\t{ \"px\": [%2,%3], \"src\": [%4,%5], "
                                    "\"f\": %6, \"t\": %7, \"d\": [%8], \"a\": 1 }")
                         .arg(i ? "," : "")
                         .arg(i % 100 * 16)
                         .arg(i / 100 * 16)
                         .arg(t % columns * 16)
                         .arg(t / columns * 16)
                         .arg(random() % 4)
                         .arg(t)
                         .arg(i)
                         .toUtf8();
        }
        layers += QStringLiteral("%1\n\t\t\t\t{\n\t\t\t\t\t\"__identifier\": \"L%2\",\n"
                                 "\t\t\t\t\t\"__tilesetDefUid\": %3,\n\t\t\t\t\t\"%4\": [")
                      .arg(layer ? "," : "")
                      .arg(layer)
                      .arg(other ? 2 : 1)
                      .arg(QString::fromLatin1(key))
                      .toUtf8() +
                  tiles + "\n\t\t\t\t\t]\n\t\t\t\t}";
    }
    return "{\n\t\"jsonVersion\": \"1.5.3\",\n\t\"defs\": {\n\t\t\"tilesets\": [\n"
           "\t\t\t{ \"__cWid\": 16, \"__cHei\": 16, \"identifier\": \"Sheet\", \"uid\": 1, "
           "\"relPath\": \"sheet.png\", \"pxWid\": 256, \"pxHei\": 256, \"tileGridSize\": 16, "
           "\"spacing\": 0, \"padding\": 0 },\n"
           "\t\t\t{ \"__cWid\": 8, \"__cHei\": 8, \"identifier\": \"Other\", \"uid\": 2, "
           "\"relPath\": \"other.png\", \"pxWid\": 128, \"pxHei\": 128, \"tileGridSize\": 16, "
           "\"spacing\": 0, \"padding\": 0 }\n\t\t]\n\t},\n\t\"levels\": [\n\t\t{\n"
           "\t\t\t\"identifier\": \"Level_0\",\n\t\t\t\"layerInstances\": [" +
           layers + "\n\t\t\t]\n\t\t}\n\t]\n}\n";
}

// A project read and understood as JSON, then written back as it was.
void readWriteLdtk(const QString& from, const QString& to)
{
    const QByteArray bytes = readAll(from);
    benchmark::DoNotOptimize(QJsonDocument::fromJson(bytes));
    writeFileAtomically(to, bytes);
}

double secondsOf(const std::function<void()>& work)
{
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

struct BenchLevel {
    QTemporaryDir folder;
    QString input;
    QString output;
    qint64 size = 0;
};

void prepare(BenchLevel& level, const QString& name, const QByteArray& text)
{
    level.input = QDir(level.folder.path()).filePath(name);
    QDir(level.folder.path()).mkdir(QStringLiteral("out"));
    level.output = QDir(level.folder.path()).filePath(QStringLiteral("out/") + name);
    writeFileAtomically(level.input, text);
    level.size = text.size();
}

// The remap of a prepared level, beside reading and writing it.
void benchRemapOf(benchmark::State& state, const BenchLevel& level, const TileRemap& remap,
                  const LevelRemapOptions& options,
                  void (*readWrite)(const QString&, const QString&))
{
    const LevelOutputPath output = levelOutputIntoFolder(QDir(level.folder.path()).filePath("out"));
    double seconds = 0;
    for (auto _ : state) {
        // A result its target holds already would not be written again.
        QFile::remove(level.output);
        const auto start = std::chrono::steady_clock::now();
        const LevelRemapRun run = remapLevelFiles({level.input}, remap, options, output);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (run.count(LevelFileStatus::Updated) != 1) {
            state.SkipWithError(run.files.empty() ? "no result"
                                                  : qPrintable(run.files[0].message()));
            return;
        }
    }
    const double remapSeconds = seconds / double(state.iterations());
    const double plain = secondsOf([&] { readWrite(level.input, level.output); });
    state.counters["vs_read_write"] = remapSeconds / plain;
    state.counters["vs_memcpy"] = remapSeconds / memcpySeconds(size_t(level.size));
    state.counters["file_MiB"] = double(level.size) / (1024.0 * 1024.0);
    state.counters["read_write_ms"] = plain * 1000.0;
}

void benchRemap(benchmark::State& state, const QString& name, const QByteArray& text,
                void (*readWrite)(const QString&, const QString&),
                const TileRemap& remap = benchRemap())
{
    BenchLevel level;
    prepare(level, name, text);
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    benchRemapOf(state, level, remap, options, readWrite);
}

void benchReadWrite(benchmark::State& state, const QString& name, const QByteArray& text,
                    void (*readWrite)(const QString&, const QString&))
{
    BenchLevel level;
    prepare(level, name, text);
    for (auto _ : state)
        readWrite(level.input, level.output);
    state.counters["file_MiB"] = double(level.size) / (1024.0 * 1024.0);
}

void BM_RemapTmxZlib(benchmark::State& state)
{
    benchRemap(state, QStringLiteral("level.tmx"), benchTmx(), readWriteTmx);
}

void BM_RemapTmxZlibPacked(benchmark::State& state)
{
    benchRemap(state, QStringLiteral("level.tmx"), benchTmx(), readWriteTmx, benchPacking());
}

constexpr int kMergeTilesets = 17, kMerged = 12, kMergeTiles = 64;

QByteArray mergeTmx()
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" "
                      "orientation=\"orthogonal\" width=\"1000\" height=\"1000\" "
                      "tilewidth=\"16\" tileheight=\"16\" infinite=\"0\">\n";
    for (int k = 0; k < kMergeTilesets; ++k)
        text += " <tileset firstgid=\"" + QByteArray::number(1 + kMergeTiles * k) + "\" name=\"t" +
                QByteArray::number(k) +
                "\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"64\" columns=\"8\">\n  "
                "<image source=\"t" +
                QByteArray::number(k) + ".png\" width=\"128\" height=\"128\"/>\n </tileset>\n";
    std::mt19937 random(5);
    std::vector<uint32_t> cells(size_t(kSide) * kSide);
    for (uint32_t& cell : cells) {
        cell = random() % 10 == 0 ? 0 : 1 + random() % (kMergeTilesets * kMergeTiles);
        if (cell != 0 && random() % 8 == 0)
            cell |= 0x80000000u;
    }
    return text +
           " <layer id=\"1\" name=\"Ground\" width=\"1000\" height=\"1000\">\n  <data "
           "encoding=\"base64\" compression=\"zlib\">\n   " +
           encodeLayerData(cells, LayerCompression::Zlib) + "\n  </data>\n </layer>\n</map>\n";
}

void BM_MergeTmx(benchmark::State& state)
{
    BenchLevel level;
    prepare(level, QStringLiteral("level.tmx"), mergeTmx());
    AtlasMerge merge;
    merge.atlas = QDir(level.folder.path()).filePath(QStringLiteral("atlas.png"));
    // Tiles of each sheet in order, but every sixth becomes an earlier sheet's tile, turned.
    int32_t next = 0;
    for (int k = 0; k < kMerged; ++k) {
        MergedSheet sheet{QDir(level.folder.path()).filePath(QStringLiteral("t%1.png").arg(k)), {}};
        sheet.remap.columns = 8;
        for (int t = 0; t < kMergeTiles; ++t) {
            const bool merged = k > 0 && t % 6 == 0;
            sheet.remap.newIndexOf.push_back(merged ? t : next++);
            sheet.remap.symmetryOf.push_back(TileSymmetry(merged ? unsigned(t) % 8u : 0u));
        }
        merge.sheets.push_back(std::move(sheet));
    }
    for (MergedSheet& sheet : merge.sheets) {
        sheet.remap.newTiles = next;
        sheet.remap.newColumnCount = 16;
    }
    LevelRemapOptions options;
    options.merge = &merge;
    benchRemapOf(state, level, merge.sheets.front().remap, options, readWriteTmx);
}

void BM_ReadWriteTmxZlib(benchmark::State& state)
{
    benchReadWrite(state, QStringLiteral("level.tmx"), benchTmx(), readWriteTmx);
}

void BM_RemapCsv(benchmark::State& state)
{
    benchRemap(state, QStringLiteral("level.csv"), benchCsv(), readWriteCsv);
}

void BM_ReadWriteCsv(benchmark::State& state)
{
    benchReadWrite(state, QStringLiteral("level.csv"), benchCsv(), readWriteCsv);
}

void BM_RemapLdtk(benchmark::State& state)
{
    benchRemap(state, QStringLiteral("world.ldtk"), benchLdtk(), readWriteLdtk);
}

QByteArray benchGodot()
{
    QByteArray cells(2, '\0');
    cells.reserve(2 + 12 * kSide * kSide);
    std::mt19937 random(5);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const bool sheet = random() % 8 != 0;
            const uint32_t tile = random() % (sheet ? kTiles : 64);
            const uint16_t values[6] = {uint16_t(x),
                                        uint16_t(y),
                                        uint16_t(sheet ? 0 : 1),
                                        uint16_t(tile % (sheet ? 16 : 8)),
                                        uint16_t(tile / (sheet ? 16 : 8)),
                                        uint16_t(random() % 4 == 0 ? 4096 : 0)};
            for (const uint16_t v : values) {
                cells += char(v & 0xff);
                cells += char(v >> 8);
            }
        }
    return "[gd_scene load_steps=5 format=4 uid=\"uid://bench\"]\n\n"
           "[ext_resource type=\"Texture2D\" path=\"res://sheet.png\" id=\"1_s\"]\n"
           "[ext_resource type=\"Texture2D\" path=\"res://other.png\" id=\"2_o\"]\n\n"
           "[sub_resource type=\"TileSetAtlasSource\" id=\"A\"]\ntexture = ExtResource(\"1_s\")\n"
           "0:0/0 = 0\n1:0/0 = 0\n1:0/0/probability = 0.5\n\n"
           "[sub_resource type=\"TileSetAtlasSource\" id=\"B\"]\ntexture = ExtResource(\"2_o\")\n\n"
           "[sub_resource type=\"TileSet\" id=\"T\"]\nsources/0 = SubResource(\"A\")\n"
           "sources/1 = SubResource(\"B\")\n\n[node name=\"World\" type=\"Node2D\"]\n\n"
           "[node name=\"Ground\" type=\"TileMapLayer\" parent=\".\"]\n"
           "tile_map_data = PackedByteArray(\"" +
           cells.toBase64() + "\")\ntile_set = SubResource(\"T\")\n";
}

// A scene read, its cells decoded from base64 and encoded again, and written back.
void readWriteGodot(const QString& from, const QString& to)
{
    QByteArray bytes = readAll(from);
    const qsizetype begin = bytes.indexOf("PackedByteArray(\"") + 17;
    const qsizetype end = bytes.indexOf('"', begin);
    const QByteArray cells = QByteArray::fromBase64(bytes.mid(begin, end - begin));
    benchmark::DoNotOptimize(cells.data());
    bytes.replace(begin, end - begin, cells.toBase64());
    writeFileAtomically(to, bytes);
}

void BM_RemapGodot(benchmark::State& state)
{
    BenchLevel level;
    prepare(level, QStringLiteral("world.tscn"), benchGodot());
    // Godot counts an atlas's tiles from its texture.
    QImage(256, 256, QImage::Format_RGB32).save(QDir(level.folder.path()).filePath("sheet.png"));
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    benchRemapOf(state, level, benchRemap(), options, readWriteGodot);
}

void BM_ReadWriteLdtk(benchmark::State& state)
{
    benchReadWrite(state, QStringLiteral("world.ldtk"), benchLdtk(), readWriteLdtk);
}

void BM_MemcpyLdtk(benchmark::State& state)
{
    memcpyBaseline(state, size_t(benchLdtk().size()));
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void BM_RemapTmjNested(benchmark::State& state)
{
    const QByteArray text = nestedTmj(int(state.range(0)));
    const TileRemap remap = benchRemap();
    const QString path = QStringLiteral("/levels/level.tmj");
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    auto remapOnce = [&](const QByteArray& level) {
        return remapLevelBytes(level, path, remap, options);
    };
    if (const LevelBytesResult first = remapOnce(text); first.status != LevelFileStatus::Updated) {
        state.SkipWithError(qPrintable(first.reason));
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        const double start = threadSeconds();
        benchmark::DoNotOptimize(remapOnce(text));
        seconds += threadSeconds() - start;
    }
    const double each = seconds / double(state.iterations());
    const QByteArray flat = nestedTmj(0);
    double flatSeconds = 1e30;
    for (int run = 0; run < 5; ++run) {
        const double start = threadSeconds();
        benchmark::DoNotOptimize(remapOnce(flat));
        flatSeconds = std::min(flatSeconds, threadSeconds() - start);
    }
    state.counters["vs_flat"] = each / flatSeconds;
    state.counters["vs_memcpy"] = each / memcpySeconds(size_t(text.size()));
    state.counters["file_MiB"] = double(text.size()) / (1024.0 * 1024.0);
}

void BM_MemcpyTmx(benchmark::State& state)
{
    memcpyBaseline(state, size_t(benchTmx().size()));
}

void BM_MemcpyCsv(benchmark::State& state)
{
    memcpyBaseline(state, size_t(benchCsv().size()));
}

} // namespace

BENCHMARK(BM_RemapTmxZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemapTmxZlibPacked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWriteTmxZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeTmx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyTmx)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemapCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWriteCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyCsv)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemapLdtk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWriteLdtk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLdtk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemapGodot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemapTmjNested)->Arg(0)->Arg(250)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
