// The real program, started as a script would start it: no display, no platform plugin chosen,
// temporary files in and out.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QXmlStreamReader>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "cli/command_table.h"
#include <zlib.h>

#include "document/image_decoder.h"
#include "document/sheet_files.h"
#include "grid/grid_transform.h"
#include "image/pixel_block.h"
#include "level/remap_file.h"
#include "grid/tile_extrusion.h"
#include "support/image_files.h"
#include "support/level_files.h"
#include "support/test_images.h"
#include "support/test_names.h"
#include "support/tile_model.h"
#include "tilemap/tile_dedupe.h"
#include "tilemap/tile_ops.h"

namespace {

const QRgb kMagenta = qRgb(255, 0, 255);

// How the program is started, beyond its arguments.
struct Conditions {
    int addressSpaceKiB = 0;  // > 0: the program may hold no more address space (ulimit -v)
    int fileBlocks = -1;      // >= 0: no file it writes may grow beyond this many 512-byte blocks
    bool onTerminal = false;  // its standard error is a terminal, read into Finished::terminal
};

// A terminal for the program's standard error: the end the program writes to and the end read.
class Terminal
{
  public:
    Terminal()
    {
        reader_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (reader_ < 0 || ::grantpt(reader_) != 0 || ::unlockpt(reader_) != 0)
            return;
        writer_ = ::open(::ptsname(reader_), O_RDWR | O_NOCTTY);
    }
    ~Terminal()
    {
        closeWriter();
        if (reader_ >= 0)
            ::close(reader_);
    }
    bool ok() const { return writer_ >= 0; }
    int writer() const { return writer_; }
    void closeWriter()
    {
        if (writer_ >= 0)
            ::close(writer_);
        writer_ = -1;
    }
    // What was written, once every writer has closed its end.
    QString text() const
    {
        QByteArray bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(reader_, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, qsizetype(n));
        return QString::fromUtf8(bytes);
    }

  private:
    int reader_ = -1;
    int writer_ = -1;
};

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
    QString terminal;  // what it wrote to the terminal, when it had one
};

QString programPath()
{
    const QString fromEnvironment = qEnvironmentVariable("TILEGRID_PROGRAM");
    return fromEnvironment.isEmpty() ? QStringLiteral(TILEGRID_PROGRAM_PATH) : fromEnvironment;
}

// Messages are compared as written, in a UTF-8 locale unless locale names another.
Finished runTilegrid(const QStringList& arguments, const QString& folder,
                     const QString& locale = QStringLiteral("C.UTF-8"),
                     const Conditions& conditions = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1StringView(name));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    Terminal terminal;
    if (conditions.onTerminal) {
        EXPECT_TRUE(terminal.ok()) << "no terminal to be had";
        process.setChildProcessModifier([fd = terminal.writer()] { ::dup2(fd, STDERR_FILENO); });
    }
    QStringList limits;
    if (conditions.addressSpaceKiB > 0)
        limits << QStringLiteral("ulimit -v %1").arg(conditions.addressSpaceKiB);
    // A file grown beyond the limit fails its write, as on a full disk, instead of ending the
    // program by a signal.
    if (conditions.fileBlocks >= 0)
        limits << QStringLiteral("trap '' XFSZ")
               << QStringLiteral("ulimit -f %1").arg(conditions.fileBlocks);
    if (!limits.isEmpty())
        process.start(QStringLiteral("/bin/sh"),
                      QStringList{"-c", limits.join(QStringLiteral(" && ")) +
                                            QStringLiteral(" && exec \"$0\" \"$@\""),
                                  programPath()} +
                          arguments);
    else
        process.start(programPath(), arguments);
    Finished run;
    const bool finished = process.waitForFinished(120000);
    terminal.closeWriter();
    if (!finished || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "tilegrid did not finish: " << arguments.join(' ').toStdString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (conditions.onTerminal)
        run.terminal = terminal.text();
    return run;
}

std::string describe(const Finished& run)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3--- terminal\n%4")
        .arg(run.exitCode)
        .arg(run.out, run.err, run.terminal)
        .toStdString();
}

QImage loadResult(const QString& path)
{
    const DecodeResult decoded = loadImageFile(path);
    EXPECT_TRUE(decoded.ok()) << decoded.error.toStdString();
    return decoded.image;
}

void saveSheet(const QImage& image, const QString& path)
{
    ASSERT_EQ(saveImageFile(image, path, imageFormatOf(path).value()), QString());
}

// A plain reference for any tile size and gutter: every result pixel found from its own position.
QImage plainTransform(const QImage& source, TileShape tile, int fromGutter, int toGutter,
                      QRgb colour)
{
    const TileShape from = tile.grown(fromGutter);
    const TileShape to = tile.grown(toGutter);
    const int columns = source.width() / from.width;
    const int rows = source.height() / from.height;
    QImage result(columns * to.width, rows * to.height, QImage::Format_RGB32);
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x) {
            const int inX = x % to.width;
            const int inY = y % to.height;
            result.setPixel(x, y,
                            inX >= tile.width || inY >= tile.height
                                ? colour
                                : rgbAt(source, x / to.width * from.width + inX,
                                        y / to.height * from.height + inY));
        }
    return result;
}

// The sheet with cell k of the columns x rows cells taken from cell sourceOf[k], pixel by pixel;
// everything else as it was.
QImage cellsFrom(const QImage& source, const std::vector<int>& sourceOf, int columns,
                 TileShape cell)
{
    QImage result = source.copy();
    for (size_t k = 0; k < sourceOf.size(); ++k)
        for (int y = 0; y < cell.height; ++y)
            for (int x = 0; x < cell.width; ++x)
                result.setPixel(int(k) % columns * cell.width + x,
                                int(k) / columns * cell.height + y,
                                rgbAt(source, sourceOf[k] % columns * cell.width + x,
                                      sourceOf[k] / columns * cell.height + y));
    return result;
}

// The sheet with every tile put back where its map number says.
QImage restoredCells(const QImage& source, const TileMap& map, TileShape cell)
{
    std::vector<int> sourceOf(size_t(map.fullTiles()));
    const std::vector<int32_t> numbers = map.numbers();
    for (size_t p = 0; p < numbers.size(); ++p)
        sourceOf[size_t(numbers[p])] = int(p);
    return cellsFrom(source, sourceOf, map.columns(), cell);
}

// A permutation of columns x rows tiles, the same for every run.
TileMap shuffledMap(int columns, int rows, unsigned seed)
{
    std::vector<int32_t> numbers(static_cast<size_t>(columns * rows));
    std::iota(numbers.begin(), numbers.end(), 0);
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(seed));
    return TileMap(columns + 1, rows + 1).withNumbers(numbers);
}

class CommandLineTest : public ::testing::Test
{
  protected:
    QString path(const QString& name) const { return folder.filePath(name); }
    Finished run(const QStringList& arguments) const
    {
        return runTilegrid(arguments, folder.path());
    }

    QTemporaryDir folder;
};

// ---------------------------------------------------------------------------------------------
// Commands against expected pixels. "in", "out" and "map" in the arguments are the files of the
// row; the window's own operations are the reference for 8 and 16 with a gutter of 1.

struct PixelCase {
    const char* name;
    QStringList arguments;
    const char* input;  // its extension picks the format the input is stored in
    const char* output;
    QSize size;
    TileShape mapCell;  // a tile and its gutter in the map file's sheet, when the command uses one
    std::function<QImage(const QImage& input, const TileMap& map)> expected;
    const char* said = "";  // what the command adds to its "IN -> OUT" line
};

void PrintTo(const PixelCase& c, std::ostream* os)
{
    *os << c.name;
}

class PixelTable : public CommandLineTest, public ::testing::WithParamInterface<PixelCase>
{
};

TEST_P(PixelTable, WritesThePixelsOfTheReference)
{
    const PixelCase& c = GetParam();
    const QString input = path(QLatin1StringView(c.input));
    const QString output = path(QLatin1StringView(c.output));
    QImage sheet = makeTestImage(c.size.width(), c.size.height());
    if (c.arguments.contains(QStringLiteral("dedupe"))) {  // the top row again, turned half round
        const QImage turned = sheet.copy(0, 0, sheet.width(), 8).mirrored(true, true);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < sheet.width(); ++x)
                sheet.setPixel(x, 8 + y, turned.pixel(x, y));
    }
    if (input.endsWith(QLatin1String(".gif")))
        writeFileBytes(input, makeGif(sheet));
    else
        saveSheet(sheet, input);
    TileMap map;
    if (c.mapCell.width > 0) {
        map = shuffledMap(sheet.width() / c.mapCell.width, sheet.height() / c.mapCell.height, 7);
        ASSERT_EQ(writeMapFile(map, path(QStringLiteral("m.zeko-map"))), QString());
    }
    QStringList arguments = c.arguments;
    arguments.replaceInStrings(QStringLiteral("IN"), input);
    arguments.replaceInStrings(QStringLiteral("OUT"), output);
    arguments.replaceInStrings(QStringLiteral("MAP"), path(QStringLiteral("m.zeko-map")));

    const Finished result = run(arguments);

    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_EQ(result.out, QStringLiteral("%1 -> %2%3\n").arg(input, output, QString::fromUtf8(c.said)));
    EXPECT_EQ(result.err, QString());
    const QByteArray magic = readFileBytes(output).left(8);
    EXPECT_TRUE(output.endsWith(QLatin1String(".bmp"))    ? magic.startsWith("BM")
                : output.endsWith(QLatin1String(".webp")) ? magic.startsWith("RIFF")
                                                          : magic == kPngSignature);
    const QImage expected = c.expected(loadResult(input), map);
    ASSERT_FALSE(expected.isNull());
    EXPECT_TRUE(sameRgb(loadResult(output), expected));
    // An opaque sheet gives the file it always gave: the reference's pixels saved as they are.
    const QString reference = path(QStringLiteral("reference.") + QFileInfo(output).suffix());
    saveSheet(expected, reference);
    EXPECT_EQ(readFileBytes(output), readFileBytes(reference));
}

const PixelCase kPixelCases[] = {
    {"GridAdd16Defaults",
     {"grid", "add", "--crop", "IN", "-o", "OUT"},
     "in.png",
     "out.png",
     {40, 35},
     0,
     [](const QImage& in, const TileMap&) { return insertGrid(in, 16, kMagenta).image; }},
    {"GridAdd8ColourToBmp",
     {"grid", "add", "--tile", "8", "--color", "#0102fa", "--crop", "IN", "-o", "OUT"},
     "in.bmp",
     "out.bmp",
     {26, 18},
     0,
     [](const QImage& in, const TileMap&) { return insertGrid(in, 8, qRgb(1, 2, 250)).image; }},
    {"GridAdd16FromGifColourName",
     {"grid", "add", "--color=darkgreen", "IN", "--output", "OUT"},
     "in.gif",
     "out.png",
     {16, 16},
     0,
     [](const QImage& in, const TileMap&) { return insertGrid(in, 16, qRgb(0, 100, 0)).image; },
     // 256 pixels of 256 colours fill the GIF's palette.
     ": written as RGBA: the colours added do not fit in its palette of at most 256"},
    {"GridRemove8",
     {"grid", "remove", "IN", "--tile", "8x8", "--force", "--crop", "-o", "OUT"},
     "in.png",
     "out.png",
     {26, 18},
     0,
     [](const QImage& in, const TileMap&) { return removeGrid(in, 8, kMagenta).image; }},
    {"GridAdd8WebpToWebp",
     {"grid", "add", "--tile", "8", "--crop", "IN", "-o", "OUT"},
     "in.webp",
     "out.webp",
     {26, 18},
     0,
     [](const QImage& in, const TileMap&) { return insertGrid(in, 8, kMagenta).image; }},
    {"GridRemove16",
     {"grid", "remove", "IN", "--force", "--crop", "-o", "OUT"},
     "in.bmp",
     "out.png",
     {35, 35},
     0,
     [](const QImage& in, const TileMap&) { return removeGrid(in, 16, kMagenta).image; }},
    {"GridAdd24Gutter3",
     {"grid", "add", "--tile", "24", "--gutter", "3", "--color", "black", "--crop", "IN", "-o",
      "OUT"},
     "in.png",
     "out.png",
     {100, 60},
     0,
     [](const QImage& in, const TileMap&) {
         return plainTransform(in, 24, 0, 3, qRgb(0, 0, 0));
     }},
    {"GridRemove5Gutter2",
     {"grid", "remove", "--tile", "5", "--gutter", "2", "--force", "--crop", "IN", "-o", "OUT"},
     "in.png",
     "out.png",
     {40, 23},
     0,
     [](const QImage& in, const TileMap&) { return plainTransform(in, 5, 2, 0, 0); }},
    {"GridAdd6x4Gutter2",
     {"grid", "add", "--tile", "6x4", "--gutter", "2", "--crop", "IN", "-o", "OUT"},
     "in.png",
     "out.png",
     {40, 23},
     0,
     [](const QImage& in, const TileMap&) { return plainTransform(in, {6, 4}, 0, 2, kMagenta); }},
    {"GridRemove3x5",
     {"grid", "remove", "--tile", "3X5", "--force", "--crop", "IN", "-o", "OUT"},
     "in.bmp",
     "out.png",
     {17, 37},
     0,
     [](const QImage& in, const TileMap&) { return plainTransform(in, {3, 5}, 1, 0, 0); }},
    {"GridExtrude16",
     {"grid", "extrude", "IN", "-o", "OUT"},
     "in.png",
     "out.png",
     {32, 48},
     0,
     [](const QImage& in, const TileMap&) { return extrudeTiles(in, TileLayout::spaced(16, 16, 0, 0), 1).image; }},
    {"GridExtrude8By2WithMarginAndSpacing",
     {"grid", "extrude", "--tile", "8", "--px=2", "--margin", "1", "--spacing", "2", "IN", "-o",
      "OUT"},
     "in.bmp",
     "out.png",
     {30, 20},
     0,
     [](const QImage& in, const TileMap&) { return extrudeTiles(in, TileLayout::spaced(8, 8, 1, 2), 2).image; }},
    {"GridUnextrude8By2",
     {"grid", "unextrude", "--tile", "8", "--px", "2", "--force", "IN", "-o", "OUT"},
     "in.png",
     "out.bmp",
     {36, 24},
     0,
     [](const QImage& in, const TileMap&) { return unextrudeTiles(in, TileLayout::spaced(8, 8, 0, 0), 2).image; }},
    {"MapRestore16",
     {"map", "restore", "IN", "--map", "MAP", "-o", "OUT"},
     "in.png",
     "out.png",
     {50, 40},
     16,
     [](const QImage& in, const TileMap& map) { return restoredImage(in, map, 16); }},
    {"MapRestore8WithGrid",
     {"map", "restore", "--tile", "8", "--gutter", "1", "IN", "--map", "MAP", "-o", "OUT"},
     "in.png",
     "out.bmp",
     {40, 30},
     9,
     [](const QImage& in, const TileMap& map) { return restoredImage(in, map, 9); }},
    {"MapApply24",
     {"map", "apply", "--tile", "24", "IN", "--map", "MAP", "-o", "OUT"},
     "in.bmp",
     "out.png",
     {100, 75},
     24,
     [](const QImage& in, const TileMap& map) { return restoredImage(in, map.inverse(), 24); }},
    {"MapRestore6x4WithGrid",
     {"map", "restore", "--tile", "6x4", "--gutter", "1", "IN", "--map", "MAP", "-o", "OUT"},
     "in.png",
     "out.png",
     {38, 27},
     {7, 5},
     [](const QImage& in, const TileMap& map) { return restoredCells(in, map, {7, 5}); }},
    {"MapMove5x3",
     {"map", "move", "--tile", "5x3", "IN", "--block", "0,0,2,3", "--to", "1,1", "-o", "OUT"},
     "in.png",
     "out.png",
     {17, 14},
     0,
     [](const QImage& in, const TileMap&) {
         TileModel model(3, 4);
         model.apply(blockMoveSteps({QRect(0, 0, 2, 3), QPoint(1, 1)}));
         return cellsFrom(in, model.numbers, 3, {5, 3});
     }},
    {"MapMove8WithGridTwice",
     {"map", "move", "--tile", "8", "--gutter", "1", "IN", "--map", "MAP", "--block", "1,0,2,2",
      "--to", "2,1", "--block", "0,0,1,1", "--to", "3,2", "-o", "OUT"},
     "in.png",
     "out.png",
     {49, 39},
     9,
     [](const QImage& in, const TileMap&) {
         TileModel model(5, 4);
         model.apply(blockMoveSteps({QRect(1, 0, 2, 2), QPoint(1, 1)}));
         model.apply(blockMoveSteps({QRect(0, 0, 1, 1), QPoint(3, 2)}));
         return arrangedImage(in, model.numbers, 5, 4, 9);
     }},
    {"SheetDedupe8Flips",
     {"sheet", "dedupe", "--tile", "8", "--flips", "--columns", "3", "IN", "-o", "OUT",
      "--remap-out", "MAP"},
     "in.png",
     "out.png",
     {32, 16},
     0,
     [](const QImage& in, const TileMap&) {
         QImage packed(24, 16, in.format());
         packed.fill(Qt::black);
         for (int t = 0; t < 4; ++t)
             for (int y = 0; y < 8; ++y)
                 for (int x = 0; x < 8; ++x)
                     packed.setPixel(t % 3 * 8 + x, t / 3 * 8 + y, in.pixel(t * 8 + x, y));
         return packed;
     },
     ": 8 tiles → 4 (4 duplicates merged)"},
    {"SheetDedupe4x8Flips",
     {"sheet", "dedupe", "--tile", "4x8", "--flips", "--columns", "3", "IN", "-o", "OUT",
      "--remap-out", "MAP"},
     "in.png",
     "out.png",
     {32, 16},
     0,
     [](const QImage& in, const TileMap&) {
         QImage packed(12, 24, in.format());
         packed.fill(Qt::black);
         for (int t = 0; t < 8; ++t)
             for (int y = 0; y < 8; ++y)
                 for (int x = 0; x < 4; ++x)
                     packed.setPixel(t % 3 * 4 + x, t / 3 * 8 + y, in.pixel(t * 4 + x, y));
         return packed;
     },
     ": 16 tiles → 8 (8 duplicates merged)"},
};

INSTANTIATE_TEST_SUITE_P(Commands, PixelTable, ::testing::ValuesIn(kPixelCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Transparency: every kind of PNG keeps each pixel's alpha through every command that writes a
// sheet; grid lines are opaque.

QImage loadWithAlpha(const QString& path)
{
    const DecodeResult decoded = loadImageFile(path, Transparency::Keep);
    EXPECT_TRUE(decoded.ok()) << decoded.error.toStdString();
    return decoded.image.convertToFormat(QImage::Format_ARGB32);
}

qint64 notOpaque(const QImage& image)
{
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) != 255;
    return count;
}

// Adds a grid of tile and takes it off again, moves the tiles by a shuffled map into a BMP and puts
// them back: each result keeps the alpha of input, straight, and the gridded one has opaque
// magenta lines. The gridded PNG is colour type 6 (magenta leaves no grey sheet grey, nor fits a
// full palette); small and smallest may find a smaller form for the others.
void expectAlphaKept(const std::function<Finished(QStringList)>& run, const QString& input,
                     int tile)
{
    // Our reader, checked against Qt's elsewhere; Qt does not always tell the colour under alpha 0.
    const QImage reference = loadWithAlpha(input);
    const QImage qt = QImage(input).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(reference.size(), qt.size());
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x)
            ASSERT_EQ(qAlpha(reference.pixel(x, y)), qAlpha(qt.pixel(x, y))) << x << "," << y;
    ASSERT_GT(notOpaque(reference), 0);
    const int columns = reference.width() / tile, rows = reference.height() / tile;
    const QImage whole = reference.copy(0, 0, columns * tile, rows * tile);
    const TileMap map = shuffledMap(columns, rows, 5);
    ASSERT_EQ(writeMapFile(map, QFileInfo(input).dir().filePath("m.zeko-map")), QString());
    const QString size = QString::number(tile);
    for (const QStringList& arguments :
         {QStringList{"grid", "add", "--crop", "--tile", size, input, "-o", "grid.png"},
          QStringList{"grid", "remove", "--tile", size, "grid.png", "-o", "plain.png",
                      "--compression", "smallest"},
          QStringList{"map", "apply", "--tile", size, input, "--map", "m.zeko-map", "-o", "moved.bmp"},
          QStringList{"map", "restore", "--tile", size, "moved.bmp", "--map", "m.zeko-map", "-o",
                      "back.png", "--compression=small"}}) {
        const Finished result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << describe(result);
    }
    const auto file = [&](const char* name) { return QFileInfo(input).dir().filePath(name); };
    const QImage gridded = loadWithAlpha(file("grid.png"));
    EXPECT_EQ(gridded, insertGrid(reference, tile, kMagenta).image);
    EXPECT_EQ(gridded.pixel(tile, 0), kMagenta);
    EXPECT_EQ(loadWithAlpha(file("plain.png")), whole);
    EXPECT_EQ(loadWithAlpha(file("moved.bmp")),
              appliedImage(reference, map, tile).convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(loadWithAlpha(file("back.png")), reference);
    EXPECT_EQ(readFileBytes(file("grid.png")).at(25), 6);
    // The compression asked for reaches the writer: each file is the one it makes.
    for (const auto& [name, compression] : {std::pair{"plain.png", PngCompression::Smallest},
                                            std::pair{"back.png", PngCompression::Small}}) {
        PngWriteOptions png;
        png.compression = compression;
        QBuffer again;
        again.open(QIODevice::WriteOnly);
        QString error;
        ASSERT_TRUE(writePng(loadWithAlpha(file(name)), again, error, png)) << name;
        EXPECT_EQ(again.data(), readFileBytes(file(name))) << name;
    }
    const Finished info = run({"info", input});
    EXPECT_TRUE(info.out.contains(QStringLiteral("  transparent pixels: %1 of %2\n")
                                      .arg(notOpaque(reference))
                                      .arg(qint64(reference.width()) * reference.height())))
        << describe(info);
}

class TransparentPngs : public CommandLineTest, public ::testing::WithParamInterface<PngLayout>
{
};

TEST_P(TransparentPngs, KeepEveryAlphaThroughEveryCommand)
{
    const QString input = path(QStringLiteral("in.png"));
    writeFileBytes(input, makePng(37, 35, GetParam()));
    expectAlphaKept([this](const QStringList& arguments) { return run(arguments); }, input, 16);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TransparentPngs, ::testing::ValuesIn(transparentPngLayouts()),
                         [](const auto& info) { return pngLayoutName(info.param); });

// ---------------------------------------------------------------------------------------------
// Stored forms: every kind of PNG (and a GIF) goes through every command that writes a sheet with
// the pixels it gives when stored as a plain BMP instead, all four channels. A palette stays a
// palette, its entries and tRNS first in the same order and its bit depth while the entries fit
// it, unless the colours added do not fit in 256 entries; grey stays grey while the result is
// grey; RGB and RGBA are written as before. When a palette or grey cannot be kept, the command
// says so.

// The chunk of type in png, empty when it has none.
QByteArray chunkOf(const QByteArray& png, const char* type)
{
    for (const PngChunk& chunk : pngChunks(png))
        if (chunk.type == type)
            return chunk.data;
    return {};
}

TEST_F(CommandLineTest, EveryStoredFormKeepsItsPixelsAndItsKindThroughEveryCommand)
{
    std::vector<std::pair<std::string, QByteArray>> inputs;
    for (const PngLayout layout :
         {PngLayout{0, 1}, PngLayout{0, 2}, PngLayout{0, 4}, PngLayout{0, 8}, PngLayout{0, 16},
          PngLayout{0, 4, true}, PngLayout{2, 8}, PngLayout{2, 16}, PngLayout{2, 8, true},
          PngLayout{3, 1}, PngLayout{3, 2}, PngLayout{3, 4}, PngLayout{3, 8}, PngLayout{3, 2, true},
          PngLayout{3, 8, true}, PngLayout{4, 8}, PngLayout{4, 16}, PngLayout{6, 8},
          PngLayout{6, 16}}) {
        std::ostringstream name;
        PrintTo(layout, &name);
        inputs.emplace_back(name.str(), makePng(32, 24, layout));
    }
    const DecodeResult fewColours = decodeImageData(makePng(32, 24, {3, 4}), "four.png");
    ASSERT_TRUE(fewColours.ok());
    inputs.emplace_back("GIF of 16 colours", makeGif(fewColours.image));
    inputs.emplace_back("GIF of 16 colours, one transparent", makeGif(fewColours.image, 1));

    ASSERT_EQ(writeMapFile(shuffledMap(4, 3, 3), path(QStringLiteral("m.zeko-map"))), QString());
    writeFileBytes(path(QStringLiteral("l.csv")), "0,5\n");
    const QList<QStringList> commands = {
        {"grid", "add", "--tile", "8", "--crop", "IN", "-o", "OUT"},
        {"grid", "remove", "--tile", "8", "--force", "--crop", "IN", "-o", "OUT", "--compression",
         "small"},
        {"grid", "extrude", "--tile", "8", "IN", "-o", "OUT", "--compression", "smallest"},
        {"grid", "unextrude", "--tile", "8", "--force", "--crop", "IN", "-o", "OUT"},
        {"map", "apply", "--tile", "8", "IN", "--map", "m.zeko-map", "-o", "OUT"},
        {"map", "restore", "--tile", "8", "IN", "--map", "m.zeko-map", "-o", "OUT",
         "--compression", "smallest"},
        {"map", "move", "--tile", "8", "IN", "--map", "m.zeko-map", "--block", "0,0,1,1", "--to",
         "1,1", "-o", "OUT"},
        {"sheet", "dedupe", "--tile", "8", "--columns", "3", "IN", "-o", "OUT", "--remap-out",
         "r.remap", "--compression", "small"},
        {"sheet", "prune", "--tile", "8", "IN", "--used-by", "l.csv", "--remap-out", "r.remap",
         "-o", "OUT"},
    };
    for (const auto& [name, bytes] : inputs) {
        SCOPED_TRACE(name);
        const bool gif = bytes.startsWith("GIF");
        const QString input = path(gif ? QStringLiteral("in.gif") : QStringLiteral("in.png"));
        writeFileBytes(input, bytes);
        const QString plain = path(QStringLiteral("plain.bmp"));
        ASSERT_EQ(saveImageFile(loadWithAlpha(input), plain, ImageFileFormat::Bmp), QString());
        // What the input stores: colour type, bit depth, and a palette's RGB and alpha bytes.
        const int colourType = gif ? 3 : bytes.at(25);
        const int depth = gif ? 4 : bytes.at(24);
        QByteArray palette = chunkOf(bytes, "PLTE"), alphas = chunkOf(bytes, "tRNS");
        if (gif)
            palette = bytes.mid(13, 3 * 16);
        // info tells the colour type and bit depth a PNG stores, and a palette's size.
        const Finished info = run({"info", input});
        const QString entries = colourType == 3
                                    ? QStringLiteral(" of %1 colours").arg(palette.size() / 3)
                                    : QString();
        EXPECT_TRUE(info.out.contains(
            gif ? QStringLiteral("-bit palette%1\n").arg(entries)
                : QStringLiteral("%1 (PNG colour type %2, bit depth %3)\n")
                      .arg(entries)
                      .arg(colourType)
                      .arg(depth)))
            << describe(info);
        for (const QStringList& command : commands) {
            SCOPED_TRACE(command.join(' ').toStdString());
            QStringList arguments = command, reference = command;
            arguments.replaceInStrings(QStringLiteral("IN"), input);
            arguments.replaceInStrings(QStringLiteral("OUT"), path(QStringLiteral("out.png")));
            reference.replaceInStrings(QStringLiteral("IN"), plain);
            reference.replaceInStrings(QStringLiteral("OUT"), path(QStringLiteral("ref.png")));
            const Finished result = run(arguments);
            ASSERT_EQ(result.exitCode, 0) << describe(result);
            ASSERT_EQ(run(reference).exitCode, 0);
            const QImage out = loadWithAlpha(path(QStringLiteral("out.png")));
            const QImage expected = loadWithAlpha(path(QStringLiteral("ref.png")));
            ASSERT_EQ(out, expected);

            const QByteArray file = readFileBytes(path(QStringLiteral("out.png")));
            const int written = file.at(25);
            std::set<QRgb> colours, greys;
            for (int i = 0; i + 2 < palette.size(); i += 3)
                colours.insert(qRgba(uchar(palette[i]), uchar(palette[i + 1]),
                                     uchar(palette[i + 2]),
                                     i / 3 < alphas.size() ? uchar(alphas[i / 3]) : 255));
            bool grey = true;
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x) {
                    const QRgb pixel = expected.pixel(x, y);
                    colours.insert(pixel);
                    grey = grey && qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
                }
            bool fallback = false;
            if (colourType == 3) {
                fallback = colours.size() > 256;
                if (fallback) {
                    EXPECT_TRUE(written == 2 || written == 6) << written;
                } else {
                    EXPECT_EQ(written, 3);
                    const QByteArray entries = chunkOf(file, "PLTE");
                    EXPECT_TRUE(entries.startsWith(palette));
                    EXPECT_TRUE(chunkOf(file, "tRNS").startsWith(alphas));
                    int fits = depth;
                    while ((3 << fits) < entries.size())
                        fits *= 2;
                    EXPECT_EQ(file.at(24), fits);
                }
            } else if (colourType == 0 || colourType == 4) {
                fallback = !grey;
                EXPECT_EQ(written == 0 || written == 4, grey) << written;
            } else {
                EXPECT_EQ(written, readFileBytes(path(QStringLiteral("ref.png"))).at(25));
            }
            EXPECT_EQ(result.out.contains(QStringLiteral("written as")), fallback) << describe(result);
        }
    }
}

// A released game's tile sheet, mostly transparent, keeps every alpha value. Debian's
// crawl-tiles-data has it; without that package there is nothing to check.
TEST_F(CommandLineTest, AGameSheetKeepsEveryAlphaValue)
{
    const QString sheet = QStringLiteral("/usr/share/crawl/dat/tiles/feat.png");
    if (!QFile::exists(sheet))
        GTEST_SKIP() << "crawl-tiles-data is not installed";
    const QString input = path(QStringLiteral("feat.png"));
    ASSERT_TRUE(QFile::copy(sheet, input));
    expectAlphaKept([this](const QStringList& arguments) { return run(arguments); }, input, 32);
}

// ---------------------------------------------------------------------------------------------
// Usage errors: exit code 2, a message naming what is wrong, and nothing written.

struct UsageCase {
    QStringList arguments;
    const char* named;  // what the message must name
};

class UsageErrors : public CommandLineTest, public ::testing::WithParamInterface<UsageCase>
{
};

TEST_P(UsageErrors, AreRefusedBeforeAnythingIsWritten)
{
    saveSheet(makeTestImage(32, 32), path(QStringLiteral("a.png")));
    saveSheet(makeTestImage(32, 32), path(QStringLiteral("b.png")));
    writeFileBytes(path(QStringLiteral("c.gif")), makeGif(makeTestImage(16, 16)));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    saveSheet(makeTestImage(32, 32), path(QStringLiteral("sub/a.png")));
    const QStringList before = folderEntries(folder.path());

    const Finished result = run(GetParam().arguments);

    EXPECT_EQ(result.exitCode, 2) << describe(result);
    EXPECT_TRUE(result.err.contains(QLatin1StringView(GetParam().named))) << describe(result);
    EXPECT_EQ(result.out, QString());
    EXPECT_EQ(folderEntries(folder.path()), before);
}

const UsageCase kUsageCases[] = {
    {{"grid", "add", "a.png"}, "-o OUT, --out-dir DIR or --in-place"},
    {{"sheet", "dedupe", "a.png", "--tile-property", "frame*", "-o", "x.png", "--remap-out", "r"},
     "--used-by LEVEL..."},
    {{"levels", "remap", "--map", "m", "l.tmx", "--tile-property=", "--in-place"},
     "the name of a tile property"},
    {{"grid", "add", "a.png", "--frob", "-o", "x.png"}, "--frob"},
    {{"grdi", "add", "a.png"}, "grdi"},
    {{"--jobs", "2", "grid", "add", "a.png", "-o", "x.png"}, "--jobs"},
    {{"grid", "ad", "a.png"}, "grid ad"},
    {{"grid", "add", "a.png", "-o", "x.jpg"}, "x.jpg"},
    {{"grid", "add", "--tile", "0", "a.png", "-o", "x.png"}, "--tile"},
    {{"grid", "add", "--tile", "1025", "a.png", "-o", "x.png"}, "1025"},
    {{"grid", "add", "--tile", "32x", "a.png", "-o", "x.png"}, "32x"},
    {{"sheet", "dedupe", "--tile=0x8", "a.png", "-o", "x.png", "--remap-out", "r"}, "0x8"},
    {{"info", "--tile", "32x64x2", "a.png"}, "32x64x2"},
    {{"sheet", "merge", "a.png", "b.png", "--flips", "-o", "x.png", "--remap-out", "x.remap"},
     "--flips with --dedupe"},
    {{"grid", "add", "--gutter", "65", "a.png", "-o", "x.png"}, "--gutter"},
    {{"grid", "add", "--color", "nocolour", "a.png", "-o", "x.png"}, "nocolour"},
    {{"grid", "add", "a.png", "-o", "x.png", "--compression", "tiny"}, "tiny"},
    {{"grid", "add", "--tile"}, "--tile"},
    {{"grid", "add", "a.png", "b.png", "-o", "x.png"}, "--out-dir"},
    {{"grid", "add", "a.png", "-o", "./a.png"}, "./a.png"},
    {{"grid", "add", "a.png", "-o", "x.png", "--in-place"}, "only one"},
    {{"grid", "add", "c.gif", "--in-place"}, "c.gif"},
    {{"grid", "add", "a.png", "sub/a.png", "--out-dir", "out"}, "out/a.png"},
    {{"grid", "remove", "--color", "red", "a.png", "-o", "x.png"}, "--color"},
    {{"map"}, "Run \"tilegrid map --help\""},
    {{"grid", "extrude", "--px", "0", "a.png", "-o", "x.png"}, "--px"},
    {{"grid", "unextrude", "--margin", "-1", "a.png", "-o", "x.png"}, "--margin"},
    {{"grid", "add", "--spacing", "1", "a.png", "-o", "x.png"}, "--spacing"},
    {{"map", "restore", "a.png", "-o", "x.png"}, "--map"},
    {{"map", "apply", "a.png", "--map", "x.png", "-o", "x.png"}, "x.png"},
    {{"map", "derive", "a.png", "-o", "m.zeko-map"}, "two sheets"},
    {{"map", "derive", "a.png", "b.png", "-o", "b.png"}, "b.png"},
    {{"info", "a.png", "--in-place"}, "--in-place"},
    {{"map", "move", "a.png", "--block", "0,0,1", "--to", "1,0", "-o", "x.png"}, "0,0,1"},
    {{"map", "move", "a.png", "--block", "0,0,1,1", "-o", "x.png"}, "--to"},
    {{"map", "move", "a.png", "--block", "0,0,1,1", "--to", "1,0", "-o", "x.png", "--map-out",
      "a.png"}, "a.png"},
    {{"levels", "remap", "a.tmx", "--in-place"}, "--map"},
    {{"sheet", "dedupe", "a.png", "-o", "x.png"}, "--remap-out"},
    {{"sheet", "dedupe", "a.png", "-o", "x.png", "--remap-out", "a.png"}, "a.png"},
    {{"sheet", "prune", "a.png", "-o", "x.png", "--remap-out", "r.remap"}, "--used-by"},
    {{"sheet", "prune", "a.png", "--remap-out", "l.tmx", "--used-by", "l.tmx", "-o", "x.png"},
     "is an input"},
    {{"levels", "remap", "--map", "m.zeko-map", "a.tmx"}, "-o OUT, --out-dir DIR or --in-place"},
    {{"levels", "remap", "--map", "m.zeko-map", "a.tmx", "b.tmx", "-o", "x.tmx"}, "--out-dir"},
    {{"levels", "remap", "--map", "m.zeko-map", "--out-dir", ".", "a.tmx"}, "--in-place"},
    {{"levels", "remap", "--map", "m.zeko-map", "a.csv", "-o", "m.zeko-map"}, "m.zeko-map"},
    {{"levels", "remap", "--map", "m.zeko-map", "--grid", "sideways", "a.tmx", "-o", "x.tmx"},
     "sideways"},
    {{"levels", "remap", "--map", "m.zeko-map", "--first-id", "2", "a.csv", "--in-place"},
     "--first-id"},
    {{"levels", "remap", "--grid", "added", "--spacing", "2", "a.tmx", "--in-place"}, "--grid"},
};

// A row's name: its command and what the message must name, "GridAdd_Frob".
std::string usageCaseName(const UsageCase& row)
{
    std::string command;
    for (const QString& argument : row.arguments) {
        if (argument.startsWith(QLatin1Char('-')) || argument.contains(QLatin1Char('.')))
            break;
        command += testNameOf(argument.toStdString());
    }
    return (command.empty() ? "" : command + "_") + shortTestNameOf(row.named, 4);
}

INSTANTIATE_TEST_SUITE_P(Table, UsageErrors, ::testing::ValuesIn(kUsageCases),
                         [](const testing::TestParamInfo<UsageCase>& info) {
                             static const std::vector<std::string> names =
                                 uniqueRowNames(kUsageCases, usageCaseName);
                             return names[info.index];
                         });

TEST_F(CommandLineTest, HelpCoversEveryCommandAndVersionNamesTheRelease)
{
    const Finished help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"grid add", "grid remove", "map restore", "map apply", "map derive",
                                "levels remap", "info", "--in-place", "Examples"})
        EXPECT_TRUE(help.out.contains(QLatin1StringView(command))) << command;

    for (const char* command : {"grid add", "grid remove", "grid extrude", "grid unextrude",
                                "map restore", "map apply", "map move", "map derive",
                                "levels remap", "info"}) {
        QStringList arguments = QString::fromLatin1(command).split(QLatin1Char(' '));
        const Finished own = run(arguments << QStringLiteral("--help"));
        EXPECT_EQ(own.exitCode, 0) << command;
        EXPECT_TRUE(own.out.startsWith(QStringLiteral("Usage: tilegrid %1 ").arg(command)));
        EXPECT_TRUE(own.out.contains(QStringLiteral("  tilegrid %1 ").arg(command))) << command;
    }

    // Every help, of each group and command, prints its UTF-8 once, and ASCII in the C locale.
    QList<QStringList> helps{{"--help"}};
    for (const CommandSpec& command : commandTable())
        helps << QStringList{command.group, "--help"} << (command.words() + " --help").split(u' ');
    const QRegularExpression twice(QStringLiteral("[\\x{c2}\\x{c3}][\\x{80}-\\x{bf}]"));
    for (const QStringList& arguments : helps) {
        const Finished own = run(arguments);
        EXPECT_FALSE(own.out.contains(QChar::ReplacementCharacter) || own.out.contains(twice));
        const Finished plain = runTilegrid(arguments, folder.path(), QStringLiteral("C"));
        EXPECT_EQ(plain.out.toLatin1(), plain.out.toUtf8()) << describe(plain);
        EXPECT_EQ(own.exitCode + plain.exitCode, 0) << describe(own) << describe(plain);
    }

    const Finished version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("tilegrid %1\n").arg(QStringLiteral(TILEGRID_VERSION)));
}

// A sheet arranged by a map, moved on: the map written after the moves still restores the
// original; a block reaching outside the whole tiles is named and writes nothing.
TEST_F(CommandLineTest, MovedBlocksKeepTheMapAndABadBlockWritesNothing)
{
    const QImage original = makeTestImage(4 * 16 + 5, 3 * 16);
    const TileMap map = shuffledMap(4, 3, 11);
    saveSheet(appliedImage(original, map, 16), path(QStringLiteral("arranged.png")));
    ASSERT_EQ(writeMapFile(map, path(QStringLiteral("m.zeko-map"))), QString());

    const Finished moved = run({"map", "move", "arranged.png", "--map", "m.zeko-map", "--block",
                                "0,0,3,2", "--to", "1,1", "-o", "moved.png", "--map-out", "n.zeko-map"});
    ASSERT_EQ(moved.exitCode, 0) << describe(moved);
    const Finished back = run({"map", "restore", "moved.png", "--map", "n.zeko-map", "-o", "back.png"});
    ASSERT_EQ(back.exitCode, 0) << describe(back);
    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("back.png"))), original));

    const Finished bad = run({"map", "move", "arranged.png", "--block", "0,0,1,1", "--to", "1,0",
                              "--block", "3,0,2,1", "--to", "0,0", "-o", "bad.png", "--map-out", "b.zeko-map"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("--block 3,0,2,1"))) << describe(bad);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("bad.png"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("b.zeko-map"))));
}

// ---------------------------------------------------------------------------------------------
// One bad file among good ones: the others are done, the bad one is named, nothing half-written.

TEST_F(CommandLineTest, FailuresAreNamedAndTheOtherFilesAreStillDone)
{
    const QImage sheet = makeTestImage(48, 40);
    saveSheet(sheet, path(QStringLiteral("good1.png")));
    saveSheet(sheet, path(QStringLiteral("good2.bmp")));
    saveSheet(sheet, path(QStringLiteral("blocked.png")));
    const QByteArray whole = readFileBytes(path(QStringLiteral("good1.png")));
    writeFileBytes(path(QStringLiteral("cut.png")), whole.left(whole.size() / 2));
    saveSheet(makeTestImage(10, 10), path(QStringLiteral("small.png")));
    // A folder where blocked.png's result should go makes its save fail.
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("out/blocked.png")));

    const Finished result =
        run({"grid", "add", "--crop", "--jobs", "3", "--out-dir", "out", "good1.png", "cut.png",
             "missing.png", "blocked.png", "small.png", "good2.bmp"});

    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_EQ(result.out,
              QStringLiteral("good1.png -> out/good1.png\ngood2.bmp -> out/good2.bmp\n"));
    // Qt's PNG reader lets libpng print its own line as well; ours are the ones that count.
    const QStringList failures = result.err.split(QLatin1Char('\n'))
                                     .filter(QRegularExpression(QStringLiteral("^tilegrid: ")));
    ASSERT_EQ(failures.size(), 4) << describe(result);
    EXPECT_TRUE(failures[0].contains(QStringLiteral("“cut.png” is damaged"))) << describe(result);
    EXPECT_TRUE(failures[1].contains(QStringLiteral("“missing.png” does not exist")));
    EXPECT_TRUE(failures[2].contains(QStringLiteral("Could not save “out/blocked.png”")));
    EXPECT_TRUE(failures[3].contains(
        QStringLiteral("“small.png” holds no whole 16 × 16 tile. It is 10 × 10 pixels.")));
    EXPECT_EQ(folderEntries(path(QStringLiteral("out"))),
              QStringList({"blocked.png", "good1.png", "good2.bmp"}));
    EXPECT_EQ(folderEntries(path(QStringLiteral("out/blocked.png"))), QStringList());
    const QImage expected = insertGrid(sheet, 16, kMagenta).image;
    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("out/good1.png"))), expected));
    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("out/good2.bmp"))), expected));

    // In place, a file that fails is left exactly as it was.
    const QByteArray cut = readFileBytes(path(QStringLiteral("cut.png")));
    const Finished inPlace =
        run({"grid", "add", "--crop", "--quiet", "--in-place", "cut.png", "good1.png"});
    EXPECT_EQ(inPlace.exitCode, 1) << describe(inPlace);
    EXPECT_EQ(inPlace.out, QString());
    EXPECT_EQ(readFileBytes(path(QStringLiteral("cut.png"))), cut);
    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("good1.png"))), expected));
    EXPECT_EQ(folderEntries(folder.path()), QStringList({"blocked.png", "cut.png", "good1.png",
                                                         "good2.bmp", "out", "small.png"}));

    // A name holding "%2" is named as written, not filled in as a place of the message.
    saveSheet(makeTestImage(10, 10), path(QStringLiteral("tiny%2.png")));
    const Finished tiny =
        run({"sheet", "dedupe", "tiny%2.png", "-o", "t.png", "--remap-out", "t.remap"});
    EXPECT_TRUE(tiny.err.contains(QStringLiteral("“tiny%2.png” holds no whole 16 × 16 tile.")))
        << describe(tiny);
}

// ---------------------------------------------------------------------------------------------
// map derive: the map it finds restores the original and applies back to the rearrangement.

struct DeriveCase {
    const char* name;
    TileShape tile;
    int gutter;  // 0: no grid
};

void PrintTo(const DeriveCase& c, std::ostream* os)
{
    *os << c.name;
}

class DeriveThenRestore : public CommandLineTest, public ::testing::WithParamInterface<DeriveCase>
{
};

// columns x rows tiles, each one of only five patterns so that many are identical, and partial
// strips of 3 pixels.
QImage sheetWithTwins(int columns, int rows, TileShape tile, int gutter)
{
    QImage sheet(columns * tile.width + 3, rows * tile.height + 3, QImage::Format_RGB32);
    for (int y = 0; y < sheet.height(); ++y)
        for (int x = 0; x < sheet.width(); ++x) {
            const int pattern = (x / tile.width * 7 + y / tile.height * 3) % 5;
            sheet.setPixel(x, y,
                           pixelColour(x % tile.width + pattern * tile.width, y % tile.height));
        }
    return gutter == 0 ? sheet
                       : transformTiles(sheet, tile, 0, gutter, qRgb(9, 9, 9)).image;
}

TEST_P(DeriveThenRestore, GivesBackBothSheets)
{
    const DeriveCase& c = GetParam();
    const TileShape pitch = c.tile.grown(c.gutter);
    const int w = pitch.width;
    const int h = pitch.height;
    const QImage original = sheetWithTwins(6, 5, c.tile, c.gutter);
    const TileMap moves = shuffledMap(6, 5, 11);
    const QImage rearranged = appliedImage(original, moves, pitch);
    saveSheet(original, path(QStringLiteral("original.png")));
    saveSheet(rearranged, path(QStringLiteral("rearranged.bmp")));
    QStringList layout{QStringLiteral("--tile"), shapeText(c.tile)};
    if (c.gutter > 0)
        layout << QStringLiteral("--gutter") << QString::number(c.gutter);

    const Finished derive =
        run(QStringList{"map", "derive", "original.png", "rearranged.bmp", "-o", "m.zeko-map"} +
            layout);
    ASSERT_EQ(derive.exitCode, 0) << describe(derive);
    const Finished restore = run(
        QStringList{"map", "restore", "rearranged.bmp", "--map", "m.zeko-map", "-o", "back.png"} +
        layout);
    ASSERT_EQ(restore.exitCode, 0) << describe(restore);
    const Finished apply =
        run(QStringList{"map", "apply", "original.png", "--map", "m.zeko-map", "-o", "again.png"} +
            layout);
    ASSERT_EQ(apply.exitCode, 0) << describe(apply);

    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("back.png"))), original));
    EXPECT_TRUE(sameRgb(loadResult(path(QStringLiteral("again.png"))), rearranged));
    // Identical tiles take their originals in reading order.
    const MapParseResult read = readMapFile(path(QStringLiteral("m.zeko-map")), 6, 5, c.tile);
    ASSERT_TRUE(read.map) << read.error.toStdString();
    const std::vector<int32_t> numbers = read.map->numbers();
    for (size_t p = 0; p < numbers.size(); ++p)
        for (size_t q = p + 1; q < numbers.size(); ++q)
            if (sameBlock(rearranged, int(p % 6) * w, int(p / 6) * h, rearranged, int(q % 6) * w,
                          int(q / 6) * h, c.tile.width, c.tile.height)) {
                EXPECT_LT(numbers[p], numbers[q]) << p << " " << q;
            }

    // A tile that is not in the original, or that is there fewer times, is refused by its
    // position, and no map is written.
    QImage altered = rearranged;
    altered.setPixel(2 * w + 1, 3 * h + 1, qRgb(1, 254, 3));
    QImage doubled = rearranged;
    int from = 0;
    while (sameBlock(rearranged, from * w, 0, rearranged, 2 * w, 3 * h, c.tile.width,
                     c.tile.height))
        ++from;
    copyBlock(rearranged, QPoint(from * w, 0), doubled, QPoint(2 * w, 3 * h), c.tile.size());
    const struct {
        QString file;
        const QImage& image;
        QString reason;
    } refusals[] = {
        {"altered.png", altered, "column 3, row 4 of “altered.png”"},
        {"doubled.png", doubled, "occurs more often there than in “original.png”"},
    };
    for (const auto& refusal : refusals) {
        saveSheet(refusal.image, path(refusal.file));
        const Finished refused = run(
            QStringList{"map", "derive", "original.png", refusal.file, "-o", "n.zeko-map"} + layout);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.err.contains(refusal.reason)) << describe(refused);
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("n.zeko-map"))));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeriveThenRestore,
                         ::testing::Values(DeriveCase{"Tiles8", 8, 0},
                                           DeriveCase{"Tiles16Grid1", 16, 1},
                                           DeriveCase{"Tiles24Grid2", 24, 2},
                                           DeriveCase{"Tiles6x10", {6, 10}, 0},
                                           DeriveCase{"Tiles12x5Grid1", {12, 5}, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// levels remap: the map file's rearrangement carried into level files on disk.

// A map of four tiles holding the originals 1, 3, 0, 2: original tile 0 now stands at 2, 1 at 0,
// 2 at 3 and 3 at 1. In gids (first gid 1): 1 -> 3, 2 -> 1, 3 -> 4, 4 -> 2.
const QByteArray kFourTileMap = "1\r\n3\r\n0\r\n2\r\n";

const QByteArray kEmbeddedSheet =
    " <tileset firstgid=\"1\" name=\"sheet\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"4\" "
    "columns=\"2\">\n  <image source=\"sheet.png\" width=\"16\" height=\"16\"/>\n </tileset>\n";

// A 3 x 2 map whose one layer holds cells (csv), its tileset given whole.
QByteArray tmxLevel(const QByteArray& tileset, const QByteArray& cells)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<map version=\"1.10\" orientation=\"orthogonal\" width=\"3\" height=\"2\" "
           "tilewidth=\"8\" tileheight=\"8\">\n" +
           tileset +
           " <layer id=\"1\" name=\"Ground\" width=\"3\" height=\"2\">\n"
           "  <data encoding=\"csv\">\n" +
           cells + "\n</data>\n </layer>\n</map>\n";
}

class LevelsRemapTest : public CommandLineTest
{
  protected:
    void put(const QString& name, const QByteArray& bytes) const
    {
        QDir(folder.path()).mkpath(QFileInfo(path(name)).path());
        writeFileBytes(path(name), bytes);
    }
    QByteArray get(const QString& name) const { return readFileBytes(path(name)); }
};

TEST_F(LevelsRemapTest, RenumbersTmxAndCsvLevelsIntoAFolderAndInPlace)
{
    put("m.zeko-map", kFourTileMap);
    // The last cell is gid 1 flipped horizontally: the flag stays.
    const QByteArray tmx = tmxLevel(kEmbeddedSheet, "1,2,0,\n3,4,2147483649");
    put("a.tmx", tmx);
    put("level.csv", "0,1\n2,3\n-1,,3\n");
    const QByteArray other =
        tmxLevel(QByteArray(kEmbeddedSheet).replace("sheet.png", "other.png"), "1,2,0,\n3,4,1");
    put("other.tmx", other);
    const QByteArray remappedTmx = tmxLevel(kEmbeddedSheet, "3,1,0,\n4,2,2147483651");
    const QByteArray remappedCsv = "2,0\n3,1\n-1,,1\n";

    const Finished intoFolder =
        run({"levels", "remap", "--map", "m.zeko-map", "--sheet", "sheet.png", "--out-dir", "out",
             "a.tmx", "level.csv", "other.tmx"});
    ASSERT_EQ(intoFolder.exitCode, 0) << describe(intoFolder);
    EXPECT_EQ(intoFolder.err, QString());
    EXPECT_EQ(intoFolder.out,
              QStringLiteral("Updated “a.tmx” into “out/a.tmx” for the sheet “sheet.png”: 5 cells "
                             "changed.\n"
                             "Updated “level.csv” into “out/level.csv” for the sheet “sheet.png”: "
                             "5 cells changed.\n"
                             "Skipped “other.tmx”: it does not use the sheet “sheet.png” (its "
                             "tilesets show “other.png”).\n"
                             "2 files updated (10 cells changed), 1 skipped, 0 failed.\n"));
    EXPECT_EQ(get("out/a.tmx"), remappedTmx);
    EXPECT_EQ(get("out/level.csv"), remappedCsv);
    EXPECT_EQ(folderEntries(path("out")), QStringList({"a.tmx", "level.csv"}));
    EXPECT_EQ(get("a.tmx"), tmx);
    EXPECT_EQ(get("other.tmx"), other);

    // In place, with a level that cannot be read among them: it is named with the place and the
    // reason and left as it was, and the others are still done.
    const QByteArray beyond = tmxLevel(kEmbeddedSheet, "1,2,0,\n3,9,1");
    put("beyond.tmx", beyond);
    const Finished inPlace = run({"levels", "remap", "--quiet", "--map", "m.zeko-map", "a.tmx",
                                  "beyond.tmx", "level.csv", "--in-place"});
    EXPECT_EQ(inPlace.exitCode, 1) << describe(inPlace);
    EXPECT_EQ(inPlace.out, QString());
    EXPECT_EQ(inPlace.err, QStringLiteral("tilegrid: Left “beyond.tmx” as it was: line 9, column "
                                          "3, layer “Ground”, cell (1, 1): gid 9 lies beyond the "
                                          "tileset “sheet” (gids 1 to 4).\n"))
        << describe(inPlace);
    EXPECT_EQ(get("beyond.tmx"), beyond);
    EXPECT_EQ(get("a.tmx"), remappedTmx);
    EXPECT_EQ(get("level.csv"), remappedCsv);

    // CSV levels that count tiles from 1, and a grid added to the sheet, into one file.
    put("one.csv", "1 2\n3 4 0\n");
    const Finished fromOne = run({"levels", "remap", "--map", "m.zeko-map", "--first-id", "1",
                                  "--grid", "added", "one.csv", "-o", "one-new.csv"});
    EXPECT_EQ(fromOne.exitCode, 0) << describe(fromOne);
    EXPECT_EQ(get("one-new.csv"), QByteArray("3 1\n4 2 0\n"));
    EXPECT_EQ(get("one.csv"), QByteArray("1 2\n3 4 0\n"));
}

TEST_F(LevelsRemapTest, ATilesetFileNeedsAPlaceOfItsOwn)
{
    put("m.zeko-map", kFourTileMap);
    const QByteArray tsx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<tileset version=\"1.10\" name=\"sheet\" tilewidth=\"8\" tileheight=\"8\" "
        "tilecount=\"4\" columns=\"2\">\n <image source=\"sheet.png\" width=\"16\" "
        "height=\"16\"/>\n <tile id=\"1\" type=\"wall\"/>\n</tileset>\n";
    const QByteArray tmx =
        tmxLevel(" <tileset firstgid=\"1\" source=\"../sheet.tsx\"/>\n", "1,2,0,\n3,4,0");
    put("sheet.tsx", tsx);
    put("maps/a.tmx", tmx);

    // -o is the one place of the map; its tileset has none, so neither is written.
    const Finished oneFile =
        run({"levels", "remap", "--map", "m.zeko-map", "maps/a.tmx", "-o", "new.tmx"});
    EXPECT_EQ(oneFile.exitCode, 1) << describe(oneFile);
    EXPECT_TRUE(oneFile.err.contains(QStringLiteral("use --out-dir DIR or --in-place")))
        << describe(oneFile);
    EXPECT_TRUE(oneFile.err.contains(QStringLiteral("tilegrid: Left “maps/a.tmx” as it was")))
        << describe(oneFile);
    // Nor over itself by --out-dir: the folder that holds the map and its tileset is this one.
    const Finished overItself =
        run({"levels", "remap", "--map", "m.zeko-map", "maps/a.tmx", "--out-dir", "."});
    EXPECT_EQ(overItself.exitCode, 2) << describe(overItself);
    EXPECT_TRUE(overItself.err.contains(
        QStringLiteral("“maps/a.tmx” is an input and would be written over")))
        << describe(overItself);
    EXPECT_EQ(folderEntries(folder.path()), QStringList({"m.zeko-map", "maps", "sheet.tsx"}));
    EXPECT_EQ(folderEntries(path("maps")), QStringList({"a.tmx"}));
    EXPECT_EQ(get("sheet.tsx"), tsx);
    EXPECT_EQ(get("maps/a.tmx"), tmx);

    // Into another folder the map and its tileset keep their places below the folder that holds
    // them both, so the copy of the map shows the copy of the tileset.
    const Finished intoTree =
        run({"levels", "remap", "--map", "m.zeko-map", "maps/a.tmx", "--out-dir", "out"});
    EXPECT_EQ(intoTree.exitCode, 0) << describe(intoTree);
    EXPECT_EQ(intoTree.out,
              QStringLiteral("Updated “maps/a.tmx” into “out/maps/a.tmx” for the sheet "
                             "“sheet.png”: 4 cells changed.\n"
                             "Updated “sheet.tsx” into “out/sheet.tsx” for the sheet “sheet.png”: "
                             "1 tile entry renumbered.\n"
                             "2 files updated (4 cells changed), 0 skipped, 0 failed.\n"))
        << describe(intoTree);
    EXPECT_EQ(get("out/maps/a.tmx"),
              tmxLevel(" <tileset firstgid=\"1\" source=\"../sheet.tsx\"/>\n", "3,1,0,\n4,2,0"));
    EXPECT_EQ(get("out/sheet.tsx"), QByteArray(tsx).replace("tile id=\"1\"", "tile id=\"0\""));
    EXPECT_EQ(get("maps/a.tmx"), tmx);
    EXPECT_EQ(get("sheet.tsx"), tsx);

    // In place both change: the map's cells and the tileset's per-tile entry.
    const Finished inPlace =
        run({"levels", "remap", "--map", "m.zeko-map", "maps/a.tmx", "--in-place"});
    EXPECT_EQ(inPlace.exitCode, 0) << describe(inPlace);
    EXPECT_EQ(get("maps/a.tmx"),
              tmxLevel(" <tileset firstgid=\"1\" source=\"../sheet.tsx\"/>\n", "3,1,0,\n4,2,0"));
    EXPECT_EQ(get("sheet.tsx"), QByteArray(tsx).replace("tile id=\"1\"", "tile id=\"0\""));

    // A map file that is no rearrangement is refused in its own words, and nothing changes.
    put("twice.zeko-map", "0\r\n1\r\n1\r\n2\r\n");
    const QByteArray before = get("maps/a.tmx");
    const Finished twice =
        run({"levels", "remap", "--map", "twice.zeko-map", "maps/a.tmx", "--in-place"});
    EXPECT_EQ(twice.exitCode, 1) << describe(twice);
    EXPECT_EQ(twice.err,
              QStringLiteral("tilegrid: “twice.zeko-map”: Tile number 1 appears twice.\n"));
    EXPECT_EQ(get("maps/a.tmx"), before);

    // A tileset named through a linked folder and ".." is the one the file system finds there.
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("deep/inner")));
    ASSERT_TRUE(QFile::link(path("deep/inner"), path("maps/up")));
    put("deep/sheet.tsx", tsx);
    put("maps/b.tmx",
        tmxLevel(" <tileset firstgid=\"1\" source=\"up/../sheet.tsx\"/>\n", "1,2,0,\n3,4,0"));
    const Finished throughLink =
        run({"levels", "remap", "--map", "m.zeko-map", "maps/b.tmx", "--in-place"});
    EXPECT_EQ(throughLink.exitCode, 0) << describe(throughLink);
    EXPECT_EQ(get("deep/sheet.tsx"), QByteArray(tsx).replace("tile id=\"1\"", "tile id=\"0\""));
}

// Base64 of zlib data of 2^26 cells of gid 1 (8192 x 8192, 256 MiB inflated), made a piece at a
// time.
QByteArray largestLayerOfOnes()
{
    z_stream stream{};
    deflateInit(&stream, 1);
    const std::vector<uint32_t> piece(1 << 18, 1);
    QByteArray packed;
    std::vector<char> out(1 << 16);
    for (int i = 0; i < 256; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<uint32_t*>(piece.data()));
        stream.avail_in = uInt(piece.size() * 4);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, i == 255 ? Z_FINISH : Z_NO_FLUSH);
            packed.append(out.data(), qsizetype(out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return packed.toBase64();
}

// A level that needs more memory than the program can have is refused before its data is
// inflated; the other levels of the run are still done, and the exit is 1, not a signal.
TEST_F(LevelsRemapTest, ALevelBeyondTheMemoryWithinReachFailsAloneAndUpFront)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than any such limit";
#endif
    put("m.zeko-map", kFourTileMap);
    put("a.tmx", tmxLevel(kEmbeddedSheet, "1,2,0,\n3,4,0"));
    const QByteArray big = QByteArray(tmxLevel(kEmbeddedSheet, ""))
                               .replace("width=\"3\" height=\"2\">", "width=\"8192\" height=\"8192\">")
                               .replace("<data encoding=\"csv\">\n\n",
                                        "<data encoding=\"base64\" compression=\"zlib\">" +
                                            largestLayerOfOnes());
    put("big.tmx", big);
    const Finished limited = runTilegrid(
        {"levels", "remap", "--map", "m.zeko-map", "big.tmx", "a.tmx", "--in-place"},
        folder.path(), QStringLiteral("C.UTF-8"), Conditions{1024 * 1024});
    EXPECT_EQ(limited.exitCode, 1) << describe(limited);
    EXPECT_TRUE(limited.err.startsWith(
        QStringLiteral("tilegrid: Left “big.tmx” as it was: not enough memory (remapping it needs "
                       "about 15")))
        << describe(limited);
    EXPECT_EQ(get("big.tmx"), big);
    EXPECT_EQ(get("a.tmx"), tmxLevel(kEmbeddedSheet, "3,1,0,\n4,2,0"));
}

// ---------------------------------------------------------------------------------------------
// Nothing is dropped, doubled, misread or loosened without being asked for. The sheet is in.png:
// size pixels, gridded with black lines at tile griddedAt + 1 when griddedAt is not 0; or, when
// claimed is given, a PNG whose header claims that size and whose picture data is garbage.

struct CarefulCase {
    const char* name;
    QSize size;
    int griddedAt;
    QStringList arguments;  // IN is in.png
    int exitCode;
    const char* says;     // in what the program prints
    const char* written;  // the result, or nullptr: in.png as it was and nothing else written
    std::function<QImage(const QImage& in)> expected = {};
    QFile::Permissions mode = {};  // of in.png before the run, kept by the result in place
    std::vector<std::pair<QString, QByteArray>> files = {};  // levels beside in.png, by name
    std::function<void(QImage& in)> paint = {};  // changes the sheet before it is saved
    Conditions conditions = {};
    QSize claimed = {};
};

// A PNG whose header claims size and whose picture data is garbage.
QByteArray pngClaiming(QSize size)
{
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(size.width()), header.data());
    qToBigEndian<quint32>(quint32(size.height()), header.data() + 4);
    header[8] = 8;  // bits
    header[9] = 6;  // RGBA
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray bytes(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), bytes.data());
        const QByteArray typed = QByteArray(type) + data;
        bytes += typed;
        QByteArray crc(4, '\0');
        qToBigEndian<quint32>(
            quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))),
            crc.data());
        return bytes + crc;
    };
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) +
           chunk("IDAT", QByteArray(64, '\x5a'));
}

class CarefulTable : public CommandLineTest, public ::testing::WithParamInterface<CarefulCase>
{
};

TEST_P(CarefulTable, ChangesOnlyWhatItIsTold)
{
    const CarefulCase& c = GetParam();
    const QString input = path(QStringLiteral("in.png"));
    QImage sheet;
    if (c.claimed.isEmpty()) {
        sheet = makeTestImage(c.size.width(), c.size.height());
        if (c.griddedAt > 0)
            sheet = insertGrid(sheet, c.griddedAt, qRgb(0, 0, 0)).image;
        if (c.paint)
            c.paint(sheet);
        saveSheet(sheet, input);
    } else {
        writeFileBytes(input, pngClaiming(c.claimed));
    }
    QStringList entries{QStringLiteral("in.png")};
    for (const auto& [name, bytes] : c.files) {
        writeFileBytes(path(name), bytes);
        entries << name;
    }
    entries.sort();
    const QByteArray before = readFileBytes(input);
    ASSERT_TRUE(!c.mode || QFile::setPermissions(input, c.mode));

    const Finished result =
        runTilegrid(QStringList(c.arguments).replaceInStrings("IN", "in.png"), folder.path(),
                    QStringLiteral("C.UTF-8"), c.conditions);

    EXPECT_EQ(result.exitCode, c.exitCode) << describe(result);
    EXPECT_TRUE((result.out + result.err + result.terminal).contains(QString::fromUtf8(c.says)))
        << describe(result);
    if (!c.written) {
        EXPECT_EQ(readFileBytes(input), before);
        EXPECT_EQ(folderEntries(folder.path()), entries);
        return;
    }
    EXPECT_TRUE(sameRgb(loadResult(path(QLatin1StringView(c.written))), c.expected(sheet)));
    // The owner's, group's and others' bits, not what the user may do.
    EXPECT_EQ(c.mode ? QFile::permissions(input) & QFile::Permissions(0x7077) : c.mode, c.mode);
}

const auto kGridded16 = [](const QImage& in) { return insertGrid(in, 16, kMagenta).image; };
// A line-coloured first row or column is no grid line: a grid lies between tiles.
const auto kBlackFirstRow = [](QImage& sheet) {
    for (int x = 0; x < sheet.width(); ++x)
        sheet.setPixel(x, 0, qRgb(0, 0, 0));
};
const auto kBlackFirstColumn = [](QImage& sheet) {
    for (int y = 0; y < sheet.height(); ++y)
        sheet.setPixel(0, y, qRgb(0, 0, 0));
};
// A level of the sheet in.png cut into 16 tiles of 8 × 8 (count of them in its tileset), showing
// tiles 0 and 5; tiles holds its tiles' entries.
QByteArray caveLevel(const QByteArray& tiles = {}, int count = 16)
{
    return tmxLevel(" <tileset firstgid=\"1\" name=\"cave\" tilewidth=\"8\" tileheight=\"8\" "
                    "tilecount=\"" + QByteArray::number(count) + "\" columns=\"4\">\n  <image "
                    "source=\"in.png\" width=\"32\" height=\"32\"/>\n" + tiles +
                        " </tileset>\n",
                    "1,6,0,\n0,0,0");
}
QByteArray framedBy(int tile, int frame)
{
    return "  <tile id=\"" + QByteArray::number(tile) +
           "\"><properties><property name=\"animation-frame0\" type=\"int\" value=\"" +
           QByteArray::number(frame) + "\"/></properties></tile>\n";
}
QByteArray solid(int tile, int value)
{
    return "  <tile id=\"" + QByteArray::number(tile) + "\"><properties><property name=\"solid\" "
           "value=\"" + QByteArray::number(value) + "\"/></properties></tile>\n";
}
const auto kTileFiveIsZero = [](QImage& in) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            in.setPixel(8 + x, 8 + y, in.pixel(x, y));
};
// The sheet's 8 × 8 tiles packed in four columns.
std::function<QImage(const QImage&)> packedOf(std::vector<int32_t> kept)
{
    return [kept](const QImage& in) { return packTiles(in, kept, 8, 4); };
}
const QStringList kPruneA{"sheet", "prune", "IN", "--used-by", "a.tmx", "-o", "o.png",
                          "--remap-out", "o.remap"};
const QStringList kDedupeA{"sheet", "dedupe", "IN", "--used-by", "a.tmx", "-o", "o.png",
                           "--remap-out", "o.remap"};
const std::string kTooLargeText = std::strerror(EFBIG);
const char* const kTooLarge = kTooLargeText.c_str();
// As root a read-only file is replaced, keeping its mode; for anyone else it is refused.
const bool kRoot = geteuid() == 0;

const CarefulCase kCarefulCases[] = {
    {"PartialStripIsRefused", {48, 49}, 0, {"grid", "add", "--tile", "24", "IN", "-o", "o.png"}, 1,
     "would drop a partial strip of 1 pixel at the bottom; --crop drops it.", nullptr},
    {"ExtrudeRefusesAPartialStrip", {40, 32}, 0, {"grid", "extrude", "IN", "-o", "o.png"}, 1,
     "would drop a partial strip of 8 pixels at the right; --crop drops it.", nullptr},
    {"ExtrudeCropped", {40, 32}, 0, {"grid", "extrude", "--crop", "IN", "--in-place"}, 0,
     "-> in.png", "in.png",
     [](const QImage& in) { return extrudeTiles(in.copy(0, 0, 32, 32), TileLayout::spaced(16, 16, 0, 0), 1).image; }},
    {"UnextrudeNeedsAnExtrudedSheet", {36, 36}, 0, {"grid", "unextrude", "IN", "-o", "o.png"}, 1,
     "the tile in column 1, row 1 is not surrounded by copies of its edge pixels", nullptr},
    {"RemoveNeedsAGrid", {34, 34}, 0, {"grid", "remove", "IN", "-o", "o.png"}, 1,
     "has no grid at pitch 17, nor at another tile size.", nullptr},
    {"RemoveNamesTheGridFound", {32, 32}, 8, {"grid", "remove", "IN", "-o", "o.png"}, 1,
     "no grid at pitch 17; a grid at pitch 9 was found: --tile 8?", nullptr},
    {"AddSkipsAGriddedSheet", {32, 32}, 16, {"grid", "add", "IN", "--in-place"}, 0,
     "Skipped “in.png”: it already has a grid at pitch 17", nullptr},
    {"AddForced", {32, 32}, 16, {"grid", "add", "--force", "--crop", "IN", "--in-place"}, 0,
     "-> in.png", "in.png", kGridded16},
    {"InfoSeesNoGridBelowALineColouredFirstRow", {32, 32}, 16, {"info", "IN"}, 0,
     "grid: none found at pitch 9 or 17", nullptr, {}, {}, {}, kBlackFirstRow},
    {"InfoSeesNoGridRightOfALineColouredFirstColumn", {32, 32}, 16, {"info", "IN"}, 0,
     "grid: none found at pitch 9 or 17", nullptr, {}, {}, {}, kBlackFirstColumn},
    {"AddDoesNotSkipALineColouredFirstRow", {32, 32}, 16, {"grid", "add", "--crop", "IN", "-o",
     "o.png"}, 0, "-> o.png", "o.png", kGridded16, {}, {}, kBlackFirstRow},
    {"AddDoesNotSkipALineColouredFirstColumn", {32, 32}, 16, {"grid", "add", "--crop", "IN", "-o",
     "o.png"}, 0, "-> o.png", "o.png", kGridded16, {}, {}, kBlackFirstColumn},
    {"ColourWithAlpha", {32, 32}, 0, {"grid", "add", "--color", "#ff000080", "IN", "-o", "o.png"},
     2, "#ff000080", nullptr},
    {"Transparent", {32, 32}, 0, {"grid", "add", "--color", "transparent", "IN", "-o", "o.png"}, 2,
     "“transparent”", nullptr},
    {"ShortColour", {32, 32}, 0, {"grid", "add", "--color", "#f00", "IN", "-o", "o.png"}, 0, "->",
     "o.png", [](const QImage& in) { return insertGrid(in, 16, qRgb(255, 0, 0)).image; }},
    {"HelpAsWritten", {16, 16}, 0, {"info", "--help"}, 0, "size: 34 × 34 pixels", nullptr},
    {"ReadOnlyInPlace", {32, 32}, 0, {"grid", "add", "IN", "--in-place"}, kRoot ? 0 : 1,
     kRoot ? "-> in.png" : "not writable", kRoot ? "in.png" : nullptr, kGridded16,
     QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther},
    {"OutputFolderIsMade", {32, 32}, 0, {"grid", "add", "IN", "-o", "new/o.png"}, 0, "-> new/o.png",
     "new/o.png", kGridded16},
    {"PruneCutsTilesAsItsLevelsDo", {32, 32}, 0, kPruneA, 0,
     "in.png -> o.png: 16 tiles → 2 (14 unused dropped)", "o.png", packedOf({0, 5}), {},
     {{"a.tmx", caveLevel()}}},
    {"PruneNamesTheLikelyTileSize", {32, 32}, 0, kPruneA + QStringList{"--tile", "16"}, 1,
     "has 16 tiles, the tile map 4 (the tileset's tiles are 8 × 8; --tile 8?)", nullptr, {}, {},
     {{"a.tmx", caveLevel()}}},
    {"PruneKeepsTheTilesPropertiesName", {32, 32}, 0,
     kPruneA + QStringList{"--tile-property", "animation-frame*"}, 0,
     "in.png -> o.png: 16 tiles → 3 (13 unused dropped)", "o.png", packedOf({0, 5, 9}), {},
     {{"a.tmx", caveLevel(framedBy(0, 9))}}},
    {"PruneLeavesPaddingOut", {32, 32}, 0, kPruneA, 0,
     "in.png -> o.png: 14 tiles → 2 (12 unused dropped; 2 padding tiles left out)", "o.png",
     packedOf({0, 5}), {}, {{"a.tmx", caveLevel({}, 14)}}},
    {"DedupeCutsTilesAsItsLevelsDo", {32, 32}, 0, kDedupeA, 0,
     "in.png -> o.png: 16 tiles → 16 (0 duplicates merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.tmx", caveLevel()}}},
    {"DedupeLeavesTransparentPaddingOut", {32, 32}, 0,
     {"sheet", "dedupe", "--tile", "8", "IN", "-o", "o.png", "--remap-out", "o.remap"}, 0,
     "in.png -> o.png: 14 tiles → 14 (0 duplicates merged; 2 padding tiles left out)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), {}, {},
     [](QImage& in) {
         in = in.convertToFormat(QImage::Format_ARGB32);
         for (int y = 24; y < 32; ++y)
             for (int x = 16; x < 32; ++x)
                 in.setPixel(x, y, qRgba(0, 0, 0, 0));
     }},
    // A tile that a tile property shows stays unturned: its mirrored twin stays apart.
    {"DedupeKeepsWhatItsLevelsShowUnturned", {32, 32}, 0,
     kDedupeA + QStringList{"--flips", "--tile-property", "animation-frame*"}, 0,
     "in.png -> o.png: 16 tiles → 16 (0 duplicates merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.tmx", caveLevel(framedBy(1, 5))}},
     [](QImage& in) {  // tile 5 is tile 0 mirrored
         const QImage tile = in.copy(0, 0, 8, 8).mirrored(true, false);
         for (int y = 0; y < 8; ++y)
             for (int x = 0; x < 8; ++x)
                 in.setPixel(8 + x, 8 + y, tile.pixel(x, y));
     }},
    // Tiles 0 and 5 alike but for the data the level keeps for them are no duplicates; with the
    // same data they are.
    {"DedupeKeepsTilesOfDifferentDataApart", {32, 32}, 0, kDedupeA, 0,
     "in.png -> o.png: 16 tiles → 16 (0 duplicates merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.tmx", caveLevel(solid(0, 1) + solid(5, 0))}}, kTileFiveIsZero},
    {"PruneDedupesTheUsedTiles", {32, 32}, 0, kPruneA + QStringList{"--dedupe"}, 0,
     "in.png -> o.png: 16 tiles → 1 (14 unused dropped, 1 duplicate merged)", "o.png",
     packedOf({0}), {}, {{"a.tmx", caveLevel()}}, kTileFiveIsZero},
    {"MergeRefusesAMissingSheet", {32, 32}, 0,
     {"sheet", "merge", "--tile", "8", "IN", "gone.png", "-o", "atlas.png", "--remap-out",
      "atlas.remap"},
     1, "“gone.png” does not exist.", nullptr},
    // So does a tile that an LDtk rule names.
    {"DedupeKeepsWhatAnLdtkRuleNamesUnturned", {32, 32}, 0,
     {"sheet", "dedupe", "IN", "--tile", "8", "--flips", "--used-by", "a.ldtk", "-o", "o.png",
      "--remap-out", "o.remap"},
     0, "in.png -> o.png: 16 tiles → 16 (0 duplicates merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.ldtk",
       R"({"defs":{"tilesets":[{"uid":5,"relPath":"in.png","tileGridSize":8,"__cWid":4,)"
       R"("__cHei":4,"pxWid":32,"pxHei":32,"spacing":0,"padding":0}],"layers":[{)"
       R"("tilesetDefUid":5,"autoRuleGroups":[{"rules":[{"tileRectsIds":[[5]]}]}]}]},)"
       R"("levels":[]})"}},
     [](QImage& in) {  // tile 5 is tile 0 mirrored
         const QImage tile = in.copy(0, 0, 8, 8).mirrored(true, false);
         for (int y = 0; y < 8; ++y)
             for (int x = 0; x < 8; ++x)
                 in.setPixel(8 + x, 8 + y, tile.pixel(x, y));
     }},
    // An enum tag on one of two alike tiles keeps them apart.
    {"DedupeKeepsAnLdtkTagApart", {32, 32}, 0,
     {"sheet", "dedupe", "IN", "--tile", "8", "--used-by", "a.ldtk", "-o", "o.png", "--remap-out",
      "o.remap"},
     0, "in.png -> o.png: 16 tiles → 16 (0 duplicates merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.ldtk",
       R"({"defs":{"tilesets":[{"uid":5,"relPath":"in.png","tileGridSize":8,"__cWid":4,)"
       R"("__cHei":4,"pxWid":32,"pxHei":32,"spacing":0,"padding":0,"enumTags":[{)"
       R"("enumValueId":"water","tileIds":[0]}]}],"layers":[]},"levels":[]})"}},
     kTileFiveIsZero},
    {"DedupeMergesTilesOfTheSameData", {32, 32}, 0, kDedupeA, 0,
     "in.png -> o.png: 16 tiles → 15 (1 duplicate merged)", "o.png",
     packedOf({0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), {},
     {{"a.tmx", caveLevel(solid(0, 1) + solid(5, 1))}}, kTileFiveIsZero},
    // A failed run makes no folder.
    {"NoFolderForAFailedSheet", {48, 49}, 0,
     {"grid", "add", "--tile", "24", "IN", "-o", "newdir/deep/x.png"}, 1, "partial strip", nullptr},
    {"NoFolderForFailedLevels", {32, 32}, 0,
     {"levels", "remap", "--grid", "added", "IN", "--out-dir", "lvs/out dir"}, 1, "in.png",
     nullptr},
    // A disk that takes no more (here: a file that may not grow) fails the write, in the system's
    // words, and leaves the old file as it was.
    {"FullDiskInPlace", {40, 32}, 0, {"grid", "add", "--tile", "16", "--crop", "IN", "--in-place"},
     1, kTooLarge, nullptr, {}, {}, {}, {}, {0, 0}},
    {"FullDiskMap", {32, 32}, 0, {"map", "derive", "IN", "IN", "-o", "d.zeko-map"}, 1, kTooLarge,
     nullptr, {}, {}, {}, {}, {0, 0}},
    {"FullDiskRemap", {32, 32}, 0,
     {"sheet", "dedupe", "IN", "-o", "o.png", "--remap-out", "r.remap"}, 1, kTooLarge, nullptr, {},
     {}, {}, {}, {0, 0}},
    {"FullDiskLargeSheet", {512, 512}, 0, {"grid", "add", "IN", "-o", "o.png"}, 1, kTooLarge,
     nullptr, {}, {}, {}, {}, {0, 4}},
    // The progress line's last word on a terminal is how the whole run went.
    {"SummaryOnATerminal", {32, 32}, 0, {"info", "IN", "missing.png"}, 1,
     "2 sheets: 1 done, 1 failed", nullptr, {}, {}, {}, {}, {0, -1, true}},
    // A sheet that is not whole tiles is refused from its header, before its pixels are decoded.
    {"PartialStripFromTheHeader", {}, 0, {"grid", "add", "--tile", "32", "IN", "-o", "o.png"}, 1,
     "would drop partial strips of 16 pixels at the right and 17 pixels at the bottom", nullptr,
     {}, {}, {}, {}, {}, {30000, 30001}},
    {"OutputFolderIsAFile", {32, 32}, 0, {"grid", "add", "IN", "--out-dir", "in.png/x"}, 1,
     "“in.png” is a file, not a folder", nullptr},
    {"BlockMovedOutside", {32, 32}, 0,
     {"map", "move", "IN", "--block", "0,0,1,2", "--to", "1,1", "-o", "o.png"}, 1,
     "The block of 1 x 2 tiles, moved to column 1, row 1, would lie outside the 2 x 2 whole "
     "tiles.", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Rows, CarefulTable, ::testing::ValuesIn(kCarefulCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A map's template goes with it, into --out-dir too; a template can be named itself, and a file
// whose result would not change is left alone and said to be.
TEST_F(LevelsRemapTest, TemplatesGoWithTheirMapsAndUnchangedFilesAreLeftAlone)
{
    put("m.zeko-map", kFourTileMap);
    const QByteArray tree = "<template>\n" + kEmbeddedSheet + " <object gid=\"2\"/>\n</template>\n";
    const QByteArray tmx = tmxLevel(kEmbeddedSheet, "1,2,0,\n3,4,0")
                               .replace("</map>", " <objectgroup name=\"things\"><object id=\"1\" "
                                                  "template=\"tree.tx\"/></objectgroup>\n</map>");
    put("a.tmx", tmx);
    put("tree.tx", tree);
    put("still.tmx", tmxLevel(kEmbeddedSheet, "0,0,0,\n0,0,0"));
    const QByteArray remappedTree = QByteArray(tree).replace("gid=\"2\"", "gid=\"1\"");

    const Finished intoFolder =
        run({"levels", "remap", "--map", "m.zeko-map", "--out-dir", "out", "a.tmx"});
    ASSERT_EQ(intoFolder.exitCode, 0) << describe(intoFolder);
    EXPECT_EQ(intoFolder.out,
              QStringLiteral("Updated “a.tmx” into “out/a.tmx” for the sheet “sheet.png”: 4 cells "
                             "changed.\n"
                             "Updated “tree.tx” into “out/tree.tx” for the sheet “sheet.png”: 1 "
                             "cell changed.\n"
                             "2 files updated (5 cells changed), 0 skipped, 0 failed.\n"));
    EXPECT_EQ(get("out/tree.tx"), remappedTree);

    const Finished inPlace =
        run({"levels", "remap", "--map", "m.zeko-map", "tree.tx", "still.tmx", "--in-place"});
    ASSERT_EQ(inPlace.exitCode, 0) << describe(inPlace);
    EXPECT_EQ(inPlace.out,
              QStringLiteral("Updated “tree.tx” for the sheet “sheet.png”: 1 cell changed.\n"
                             "Unchanged “still.tmx” for the sheet “sheet.png”: none of its tile "
                             "numbers move.\n"
                             "1 file updated (1 cell changed), 1 unchanged, 0 skipped, 0 "
                             "failed.\n"));
    EXPECT_EQ(get("tree.tx"), remappedTree);
}

// ---------------------------------------------------------------------------------------------

// Random sheets with planted copies, turned copies and tiles no level uses, levels whose cells
// carry random flips: after sheet dedupe --flips, sheet prune, or both, each followed by levels
// remap --remap, every cell shows the same pixels, each cell drawn here from the sheet as its flip
// bits say. Prune keeps exactly the tiles the cells, objects and one animation show.
// sheet merge: every tile of every sheet is found in the atlas where the remap says, turned as
// it says (by mirrors only for tiles that are not square), whatever the shapes and flips; the
// remap's tiles together show every atlas tile once the duplicates are merged.
TEST_F(CommandLineTest, MergedSheetsShowEveryTileWhereTheRemapSays)
{
    std::mt19937 random(23);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const TileShape shape = round % 2 ? TileShape(6, 4) : TileShape(5);
        const bool dedupe = round > 0, flips = round > 1;
        // Three sheets, the later ones partly made of the earlier ones' tiles, some turned.
        std::vector<QImage> sheets;
        const auto tileOf = [&](const QImage& sheet, int t) {
            const int columns = sheet.width() / shape.width;
            return sheet.copy(t % columns * shape.width, t / columns * shape.height, shape.width,
                              shape.height);
        };
        QStringList arguments{"sheet", "merge", "--tile", shapeText(shape)};
        for (int n = 0; n < 3; ++n) {
            const int columns = 2 + n, rows = 1 + n % 2;
            QImage sheet(columns * shape.width, rows * shape.height, QImage::Format_RGB32);
            for (int t = 0; t < columns * rows; ++t) {
                QImage tile(shape.size(), QImage::Format_RGB32);
                for (int y = 0; y < shape.height; ++y)
                    for (int x = 0; x < shape.width; ++x)
                        tile.setPixel(x, y, qRgb(int(random() % 256), n * 80, t * 9));
                if (n > 0 && random() % 2)
                    tile = turnedTile(tileOf(sheets[random() % sheets.size()], 0),
                                      random() % 8 & (shape.square() ? 7u : 6u));
                QPainter(&sheet).drawImage(t % columns * shape.width, t / columns * shape.height, tile);
            }
            sheets.push_back(sheet);
            const QString name = QStringLiteral("m%1.png").arg(n);
            saveSheet(sheet, path(name));
            arguments << name;
        }
        if (dedupe)
            arguments << "--dedupe";
        if (flips)
            arguments << "--flips";
        const Finished merged = run(arguments + QStringList{"--columns", "3", "-o", "atlas.png",
                                                            "--remap-out", "atlas.remap"});
        ASSERT_EQ(merged.exitCode, 0) << describe(merged);
        const RemapParseResult read = readRemapFile(path(QStringLiteral("atlas.remap")));
        ASSERT_TRUE(read.file) << read.error.toStdString();
        ASSERT_EQ(read.file->sheets.size(), 3u);
        const QImage atlas = loadResult(path(QStringLiteral("atlas.png")));
        const int atlasTiles = read.file->sheets.front().remap.newTileCount();
        EXPECT_EQ(atlas.size(), QSize(3 * shape.width, (atlasTiles + 2) / 3 * shape.height));
        int total = 0;
        for (size_t n = 0; n < 3; ++n) {
            const TileRemap& remap = read.file->sheets[n].remap;
            EXPECT_EQ(QFileInfo(read.file->sheets[n].path).fileName(), QStringLiteral("m%1.png").arg(n));
            ASSERT_EQ(remap.tileCount(), sheets[n].width() / shape.width * (sheets[n].height() / shape.height));
            for (int t = 0; t < remap.tileCount(); ++t) {
                EXPECT_TRUE(flips || remap.symmetry(size_t(t)).isIdentity());
                EXPECT_EQ(turnedTile(tileOf(atlas, remap.newIndexOf[size_t(t)]), remap.symmetry(size_t(t)).bits()),
                          tileOf(sheets[n], t).convertToFormat(atlas.format()))
                    << "sheet " << n << " tile " << t;
            }
            total += remap.tileCount();
        }
        EXPECT_TRUE(dedupe ? atlasTiles < total : atlasTiles == total);
        EXPECT_TRUE(merged.out.startsWith(QStringLiteral("3 sheets, %1 tiles → atlas.png: %2 tiles")
                                              .arg(total)
                                              .arg(atlasTiles)))
            << describe(merged);
    }
}

namespace {

// What a map's cells and tile objects show, read here with a plain XML or JSON reader: each
// one's pixels as its flip bits turn them, and the data its tileset keeps for its tile
// (properties, the pictures of its animation frames, its Wang ids).
struct MapLook {
    std::vector<QImage> pixels;
    std::vector<QString> data;
    int tilesets = 0;
};

struct LookTileset {
    int64_t first = 0;
    QImage image;
    int width = 0, height = 0;
    std::map<int64_t, QStringList> data;
    std::map<int64_t, std::vector<int64_t>> frames;
};

MapLook lookOf(const std::vector<LookTileset>& tilesets, const std::vector<uint32_t>& gids);

void expectSameLook(const MapLook& after, const MapLook& before)
{
    ASSERT_EQ(after.pixels.size(), before.pixels.size());
    for (size_t i = 0; i < before.pixels.size(); ++i) {
        EXPECT_EQ(after.pixels[i], before.pixels[i]) << "cell or object " << i;
        EXPECT_EQ(after.data[i], before.data[i]) << "cell or object " << i;
    }
}

// A map in Tiled's JSON, its tilesets embedded or TSJ files, its layers' data arrays of gids.
MapLook lookOfJsonMap(const QString& file)
{
    const auto read = [](const QString& path) {
        QFile in(path);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << path.toStdString();
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(in.readAll(), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << path.toStdString();
        return object;
    };
    const QJsonObject map = read(file);
    std::vector<LookTileset> tilesets;
    for (const QJsonValue reference : map[u"tilesets"].toArray()) {
        LookTileset& into = tilesets.emplace_back();
        into.first = reference[u"firstgid"].toInteger();
        QString folder = QFileInfo(file).path();
        QJsonObject tileset = reference.toObject();
        if (tileset.contains(u"source")) {
            const QString own = QDir(folder).filePath(tileset[u"source"].toString());
            tileset = read(own);
            folder = QFileInfo(own).path();
        }
        into.width = tileset[u"tilewidth"].toInt();
        into.height = tileset[u"tileheight"].toInt();
        into.image = QImage(QDir(folder).filePath(tileset[u"image"].toString()))
                         .convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(QSize(tileset[u"imagewidth"].toInt(), tileset[u"imageheight"].toInt()),
                  into.image.size());
        for (const QJsonValue tile : tileset[u"tiles"].toArray()) {
            const int64_t id = tile[u"id"].toInteger();
            for (const QJsonValue property : tile[u"properties"].toArray())
                into.data[id] << property[u"name"].toString() + u'=' +
                                     property[u"value"].toVariant().toString();
            for (const QJsonValue frame : tile[u"animation"].toArray())
                into.frames[id].push_back(frame[u"tileid"].toInteger());
        }
        for (const QJsonValue set : tileset[u"wangsets"].toArray())
            for (const QJsonValue tile : set[u"wangtiles"].toArray()) {
                QStringList wangId;
                for (const QJsonValue colour : tile[u"wangid"].toArray())
                    wangId << QString::number(colour.toInt());
                into.data[tile[u"tileid"].toInteger()]
                    << set[u"name"].toString() + u':' + wangId.join(u',');
            }
    }
    std::vector<uint32_t> gids;
    for (const QJsonValue layer : map[u"layers"].toArray()) {
        for (const QJsonValue cell : layer[u"data"].toArray())
            gids.push_back(uint32_t(cell.toInteger()));
        for (const QJsonValue object : layer[u"objects"].toArray())
            gids.push_back(uint32_t(object[u"gid"].toInteger()));
    }
    return lookOf(tilesets, gids);
}

MapLook lookOfMap(const QString& file)
{
    using Tileset = LookTileset;
    std::vector<Tileset> tilesets;
    std::vector<MapLook> templates;
    std::vector<uint32_t> gids;
    // Reads a tileset's own elements, from the map or from its file.
    const auto readTileset = [](QXmlStreamReader& xml, const QString& folder, Tileset& into) {
        into.width = xml.attributes().value("tilewidth").toInt();
        into.height = xml.attributes().value("tileheight").toInt();
        int64_t tile = -1;
        QString wangSet;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"tileset")
                return;
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == u"image") {
                into.image = QImage(QDir(folder).filePath(a.value("source").toString()))
                                 .convertToFormat(QImage::Format_ARGB32);
                EXPECT_EQ(QSize(a.value("width").toInt(), a.value("height").toInt()),
                          into.image.size());
            }
            else if (xml.name() == u"tile")
                tile = a.value("id").toLongLong();
            else if (xml.name() == u"property")
                into.data[tile] << a.value("name").toString() + u'=' + a.value("value").toString();
            else if (xml.name() == u"frame")
                into.frames[tile].push_back(a.value("tileid").toLongLong());
            else if (xml.name() == u"wangset")
                wangSet = a.value("name").toString();
            else if (xml.name() == u"wangtile")
                into.data[a.value("tileid").toLongLong()]
                    << wangSet + u':' + a.value("wangid").toString();
        }
    };
    QFile map(file);
    EXPECT_TRUE(map.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&map);
    const QString folder = QFileInfo(file).path();
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"tileset") {
            Tileset& tileset = tilesets.emplace_back();
            tileset.first = a.value("firstgid").toLongLong();
            if (a.hasAttribute("source")) {
                const QString tsxPath = QDir(folder).filePath(a.value("source").toString());
                QFile tsx(tsxPath);
                EXPECT_TRUE(tsx.open(QIODevice::ReadOnly)) << tsxPath.toStdString();
                QXmlStreamReader own(&tsx);
                while (!own.atEnd() && !(own.readNext() == QXmlStreamReader::StartElement &&
                                         own.name() == u"tileset")) {
                }
                readTileset(own, QFileInfo(tsxPath).path(), tileset);
            } else {
                readTileset(xml, folder, tileset);
            }
        } else if (xml.name() == u"data") {
            for (const QString& cell : xml.readElementText().split(u',', Qt::SkipEmptyParts))
                gids.push_back(uint32_t(cell.trimmed().toULongLong()));
        } else if (xml.name() == u"object" && a.hasAttribute("gid")) {
            gids.push_back(uint32_t(a.value("gid").toULongLong()));
        } else if (xml.name() == u"object" && a.hasAttribute("template")) {
            templates.push_back(lookOfMap(QDir(folder).filePath(a.value("template").toString())));
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    // A template's object shows its gid in the template's own tileset.
    MapLook look = lookOf(tilesets, gids);
    for (const MapLook& shown : templates) {
        look.pixels.insert(look.pixels.end(), shown.pixels.begin(), shown.pixels.end());
        look.data.insert(look.data.end(), shown.data.begin(), shown.data.end());
    }
    return look;
}

// Sheet n of a merge's tests: 2 + n % 3 columns and 1 + n % 2 rows of 8-pixel random tiles,
// about half of them (after the first sheet) the first tile of an earlier sheet, turned by one of
// the 8 symmetries (turns 8), one of the mirrors (4) or none (0).
QImage mergeTestSheet(std::mt19937& random, int n, const std::vector<QImage>& sheets, int turns)
{
    const int columns = 2 + n % 3, rows = 1 + n % 2;
    QImage sheet(columns * 8, rows * 8, QImage::Format_ARGB32);
    for (int t = 0; t < columns * rows; ++t) {
        QImage tile(8, 8, QImage::Format_ARGB32);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                tile.setPixel(x, y, qRgb(int(random() % 256), n * 60, t * 9));
        if (n > 0 && random() % 2)
            tile = turnedTile(sheets[random() % sheets.size()].copy(0, 0, 8, 8),
                              turns == 8 ? random() % 8 : turns == 4 ? random() % 4 * 2 : 0);
        QPainter(&sheet).drawImage(t % columns * 8, t / columns * 8, tile);
    }
    return sheet;
}

MapLook lookOf(const std::vector<LookTileset>& tilesets, const std::vector<uint32_t>& gids)
{
    using Tileset = LookTileset;
    MapLook look;
    look.tilesets = int(tilesets.size());
    for (const uint32_t gid : gids) {
        const int64_t id = gid & 0x0fffffffu;
        const Tileset* owner = nullptr;
        for (const Tileset& tileset : tilesets)
            if (id != 0 && tileset.first <= id && (!owner || tileset.first > owner->first))
                owner = &tileset;
        if (!owner) {
            look.pixels.emplace_back();
            look.data.emplace_back();
            continue;
        }
        const auto tileImage = [owner](int64_t tile) {
            const int columns = owner->image.width() / owner->width;
            return owner->image.copy(int(tile % columns) * owner->width,
                                     int(tile / columns) * owner->height, owner->width,
                                     owner->height);
        };
        const int64_t tile = id - owner->first;
        look.pixels.push_back(turnedTile(tileImage(tile), gid >> 29));
        QStringList data = owner->data.count(tile) ? owner->data.at(tile) : QStringList();
        data.sort();
        if (owner->frames.count(tile))
            for (const int64_t frame : owner->frames.at(tile)) {
                const QImage shown = tileImage(frame);
                data << QString::fromLatin1(
                    QCryptographicHash::hash(
                        QByteArrayView(shown.constBits(), shown.sizeInBytes()),
                        QCryptographicHash::Md5)
                        .toHex());
            }
        look.data.push_back(data.join(u' '));
    }
    return look;
}

}  // namespace

// Maps that name the merged sheets among another tileset, embedded or as files of their own, with
// flipped cells, tile objects, properties, animations and Wang sets: after sheet merge and levels
// remap every cell and object shows the same pixels with the same data, drawn here from the
// files as they stand; the merged tilesets are one. Without --used-by the data are made to fit
// the merge; with it they are random and made first, and the merge must fit them.
TEST_F(CommandLineTest, MergedLevelsShowEveryCellAsBefore)
{
    std::mt19937 random(31);
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("tilesets")));
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const TileShape shape = round % 3 == 2 ? TileShape(8, 6) : TileShape(8);
        const bool usedBy = round >= 6;
        const bool external = round % 6 >= 3, flips = round % 2 == 1;
        const unsigned turns = shape.square() ? 7u : 6u;
        std::vector<QImage> sheets;
        QStringList merge{"sheet", "merge", "--tile", shapeText(shape), "--dedupe"};
        for (int n = 0; n < 4; ++n) {
            const int columns = 2 + n % 3, rows = 1 + n % 2;
            QImage sheet(columns * shape.width, rows * shape.height, QImage::Format_ARGB32);
            for (int t = 0; t < columns * rows; ++t) {
                QImage tile(shape.size(), QImage::Format_ARGB32);
                for (int y = 0; y < shape.height; ++y)
                    for (int x = 0; x < shape.width; ++x)
                        tile.setPixel(x, y, qRgb(int(random() % 256), n * 60, t * 9));
                if (n > 0 && n < 3 && random() % 2)
                    tile = turnedTile(sheets[random() % sheets.size()].copy(0, 0, shape.width,
                                                                            shape.height),
                                      flips ? random() % 8 & turns : 0);
                QPainter(&sheet).drawImage(t % columns * shape.width, t / columns * shape.height,
                                           tile);
            }
            sheets.push_back(sheet);
            saveSheet(sheet, path(QStringLiteral("m%1.png").arg(n)));
            if (n < 3)  // the fourth stays a tileset of its own
                merge << QStringLiteral("m%1.png").arg(n);
        }
        if (flips)
            merge << "--flips";
        merge << "--columns" << "3" << "-o" << "atlas.png" << "--remap-out" << "atlas.remap";
        std::vector<RemapSheet> remapped;
        const auto mergeSheets = [&] {
            const Finished merged = run(merge);
            ASSERT_EQ(merged.exitCode, 0) << describe(merged);
            const RemapParseResult read = readRemapFile(path(QStringLiteral("atlas.remap")));
            ASSERT_TRUE(read.file);
            remapped = read.file->sheets;
        };
        if (!usedBy)
            mergeSheets();

        // Data on an atlas tile that every tile becoming it carries unturned; an animation and a
        // Wang tile only where one tile becomes it. With --used-by: at random, of two kinds of
        // property, with an animation or a Wang tile.
        std::map<int32_t, int> sources;
        std::map<int32_t, bool> turned;
        for (const RemapSheet& sheet : remapped)
            for (int t = 0; t < sheet.remap.tileCount(); ++t) {
                ++sources[sheet.remap.newIndexOf[size_t(t)]];
                turned[sheet.remap.newIndexOf[size_t(t)]] |=
                    !sheet.remap.symmetry(size_t(t)).isIdentity();
            }
        std::map<int32_t, bool> carries;
        for (const auto& [now, count] : sources)
            carries[now] = !turned[now] && random() % 2;
        std::map<std::pair<int, int>, unsigned> randomData;
        const auto entry = [&](int n, int t) {  // none, kind 0, kind 1, animated, Wang tile
            if (!usedBy) {
                const int32_t now = remapped[size_t(n)].remap.newIndexOf[size_t(t)];
                const bool only = sources[now] == 1;
                const TileRemap& remap = remapped[size_t(n)].remap;
                const bool animated = only && t + 1 < remap.tileCount() &&
                                      remap.symmetry(size_t(t + 1)).isIdentity();
                return !carries[now] ? 0u : animated ? 3u : only ? 4u : 1u + unsigned(now % 2);
            }
            const auto [at, fresh] = randomData.emplace(std::pair(n, t), 0u);
            if (fresh)
                at->second = random() % 3 == 0 ? 0u : random() % 5;
            return at->second;
        };
        // Tileset n's text: embedded (from firstgid) or in a file of its own.
        const auto tilesetText = [&](int n, int64_t first) {
            const int columns = sheets[n].width() / shape.width;
            const int count = columns * (sheets[n].height() / shape.height);
            QByteArray text = QStringLiteral("name=\"m%1\" tilewidth=\"%2\" tileheight=\"%3\" "
                                             "tilecount=\"%4\" columns=\"%5\">\n"
                                             "  <image source=\"%6m%1.png\" width=\"%7\" "
                                             "height=\"%8\"/>\n")
                                  .arg(n).arg(shape.width).arg(shape.height).arg(count)
                                  .arg(columns).arg(external ? "../" : "../")
                                  .arg(sheets[n].width()).arg(sheets[n].height()).toUtf8();
            QByteArray wang;
            for (int t = 0; n < 3 && t < count; ++t) {
                const unsigned data = entry(n, t);
                if (data == 0)
                    continue;
                text += "  <tile id=\"" + QByteArray::number(t) + "\">\n   <properties>\n"
                        "    <property name=\"kind\" value=\"" + QByteArray::number(data % 2) +
                        "\"/>\n   </properties>\n";
                if (data == 3 && t + 1 < count)
                    text += "   <animation>\n    <frame tileid=\"" + QByteArray::number(t + 1) +
                            "\" duration=\"100\"/>\n   </animation>\n";
                text += "  </tile>\n";
                if (data >= 3)
                    wang += "    <wangtile tileid=\"" + QByteArray::number(t) +
                            "\" wangid=\"0,1,0,1,0,1,0,1\"/>\n";
            }
            if (!wang.isEmpty())
                text += "  <wangsets>\n   <wangset name=\"w" + QByteArray::number(n) +
                        "\" type=\"corner\" tile=\"-1\">\n    <wangcolor name=\"c\" "
                        "color=\"#ff0000\" tile=\"-1\" probability=\"1\"/>\n" + wang +
                        "   </wangset>\n  </wangsets>\n";
            text += " </tileset>\n";
            if (!external || n == 3)
                return " <tileset firstgid=\"" + QByteArray::number(first) + "\" " + text;
            writeFileBytes(path(QStringLiteral("tilesets/m%1.tsx").arg(n)),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset " + text);
            return " <tileset firstgid=\"" + QByteArray::number(first) + "\" source=\"../tilesets/m" +
                   QByteArray::number(n) + ".tsx\"/>\n";
        };
        // The fourth tileset first in some rounds, between the merged ones in others.
        std::vector<int> order = round % 2 ? std::vector<int>{3, 0, 1, 2}
                                           : std::vector<int>{0, 3, 1, 2};
        QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.10\" "
                          "orientation=\"orthogonal\" renderorder=\"right-down\" width=\"9\" "
                          "height=\"5\" tilewidth=\"8\" tileheight=\"8\" infinite=\"0\">\n";
        std::vector<uint32_t> usable;
        int64_t first = 1;
        for (const int n : order) {
            text += tilesetText(n, first);
            const int count = sheets[n].width() / shape.width * (sheets[n].height() / shape.height);
            for (int t = 0; t < count; ++t)
                usable.push_back(uint32_t(first + t));
            first += count;
        }
        const auto randomGid = [&] {
            return random() % 6 == 0 ? 0u
                                     : usable[random() % usable.size()] |
                                           uint32_t(random() % 8 & turns) << 29;
        };
        text += " <layer id=\"1\" name=\"ground\" width=\"9\" height=\"5\">\n  <data "
                "encoding=\"csv\">\n";
        for (int cell = 0; cell < 45; ++cell)
            text += QByteArray::number(randomGid()) + (cell < 44 ? "," : "\n");
        text += "</data>\n </layer>\n <objectgroup id=\"2\" name=\"things\">\n";
        for (int object = 0; object < 4; ++object)
            text += "  <object id=\"" + QByteArray::number(object + 1) + "\" gid=\"" +
                    QByteArray::number(usable[random() % usable.size()]) +
                    "\" x=\"8\" y=\"8\" width=\"8\" height=\"8\"/>\n";
        text += " </objectgroup>\n</map>\n";
        writeFileBytes(path("maps/m.tmx"), text);
        if (usedBy) {
            merge << "--used-by" << "maps/m.tmx";
            mergeSheets();
        }
        const MapLook before = lookOfMap(path(QStringLiteral("maps/m.tmx")));
        const QByteArray oldTileset =
            external ? readFileBytes(path("tilesets/m0.tsx")) : QByteArray();

        QStringList remap{"levels", "remap", "--remap", "atlas.remap", "maps/m.tmx", "--in-place"};
        if (external) {
            remap << "--tileset-out" << "tilesets/atlas.tsx";
        }
        const Finished done = run(remap);
        ASSERT_EQ(done.exitCode, 0) << describe(done) << text.toStdString();
        const MapLook after = lookOfMap(path(QStringLiteral("maps/m.tmx")));
        EXPECT_EQ(after.tilesets, 2);
        expectSameLook(after, before);
        if (external) {
            EXPECT_EQ(readFileBytes(path("tilesets/m0.tsx")), oldTileset);
        }
    }
    // A tile that is a Wang tile in one sheet merges with its copy in another that is none:
    // refused, naming both, and the map stays.
    QImage a(16, 8, QImage::Format_RGB32), b(16, 8, QImage::Format_RGB32);
    a.fill(qRgb(1, 2, 3));
    a.setPixel(9, 1, qRgb(200, 0, 0));
    b.fill(qRgb(1, 2, 3));
    b.setPixel(1, 1, qRgb(0, 200, 0));
    saveSheet(a, path(QStringLiteral("wa.png")));
    saveSheet(b, path(QStringLiteral("wb.png")));
    ASSERT_EQ(run({"sheet", "merge", "--tile", "8", "--dedupe", "wa.png", "wb.png", "-o", "w.png",
                   "--remap-out", "w.remap"}).exitCode, 0);
    const auto tileset = [](int first, const char* image, const QByteArray& inside) {
        return " <tileset firstgid=\"" + QByteArray::number(first) + "\" name=\"" + image +
               "\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"2\" columns=\"2\">\n  <image "
               "source=\"" + image + ".png\" width=\"16\" height=\"8\"/>\n" + inside +
               " </tileset>\n";
    };
    const QByteArray wangMap =
        "<map version=\"1.10\" orientation=\"orthogonal\" width=\"2\" height=\"1\" "
        "tilewidth=\"8\" tileheight=\"8\">\n" +
        tileset(1, "wa", "  <wangsets>\n   <wangset name=\"w\" type=\"corner\" tile=\"-1\">\n"
                         "    <wangtile tileid=\"0\" wangid=\"0,1,0,1,0,1,0,1\"/>\n   </wangset>\n"
                         "  </wangsets>\n") +
        tileset(3, "wb", "") +
        " <layer id=\"1\" name=\"g\" width=\"2\" height=\"1\">\n  <data encoding=\"csv\">1,4"
        "</data>\n </layer>\n</map>\n";
    writeFileBytes(path("w.tmx"), wangMap);
    const Finished wang = run({"levels", "remap", "--remap", "w.remap", "w.tmx", "--in-place"});
    EXPECT_EQ(wang.exitCode, 1);
    EXPECT_TRUE(wang.err.contains(QStringLiteral("tile 0 of the sheet “wa.png” and tile 1 of the "
                                                 "sheet “wb.png” both become tile 0 of the atlas, "
                                                 "but only the first carries Wang ids")))
        << describe(wang);
    EXPECT_EQ(readFileBytes(path("w.tmx")), wangMap);
    // The same for a property that only one of the two tiles carries.
    QByteArray propertyMap = wangMap;
    propertyMap.replace(propertyMap.indexOf("  <wangsets>"),
                        propertyMap.indexOf(" </tileset>") - propertyMap.indexOf("  <wangsets>"),
                        "  <tile id=\"0\">\n   <properties>\n    <property name=\"k\" "
                        "value=\"1\"/>\n   </properties>\n  </tile>\n");
    writeFileBytes(path("w.tmx"), propertyMap);
    const Finished property = run({"levels", "remap", "--remap", "w.remap", "w.tmx", "--in-place"});
    EXPECT_TRUE(property.err.contains(QStringLiteral("but only the first carries data")))
        << describe(property);
    EXPECT_EQ(readFileBytes(path("w.tmx")), propertyMap);
    // A CSV level names no tileset: refused unless --sheet names the one sheet it shows.
    writeFileBytes(path("l.csv"), "0,1\n");
    const Finished csv = run({"levels", "remap", "--remap", "atlas.remap", "l.csv", "--in-place"});
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_TRUE(csv.err.contains(QStringLiteral("which of the 3 merged sheets"))) << describe(csv);
    EXPECT_EQ(readFileBytes(path("l.csv")), QByteArray("0,1\n"));
}

// The same for Tiled's JSON maps, their tilesets embedded or TSJ files, with random data merged
// --used-by the map: every cell and object shows what it showed.
TEST_F(CommandLineTest, MergedJsonMapsShowEveryCellAsBefore)
{
    std::mt19937 random(47);
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("tilesets")));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const bool external = round % 2 == 1, flips = round >= 2;
        QJsonArray tilesets;
        std::vector<uint32_t> usable;
        std::vector<QImage> sheets;
        QStringList merge{"sheet", "merge", "--tile", "8", "--dedupe"};
        for (int n = 0; n < 4; ++n) {
            const int columns = 2 + n % 3, rows = 1 + n % 2, count = columns * rows;
            sheets.push_back(mergeTestSheet(random, n, sheets, flips ? 8 : 0));
            const QImage& sheet = sheets.back();
            const QString name = QStringLiteral("j%1").arg(n);
            saveSheet(sheet, path(name + ".png"));
            if (n < 3)
                merge << name + ".png";
            QJsonArray tiles, wangTiles;
            for (int t = 0; n < 3 && t < count; ++t) {
                const unsigned data = random() % 3 == 0 ? 0u : random() % 5;
                if (data == 0)
                    continue;
                QJsonObject tile{{"id", t},
                                 {"properties", QJsonArray{QJsonObject{
                                                    {"name", "kind"}, {"type", "int"},
                                                    {"value", int(data % 2)}}}}};
                if (data == 3 && t + 1 < count)
                    tile["animation"] = QJsonArray{QJsonObject{{"duration", 100},
                                                               {"tileid", t + 1}}};
                tiles.append(tile);
                if (data >= 3)
                    wangTiles.append(QJsonObject{{"tileid", t},
                                                 {"wangid", QJsonArray{0, 1, 0, 1, 0, 1, 0, 1}}});
            }
            QJsonObject tileset{{"columns", columns}, {"image", "../" + name + ".png"},
                                {"imageheight", rows * 8}, {"imagewidth", columns * 8},
                                {"margin", 0}, {"name", name}, {"spacing", 0},
                                {"tilecount", count}, {"tileheight", 8}, {"tilewidth", 8}};
            if (!tiles.isEmpty())
                tileset["tiles"] = tiles;
            if (!wangTiles.isEmpty())
                tileset["wangsets"] = QJsonArray{QJsonObject{
                    {"colors", QJsonArray{QJsonObject{{"color", "#ff0000"}, {"name", "c"},
                                                      {"probability", 1}, {"tile", -1}}}},
                    {"name", name}, {"tile", -1}, {"type", "corner"}, {"wangtiles", wangTiles}}};
            const int first = int(usable.size()) + 1;
            for (int t = 0; t < count; ++t)
                usable.push_back(uint32_t(first + t));
            if (external && n < 3) {
                tileset["type"] = "tileset";
                writeFileBytes(path("tilesets/" + name + ".tsj"), QJsonDocument(tileset).toJson());
                tilesets.append(QJsonObject{{"firstgid", first},
                                            {"source", "../tilesets/" + name + ".tsj"}});
            } else {
                tileset["firstgid"] = first;
                tilesets.append(tileset);
            }
        }
        QJsonArray cells, objects;
        for (int cell = 0; cell < 45; ++cell)
            cells.append(random() % 6 == 0 ? 0.0
                                           : double(usable[random() % usable.size()] |
                                                    uint32_t(random() % 8) << 29));
        for (int object = 1; object <= 4; ++object)
            objects.append(QJsonObject{{"gid", double(usable[random() % usable.size()])},
                                       {"id", object}, {"x", 8}, {"y", 8}, {"width", 8},
                                       {"height", 8}});
        const QJsonObject map{
            {"type", "map"}, {"version", "1.10"}, {"orientation", "orthogonal"},
            {"renderorder", "right-down"}, {"width", 9}, {"height", 5}, {"tilewidth", 8},
            {"tileheight", 8}, {"infinite", false}, {"tilesets", tilesets},
            {"layers", QJsonArray{QJsonObject{{"id", 1}, {"name", "ground"}, {"type", "tilelayer"},
                                              {"width", 9}, {"height", 5}, {"data", cells}},
                                  QJsonObject{{"id", 2}, {"name", "things"},
                                              {"type", "objectgroup"}, {"objects", objects}}}}};
        writeFileBytes(path("maps/m.tmj"), QJsonDocument(map).toJson());
        if (flips)
            merge << "--flips";
        const Finished merged = run(merge + QStringList{"--used-by", "maps/m.tmj", "-o",
                                                        "atlas.png", "--remap-out", "atlas.remap"});
        ASSERT_EQ(merged.exitCode, 0) << describe(merged);
        const MapLook before = lookOfJsonMap(path(QStringLiteral("maps/m.tmj")));
        QStringList remap{"levels", "remap", "--remap", "atlas.remap", "maps/m.tmj", "--in-place"};
        if (external)
            remap << "--tileset-out" << "tilesets/atlas.tsj";
        const Finished done = run(remap);
        ASSERT_EQ(done.exitCode, 0) << describe(done);
        const MapLook after = lookOfJsonMap(path(QStringLiteral("maps/m.tmj")));
        EXPECT_EQ(after.tilesets, 2);
        expectSameLook(after, before);
    }
}

namespace {

// What an LDtk project and its level files show, read here with a plain JSON reader: each placed
// tile's pixels (by its src, turned by its f) with the custom data and enum tags of its t; each
// entity's tile rectangle and each rule's tiles with theirs.
MapLook lookOfLdtk(const QString& file)
{
    const auto read = [](const QString& path) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(readFileBytes(path), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << path.toStdString();
        return object;
    };
    const QJsonObject project = read(file);
    const QString folder = QFileInfo(file).path();
    struct Tileset {
        QImage image;
        QString relPath;
        int columns = 0;
        std::map<int, QStringList> data;
    };
    std::map<int, Tileset> tilesets;
    MapLook look;
    for (const QJsonValue def : project[u"defs"][u"tilesets"].toArray()) {
        Tileset& into = tilesets[def[u"uid"].toInt()];
        into.relPath = def[u"relPath"].toString();
        into.image = QImage(QDir(folder).filePath(into.relPath)).convertToFormat(QImage::Format_ARGB32);
        into.columns = def[u"__cWid"].toInt();
        EXPECT_EQ(into.image.size(), QSize(def[u"pxWid"].toInt(), def[u"pxHei"].toInt()));
        for (const QJsonValue entry : def[u"customData"].toArray())
            into.data[entry[u"tileId"].toInt()] << entry[u"data"].toString();
        for (const QJsonValue tag : def[u"enumTags"].toArray())
            for (const QJsonValue id : tag[u"tileIds"].toArray())
                into.data[id.toInt()] << u'#' + tag[u"enumValueId"].toString();
        ++look.tilesets;
    }
    const auto show = [&](int uid, int x, int y, int w, int h, int t, unsigned turn) {
        const auto found = tilesets.find(uid);
        if (found == tilesets.end()) {
            ADD_FAILURE() << "tileset " << uid;
            look.pixels.emplace_back();
            look.data.emplace_back();
            return;
        }
        const Tileset& tileset = found->second;
        if (t < 0)
            t = y / 8 * tileset.columns + x / 8;
        EXPECT_EQ(t, y / 8 * tileset.columns + x / 8) << "t against src";
        look.pixels.push_back(turnedTile(tileset.image.copy(x, y, w, h), turn));
        QStringList data = tileset.data.count(t) ? tileset.data.at(t) : QStringList();
        data.sort();
        look.data.push_back(data.join(u' '));
    };
    for (const QJsonValue layer : project[u"defs"][u"layers"].toArray())
        for (const QJsonValue group : layer[u"autoRuleGroups"].toArray())
            for (const QJsonValue rule : group[u"rules"].toArray())
                for (const QJsonValue rect : rule[u"tileRectsIds"].toArray())
                    for (const QJsonValue id : rect.toArray()) {
                        const int uid = layer[u"tilesetDefUid"].toInt();
                        const int columns = tilesets.count(uid) ? tilesets.at(uid).columns : 1;
                        show(uid, id.toInt() % columns * 8, id.toInt() / columns * 8, 8, 8,
                             id.toInt(), 0);
                    }
    std::vector<QJsonObject> levels;
    for (const QJsonValue level : project[u"levels"].toArray())
        levels.push_back(level[u"externalRelPath"].isString()
                             ? read(QDir(folder).filePath(level[u"externalRelPath"].toString()))
                             : level.toObject());
    for (const QJsonObject& level : levels)
        for (const QJsonValue layer : level[u"layerInstances"].toArray()) {
            const int uid = layer[u"overrideTilesetUid"].isNull()
                                ? layer[u"__tilesetDefUid"].toInt()
                                : layer[u"overrideTilesetUid"].toInt();
            for (const QJsonValue tile : layer[u"gridTiles"].toArray()) {
                EXPECT_EQ(layer[u"__tilesetRelPath"].toString(),
                          tilesets.count(uid) ? tilesets.at(uid).relPath : QString());
                const int f = tile[u"f"].toInt();
                show(uid, tile[u"src"][0].toInt(), tile[u"src"][1].toInt(), 8, 8,
                     tile[u"t"].toInt(), (f & 1 ? TileSymmetry::kH : 0) | (f & 2 ? TileSymmetry::kV : 0));
            }
            for (const QJsonValue entity : layer[u"entityInstances"].toArray()) {
                const QJsonValue rect = entity[u"__tile"];
                show(rect[u"tilesetUid"].toInt(), rect[u"x"].toInt(), rect[u"y"].toInt(),
                     rect[u"w"].toInt(), rect[u"h"].toInt(), -1, 0);
            }
        }
    return look;
}

}  // namespace

// An LDtk project of four tilesets, three of them merged, with custom data, enum tags, rules,
// entities showing rectangles of several tiles and an external level file: after sheet merge --used-by the project and levels remap,
// the merged tilesets are one and every tile, rule and entity shows what it showed.
TEST_F(CommandLineTest, MergedLdtkProjectsShowEveryTileAsBefore)
{
    std::mt19937 random(61);
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("w")));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const bool flips = round >= 2;
        std::vector<QImage> sheets;
        QJsonArray tilesets, layers, levelLayers, fileLayers;
        QStringList merge{"sheet", "merge", "--tile", "8", "--dedupe"};
        for (int n = 0; n < 4; ++n) {
            const int columns = 2 + n % 3, rows = 1 + n % 2, count = columns * rows;
            sheets.push_back(mergeTestSheet(random, n, sheets, flips ? 4 : 0));
            const QImage& sheet = sheets.back();
            const QString name = QStringLiteral("s%1").arg(n);
            saveSheet(sheet, path(name + ".png"));
            if (n < 3)
                merge << name + ".png";
            QJsonArray data, walls;
            for (int t = 0; t < count; ++t) {
                if (random() % 3 == 0)
                    data.append(QJsonObject{{"tileId", t}, {"data", QString::number(random() % 2)}});
                if (random() % 4 == 0)
                    walls.append(t);
            }
            const int uid = 10 + n;
            tilesets.append(QJsonObject{
                {"__cWid", columns}, {"__cHei", rows}, {"identifier", "T" + name}, {"uid", uid},
                {"relPath", name + ".png"}, {"pxWid", columns * 8}, {"pxHei", rows * 8},
                {"tileGridSize", 8}, {"spacing", 0}, {"padding", 0}, {"tags", QJsonArray{}},
                {"tagsSourceEnumUid", 50},
                {"enumTags", QJsonArray{QJsonObject{{"enumValueId", "Wall"}, {"tileIds", walls}}}},
                {"customData", data}, {"savedSelections", QJsonArray{}},
                {"cachedPixelData", QJsonObject{{"opaqueTiles", QString(count, u'1')},
                                                {"averageColors", QString(4 * count, u'f')}}}});
            layers.append(QJsonObject{
                {"identifier", "L" + name}, {"type", "Tiles"}, {"uid", 100 + n}, {"gridSize", 8},
                {"tilesetDefUid", uid},
                {"autoRuleGroups",
                 QJsonArray{QJsonObject{{"rules", QJsonArray{QJsonObject{
                                                      {"tileMode", "Single"},
                                                      {"tileRectsIds",
                                                       QJsonArray{QJsonArray{int(random() % count)}}}}}}}}}});
            for (QJsonArray* into : {&levelLayers, &fileLayers}) {
                QJsonArray tiles, entities;
                for (int i = 0; i < 6; ++i) {
                    const int t = int(random() % count);
                    tiles.append(QJsonObject{{"px", QJsonArray{i * 8, 0}},
                                             {"src", QJsonArray{t % columns * 8, t / columns * 8}},
                                             {"f", int(random() % 4)}, {"t", t}, {"d", QJsonArray{i}}});
                }
                // A rectangle of up to 2 x 2 tiles: they move as one.
                const int across = 1 + int(random() % 2), down = 1 + int(random() % rows);
                const int x = int(random() % (columns - across + 1)), y = int(random() % (rows - down + 1));
                entities.append(QJsonObject{
                    {"__identifier", "Thing"},
                    {"__tile", QJsonObject{{"tilesetUid", uid}, {"x", x * 8}, {"y", y * 8},
                                           {"w", across * 8}, {"h", down * 8}}}});
                into->append(QJsonObject{{"__identifier", "L" + name}, {"__type", "Tiles"},
                                         {"__tilesetDefUid", uid}, {"__tilesetRelPath", name + ".png"},
                                         {"layerDefUid", 100 + n}, {"overrideTilesetUid", QJsonValue()},
                                         {"gridTiles", tiles}, {"autoLayerTiles", QJsonArray{}},
                                         {"entityInstances", entities}});
            }
        }
        const QJsonObject project{
            {"jsonVersion", "1.5.3"},
            {"defs", QJsonObject{{"tilesets", tilesets}, {"layers", layers},
                                 {"enums", QJsonArray{QJsonObject{{"identifier", "Kinds"}, {"uid", 50},
                                                                  {"values", QJsonArray{QJsonObject{{"id", "Wall"}}}}}}}}},
            {"levels", QJsonArray{QJsonObject{{"identifier", "Level_0"}, {"layerInstances", levelLayers}},
                                  QJsonObject{{"identifier", "Level_1"},
                                              {"externalRelPath", "w/Level_1.ldtkl"},
                                              {"layerInstances", QJsonValue()}}}}};
        writeFileBytes(path("w.ldtk"), QJsonDocument(project).toJson(round % 2 ? QJsonDocument::Compact : QJsonDocument::Indented));
        writeFileBytes(path("w/Level_1.ldtkl"),
                       QJsonDocument(QJsonObject{{"identifier", "Level_1"}, {"layerInstances", fileLayers}}).toJson());
        if (flips)
            merge << "--flips";
        const Finished merged = run(merge + QStringList{"--used-by", "w.ldtk", "-o", "atlas.png",
                                                        "--remap-out", "atlas.remap"});
        ASSERT_EQ(merged.exitCode, 0) << describe(merged);
        const MapLook before = lookOfLdtk(path(QStringLiteral("w.ldtk")));
        const Finished done = run({"levels", "remap", "--remap", "atlas.remap", "w.ldtk", "--in-place"});
        ASSERT_EQ(done.exitCode, 0) << describe(done);
        const MapLook after = lookOfLdtk(path(QStringLiteral("w.ldtk")));
        EXPECT_EQ(after.tilesets, 2);
        expectSameLook(after, before);
        // Merged once, the project shows none of the sheets: a second run leaves it and its
        // level file alone.
        const QByteArray level = readFileBytes(path("w/Level_1.ldtkl"));
        const Finished again =
            run({"levels", "remap", "--remap", "atlas.remap", "w.ldtk", "w/Level_1.ldtkl", "--in-place"});
        EXPECT_TRUE(again.out.contains("0 files updated (0 cells changed), 2 skipped"))
            << describe(again);
        EXPECT_EQ(readFileBytes(path("w/Level_1.ldtkl")), level);
    }
}

// An entity shows a 2 x 2 rectangle of tiles, one of them a copy of a tile before it and another
// tile before it unused: sheet dedupe and prune with --used-by keep the rectangle whole, so the
// project follows and shows what it showed.
TEST_F(CommandLineTest, PackingsKeepARectangleThatAnEntityShows)
{
    QImage sheet(24, 16, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(200, 0, 0), qRgb(200, 0, 0), qRgb(0, 0, 200),
                            qRgb(0, 200, 0), qRgb(0, 0, 200), qRgb(200, 0, 0)};
    for (int t = 0; t < 6; ++t)
        QPainter(&sheet).fillRect(t % 3 * 8, t / 3 * 8, 8, 8, colours[t]);
    const QByteArray project = R"({"defs":{"tilesets":[{"__cWid":3,"__cHei":2,"identifier":"S",
"uid":1,"relPath":"s.png","pxWid":24,"pxHei":16,"tileGridSize":8,"spacing":0,"padding":0,
"customData":[],"enumTags":[]}],"layers":[]},"levels":[{"identifier":"L","layerInstances":[
{"__identifier":"G","__tilesetDefUid":1,"__tilesetRelPath":"s.png","overrideTilesetUid":null,
"gridTiles":[{"px":[0,0],"src":[0,0],"f":0,"t":0}],"entityInstances":[{"__identifier":"Door",
"__tile":{"tilesetUid":1,"x":8,"y":0,"w":16,"h":16}}]}]}]})";
    for (const QStringList& packing :
         {QStringList{"sheet", "dedupe"}, {"sheet", "prune"}, {"sheet", "prune", "--dedupe"}}) {
        SCOPED_TRACE(packing.join(u' ').toStdString());
        saveSheet(sheet, path(QStringLiteral("s.png")));
        writeFileBytes(path("w.ldtk"), project);
        const MapLook before = lookOfLdtk(path(QStringLiteral("w.ldtk")));
        const Finished packed = run(packing + QStringList{"s.png", "--tile", "8", "--used-by",
                                                          "w.ldtk", "--in-place", "--remap-out",
                                                          "s.remap"});
        ASSERT_EQ(packed.exitCode, 0) << describe(packed);
        const Finished done = run({"levels", "remap", "--remap", "s.remap", "w.ldtk", "--in-place"});
        ASSERT_EQ(done.exitCode, 0) << describe(done);
        expectSameLook(lookOfLdtk(path(QStringLiteral("w.ldtk"))), before);
    }
}

// Two maps name different merged tileset files, and a template shows one: the atlas's tileset
// file, written once, gathers every sheet's data, and both maps and the template show what they
// showed.
TEST_F(CommandLineTest, MergedTilesetFilesServeEveryMapAndTemplate)
{
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("maps")));
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("tilesets")));
    std::mt19937 random(3);
    for (int n = 0; n < 3; ++n) {
        QImage sheet(16, 16, QImage::Format_ARGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                sheet.setPixel(x, y, qRgb(int(random() % 256), n * 80, 7));
        saveSheet(sheet, path(QStringLiteral("f%1.png").arg(n)));
        writeFileBytes(path(QStringLiteral("tilesets/f%1.tsx").arg(n)),
                       "<tileset name=\"f" + QByteArray::number(n) +
                           "\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"4\" columns=\"2\">\n"
                           " <image source=\"../f" + QByteArray::number(n) +
                           ".png\" width=\"16\" height=\"16\"/>\n <tile id=\"" +
                           QByteArray::number(n + 1) + "\"><properties><property name=\"from\" "
                           "value=\"" + QByteArray::number(n) + "\"/></properties></tile>\n"
                           "</tileset>\n");
    }
    writeFileBytes(path("maps/t.tx"), "<template>\n <tileset firstgid=\"1\" "
                                      "source=\"../tilesets/f2.tsx\"/>\n <object gid=\"4\" "
                                      "width=\"8\" height=\"8\"/>\n</template>\n");
    const auto map = [](int a, int b, const QByteArray& objects) {
        return "<map version=\"1.10\" orientation=\"orthogonal\" width=\"4\" height=\"2\" "
               "tilewidth=\"8\" tileheight=\"8\">\n <tileset firstgid=\"1\" "
               "source=\"../tilesets/f" + QByteArray::number(a) + ".tsx\"/>\n <tileset "
               "firstgid=\"5\" source=\"../tilesets/f" + QByteArray::number(b) + ".tsx\"/>\n"
               " <layer id=\"1\" name=\"g\" width=\"4\" height=\"2\">\n  <data "
               "encoding=\"csv\">1,2,3,4,5,6,7,2147483656</data>\n </layer>\n <objectgroup "
               "id=\"2\" name=\"o\">" + objects + "</objectgroup>\n</map>\n";
    };
    writeFileBytes(path("maps/a.tmx"), map(0, 1, {}));
    writeFileBytes(path("maps/b.tmx"),
                   map(1, 2, "<object id=\"1\" template=\"t.tx\" x=\"0\" y=\"8\"/>"));
    const MapLook beforeA = lookOfMap(path("maps/a.tmx"));
    const MapLook beforeB = lookOfMap(path("maps/b.tmx"));
    ASSERT_EQ(run({"sheet", "merge", "--tile", "8", "f0.png", "f1.png", "f2.png", "-o", "atlas.png",
                   "--remap-out", "atlas.remap"}).exitCode, 0);
    // Written elsewhere, a map would not find the atlas's tileset where it names it.
    const Finished elsewhere = run({"levels", "remap", "--remap", "atlas.remap", "maps/a.tmx",
                                    "--tileset-out", "tilesets/atlas.tsx", "--out-dir", "out/deeper"});
    EXPECT_EQ(elsewhere.exitCode, 1);
    EXPECT_TRUE(elsewhere.err.contains("it would not find the atlas's tileset “tilesets/atlas.tsx”"))
        << describe(elsewhere);
    EXPECT_FALSE(QFileInfo::exists(path("out")) || QFileInfo::exists(path("tilesets/atlas.tsx")));
    const Finished done = run({"levels", "remap", "--remap", "atlas.remap", "maps/a.tmx",
                               "maps/b.tmx", "--tileset-out", "tilesets/atlas.tsx", "--in-place"});
    ASSERT_EQ(done.exitCode, 0) << describe(done);
    for (const auto& [name, before] : {std::pair("maps/a.tmx", beforeA), {"maps/b.tmx", beforeB}}) {
        const MapLook after = lookOfMap(path(QString::fromLatin1(name)));
        EXPECT_EQ(after.pixels, before.pixels) << name;
        EXPECT_EQ(after.data, before.data) << name;
    }
    EXPECT_EQ(readFileBytes(path("tilesets/atlas.tsx")).count("<tile id="), 3);
}

// A remap file names the sheet it was made for (from its own folder), so that levels remap finds
// that sheet's tileset among a map's others without --sheet.
TEST_F(CommandLineTest, ARemapFindsItsSheetAmongAMapsTilesets)
{
    QImage twins(16, 8, QImage::Format_RGB32);
    twins.fill(qRgb(10, 200, 30));
    saveSheet(twins, path(QStringLiteral("b.png")));
    saveSheet(makeTestImage(16, 8), path(QStringLiteral("a.png")));
    TestLevel level;
    level.tilesets = {TestTileset{1, 2, 2, QStringLiteral("a.png")},
                      TestTileset{3, 2, 2, QStringLiteral("b.png")}};
    level.sheet = 1;
    level.layers = {TestLayer{QStringLiteral("ground"), 4, 1, {1, 2, 3, 4}, false}};
    writeFileBytes(path("l.tmx"), writeTmx(level, TestEncoding::Csv));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("remaps")));

    const Finished dedupe = run({"sheet", "dedupe", "b.png", "--tile", "8", "-o", "b2.png",
                                 "--remap-out", "remaps/b.remap"});
    ASSERT_EQ(dedupe.exitCode, 0) << describe(dedupe);
    EXPECT_TRUE(readFileBytes(path("remaps/b.remap")).startsWith(
        "tilegrid-remap 2\natlas ../b2.png\n1 2\nsheet ../b.png\ntiles 8x8 2\n0\n0\n"));
    const Finished remap = run({"levels", "remap", "--remap", "remaps/b.remap", "l.tmx", "-o", "n.tmx"});
    ASSERT_EQ(remap.exitCode, 0) << describe(remap);
    EXPECT_EQ(readTmx(readFileBytes(path("n.tmx"))).layers.at(0), std::vector<uint32_t>({1, 2, 3, 3}));
}

TEST_F(CommandLineTest, DedupeThenRemapKeepsWhatEveryCellShows)
{
    std::mt19937 random(17);
    const auto tileOf = [](const QImage& sheet, uint32_t gid) {
        const int t = int(gid & 0x0fffffffu) - 1;
        return turnedTile(sheet.copy(t % (sheet.width() / 8) * 8, t / (sheet.width() / 8) * 8, 8, 8),
                          gid >> 29);
    };
    for (int round = 0; round < 12; ++round) {
        const TestEncoding encoding = kAllTestEncodings[round % 6];
        const bool dedupes = round % 3 != 1, prunes = round % 3 != 0;
        QImage sheet(32, 24, QImage::Format_ARGB32);
        std::vector<uint32_t> usable;  // the gids of the tiles the level may show
        for (uint32_t t = 0; t < 12; ++t) {
            QImage tile(8, 8, QImage::Format_ARGB32);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    tile.setPixel(x, y, qRgb(int(random() % 256), int(random() % 2) * 255, 0));
            if (t > 0 && random() % 3 != 0)
                tile = tileOf(sheet, (1 + random() % t) | uint32_t(random() % 8) << 29);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sheet.setPixel(int(t % 4) * 8 + x, int(t / 4) * 8 + y, tile.pixel(x, y));
            if (!prunes || random() % 2 == 0 || t == 11)
                usable.push_back(t + 1);
        }
        saveSheet(sheet, path(QStringLiteral("s.png")));
        TestLevel level;
        level.tilesets = {TestTileset{1, 12, 4, QStringLiteral("s.png")}};
        level.layers = {TestLayer{QStringLiteral("ground"), 7, 5, {}, false}};
        const auto anyGid = [&] { return usable[random() % usable.size()] | uint32_t(random() % 8) << 29; };
        for (int i = 0; i < 35; ++i)
            level.layers[0].cells.push_back(i % 5 == 0 ? 0 : anyGid());
        level.objectGids = {anyGid(), 12};
        if (!dedupes) {  // tile 11 is used; its animation shows tile 0, used or not
            level.tileEntries = {11};
            for (int t = 1; t < 11 && level.tileEntries.size() == 1; ++t)  // an unused one goes
                if (std::find(usable.begin(), usable.end(), uint32_t(t + 1)) == usable.end())
                    level.tileEntries.push_back(t);
        }
        // Prune alone also reads an LDtk project and its level file: layer tiles and an entity's
        // that the map may not show, a rule's tile, and data for every tile.
        QStringList ldtk;
        QFile::remove(path("w.ldtk"));  // an earlier round's
        QFile::remove(path("w/L.ldtkl"));
        if (!dedupes) {
            QString data = QStringLiteral(R"({"tileId":0,"data":"0"})");
            for (int t = 1; t < 12; ++t)
                data += QStringLiteral(R"(,{"tileId":%1,"data":"%1"})").arg(t);
            int t[4];  // any tile but the one whose entry the map loses
            for (int& pick : t)
                if ((pick = int(random() % 12)) == level.tileEntries.back())
                    pick = 11;
            const auto src = [](int t) {
                return QStringLiteral("%1,%2").arg(t % 4 * 8).arg(t / 4 * 8);
            };
            const auto tile = [&](int t) {
                return QStringLiteral(R"({"src":[%1],"f":%2,"t":%3})")
                    .arg(src(t))
                    .arg(random() % 4)
                    .arg(t);
            };
            QDir(folder.path()).mkdir(QStringLiteral("w"));
            writeFileBytes(
                path("w.ldtk"),
                QString::fromLatin1(
                    R"({"defs":{"tilesets":[{"uid":5,"relPath":"s.png",)"
                    R"("tileGridSize":8,"__cWid":4,"__cHei":3,"pxWid":32,"pxHei":24,"spacing":0,"padding":0,)"
                    R"("customData":[%1]}],"layers":[{"tilesetDefUid":5,"autoRuleGroups":[{"rules":)"
                    R"([{"tileRectsIds":[[%2]]}]}]}]},"levels":[{"externalRelPath":"w/L.ldtkl"}]})")
                    .arg(data)
                    .arg(t[0])
                    .toUtf8());
            writeFileBytes(
                path("w/L.ldtkl"),
                QString::fromLatin1(
                    R"({"layerInstances":[{"__tilesetDefUid":5,)"
                    R"("gridTiles":[%1],"autoLayerTiles":[%2],"entityInstances":[{"__tile":{"tilesetUid":5,)"
                    R"("x":%3,"w":8,"h":8}}]}]})")
                    .arg(tile(t[1]), tile(t[2]), src(t[3]).replace(",", ",\"y\":"))
                    .toUtf8());
            ldtk = {"--used-by", "w/L.ldtkl", "--used-by", "w.ldtk"};
        }
        // Each LDtk tile as a gid of a sheet of columns columns, from its src and from its t, then
        // the rule's tile and the entity's.
        const auto ldtkCells = [&](uint32_t columns) {
            std::vector<uint32_t> gids;
            static const QRegularExpression site(
                QStringLiteral(R"("src":\[(\d+),(\d+)\],"f":(\d),"t":(\d+)|)"
                               R"("tileRectsIds":\[\[(\d+)|"x":(\d+),"y":(\d+))"));
            const QString text =
                QString::fromUtf8(readFileBytes(path("w.ldtk")) + readFileBytes(path("w/L.ldtkl")));
            for (const QRegularExpressionMatch& m : site.globalMatch(text)) {
                const auto n = [&](int i) { return m.captured(i).toUInt(); };
                const uint32_t flips = (n(3) & 1) << 31 | (n(3) & 2) << 29;
                if (m.capturedLength(1))
                    gids.insert(gids.end(),
                                {(n(2) / 8 * columns + n(1) / 8 + 1) | flips, (n(4) + 1) | flips});
                else
                    gids.push_back(m.capturedLength(5) ? n(5) + 1
                                                       : n(7) / 8 * columns + n(6) / 8 + 1);
            }
            return gids;
        };
        const std::vector<uint32_t> ldtkBefore = ldtkCells(4u);
        const bool json = random() % 2 == 0;  // TMJ, else TMX
        const QString in = json ? QStringLiteral("l.tmj") : QStringLiteral("l.tmx");
        const QString out = json ? QStringLiteral("n.tmj") : QStringLiteral("n.tmx");
        writeFileBytes(path(in), json ? writeTmj(level, encoding, true) : writeTmx(level, encoding));

        if (round == 1) {  // a level that cannot be read leaves nothing written
            const Finished refused = run({"sheet", "prune", "s.png", "--tile", "8", "-o", "x.png",
                                          "--remap-out", "x.remap", "--used-by", in, "gone.tmx"});
            EXPECT_EQ(refused.exitCode, 1) << describe(refused);
            EXPECT_FALSE(QFileInfo::exists(path("x.png")) || QFileInfo::exists(path("x.remap")));
            // Nor does a level that shows another image of the sheet's name.
            writeFileBytes(path("elsewhere.tmx"),
                           readFileBytes(path(in)).replace("s.png", "sub/s.png"));
            const Finished elsewhere = run({"sheet", "prune", "s.png", "--tile", "8", "-o", "x.png",
                                            "--remap-out", "x.remap", "--used-by", "elsewhere.tmx"});
            EXPECT_EQ(elsewhere.exitCode, 1) << describe(elsewhere);
            EXPECT_TRUE(elsewhere.err.contains(QStringLiteral("None of the levels shows “s.png”")))
                << describe(elsewhere);
            EXPECT_FALSE(QFileInfo::exists(path("x.png")) || QFileInfo::exists(path("x.remap")));
            writeFileBytes(path("l.csv"), "0,5\n");  // a CSV level's numbers are used tiles too
            const Finished csv = run({"sheet", "prune", "s.png", "--tile", "8", "--columns", "2",
                                      "-o", "x.png", "--remap-out", "x.remap", "--used-by", "l.csv"});
            ASSERT_EQ(csv.exitCode, 0) << describe(csv);
            EXPECT_EQ(loadResult(path("x.png")).size(), QSize(16, 8));
        }
        // The first step writes d.png and out, a second one rewrites them in place.
        bool again = false;
        const auto step = [&](QStringList sheetCommand) {
            const QStringList sheetOut = again ? QStringList{"--in-place"} : QStringList{"-o", "d.png"};
            const QStringList levelOut = again ? QStringList{"--in-place"} : QStringList{"-o", out};
            const QString level = again ? out : in;
            if (sheetCommand[0] == "prune")
                sheetCommand << "--used-by" << level << ldtk;
            const Finished packed = run(QStringList{"sheet", sheetCommand[0], again ? "d.png" : "s.png",
                                                    "--tile", "8", "--remap-out", "r.remap",
                                                    "--columns", "3"} +
                                        sheetOut + sheetCommand.mid(1));
            const Finished remap = run(QStringList{"levels", "remap", "--remap", "r.remap", level} + levelOut);
            const Finished project =
                ldtk.isEmpty()
                    ? Finished{0, {}, {}, {}}
                    : run({"levels", "remap", "--remap", "r.remap", "w.ldtk", "--in-place"});
            again = true;
            return packed.exitCode + remap.exitCode + project.exitCode == 0
                       ? std::string()
                       : describe(packed) + describe(remap) + describe(project);
        };
        if (dedupes) {
            ASSERT_EQ(step({"dedupe", "--flips"}), "");
        }
        if (prunes) {
            ASSERT_EQ(step({"prune", "--sheet", "s.png"}), "");
        }
        const auto read = json ? readTmj : readTmx;
        const ReadBack before = read(readFileBytes(path(in)));
        const ReadBack after = read(readFileBytes(path(out)));
        ASSERT_EQ(after.error, QString());
        EXPECT_TRUE(QString::fromUtf8(readFileBytes(path(out)))
                        .contains(QRegularExpression(QStringLiteral("columns\\W+3\\b"))));
        const QImage packed = loadResult(path(QStringLiteral("d.png")));
        ASSERT_EQ(packed.width(), 24);
        std::vector<uint32_t> cells = before.layers.at(0), now = after.layers.at(0);
        cells.insert(cells.end(), before.objectGids.begin(), before.objectGids.end());
        now.insert(now.end(), after.objectGids.begin(), after.objectGids.end());
        cells.insert(cells.end(), ldtkBefore.begin(), ldtkBefore.end());
        for (const uint32_t gid : ldtkCells(3u))
            now.push_back(gid);
        std::set<uint32_t> shown;  // the tiles that must stay
        for (size_t i = 0; i < before.sheetTileIds.size() && i < 2; ++i)
            shown.insert(uint32_t(before.sheetTileIds[i]) + 1);
        for (size_t i = 0; i < before.sheetTileIds.size() && i < 2; ++i) {  // the entry and its frame
            cells.push_back(uint32_t(before.sheetTileIds[i]) + 1);
            now.push_back(uint32_t(after.sheetTileIds.at(i)) + 1);
        }
        ASSERT_EQ(now.size(), cells.size());
        for (size_t i = 0; i < cells.size(); ++i)
            if (cells[i] == 0) {
                EXPECT_EQ(now[i], 0u);
            } else {
                shown.insert(cells[i] & 0x0fffffffu);
                EXPECT_EQ(tileOf(packed, now[i]).convertToFormat(QImage::Format_ARGB32),
                          tileOf(sheet, cells[i]))
                    << encodingName(encoding) << " cell " << i;
            }
        if (!dedupes) {
            EXPECT_EQ(packed.height(), int(shown.size() + 2) / 3 * 8);
            EXPECT_EQ(after.sheetTileIds.size() + 2 * level.tileEntries.size(),
                      before.sheetTileIds.size() + 2);
        }
        // Only the kept tiles' data stay, each with its tile, in JSON still.
        const QByteArray project = readFileBytes(path("w.ldtk"));
        static const QRegularExpression entry(
            QStringLiteral(R"re("tileId":(\d+),"data":"(\d+)")re"));
        size_t entries = 0;
        for (const QRegularExpressionMatch& m : entry.globalMatch(QString::fromUtf8(project))) {
            EXPECT_EQ(
                tileOf(packed, m.captured(1).toUInt() + 1).convertToFormat(QImage::Format_ARGB32),
                tileOf(sheet, m.captured(2).toUInt() + 1));
            ++entries;
        }
        EXPECT_EQ(entries, ldtk.isEmpty() ? 0 : shown.size());
        EXPECT_EQ(QJsonDocument::fromJson(project).isObject(), !ldtk.isEmpty());
    }
}

TEST_F(CommandLineTest, InfoPrintsOneStableBlockPerSheet)
{
    saveSheet(makeTestImage(40, 35), path(QStringLiteral("plain.png")));
    saveSheet(insertGrid(makeTestImage(40, 35), 8, qRgb(0, 0, 0)).image,
              path(QStringLiteral("gridded.bmp")));

    const Finished result =
        run({"info", "plain.png", "missing.png", "gridded.bmp", "--tile", "24"});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("“missing.png” does not exist")));
    EXPECT_EQ(result.out,
              QStringLiteral("plain.png\n"
                             "  size: 40 × 35 pixels\n"
                             "  depth: 24-bit RGB (PNG colour type 2, bit depth 8)\n"
                             "  transparent pixels: none\n"
                             "  8 × 8 tiles: 5 × 4 whole; partial strips: 3 pixels at the bottom\n"
                             "  16 × 16 tiles: 2 × 2 whole; partial strips: 8 pixels at the right, "
                             "3 pixels at the bottom\n"
                             "  24 × 24 tiles: 1 × 1 whole; partial strips: 16 pixels at the "
                             "right, 11 pixels at the bottom\n"
                             "  grid: none found at pitch 9, 17 or 25\n"
                             "  duplicate 24 × 24 tiles: 0 exact, 0 with flips\n"
                             "\n"
                             "gridded.bmp\n"
                             "  size: 45 × 36 pixels\n"
                             "  depth: 32-bit RGB\n"
                             "  transparent pixels: none\n"
                             "  8 × 8 tiles: 5 × 4 whole; partial strips: 5 pixels at the right, "
                             "4 pixels at the bottom\n"
                             "  16 × 16 tiles: 2 × 2 whole; partial strips: 13 pixels at the "
                             "right, 4 pixels at the bottom\n"
                             "  24 × 24 tiles: 1 × 1 whole; partial strips: 21 pixels at the "
                             "right, 12 pixels at the bottom\n"
                             "  grid: 1-pixel lines of #000000 after every 8 × 8 tile\n"
                             "  duplicate 24 × 24 tiles: 0 exact, 0 with flips\n"));
}

// WebP is written lossless: every pixel a game can show comes back exactly, alpha too (the
// encoder keeps no colour under full transparency).
TEST_F(CommandLineTest, WebpKeepsEveryVisiblePixelAndItsAlpha)
{
    QImage sheet = makeTestImage(32, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            sheet.setPixel(x, y, (sheet.pixel(x, y) & 0x00ffffffu) | uint32_t((x * 8 + y) % 256) << 24);
    saveSheet(sheet, path(QStringLiteral("a.png")));
    const Finished result = run({"grid", "add", "a.png", "-o", "a.webp"});
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    const QImage expected = insertGrid(sheet, 16, kMagenta).image;
    const DecodeResult back = loadImageFile(path(QStringLiteral("a.webp")), Transparency::Keep);
    ASSERT_TRUE(back.ok()) << back.error.toStdString();
    const QImage written = back.image.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(written.size(), expected.size());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (qAlpha(expected.pixel(x, y)) != 0 || qAlpha(written.pixel(x, y)) != 0) {
                ASSERT_EQ(written.pixel(x, y), expected.pixel(x, y)) << x << "," << y;
            }
}

// Tiles that are not square: whole tiles, grid and duplicates at that shape, flips only mirrors.
TEST_F(CommandLineTest, InfoReportsTilesThatAreNotSquareAtTheirShape)
{
    const QImage a = makeTestImage(5, 8);
    QImage b = a.copy();
    b.invertPixels();
    QImage row(20, 8, QImage::Format_RGB32);
    QPainter painter(&row);
    int x = 0;
    for (const QImage& tile : {a, a, a.mirrored(true, false), b}) {
        painter.drawImage(x, 0, tile);
        x += 5;
    }
    painter.end();
    saveSheet(insertGrid(row, {5, 8}, qRgb(0, 0, 0)).image, path(QStringLiteral("tall.png")));

    const Finished result = run({"info", "tall.png", "--tile", "5x8", "--gutter", "1"});

    EXPECT_EQ(result.exitCode, 0) << describe(result);
    for (const char* line : {"  size: 24 × 9 pixels\n",
                             "  5 × 8 tiles with a 1-pixel grid: 4 × 1 whole; partial strips: none\n",
                             "  grid: 1-pixel lines of #000000 after every 5 × 8 tile\n",
                             "  duplicate 5 × 8 tiles: 1 exact, 2 with flips\n"})
        EXPECT_TRUE(result.out.contains(QString::fromUtf8(line))) << line << describe(result);
}

}  // namespace
