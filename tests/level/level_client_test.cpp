// The level editor's own renderer (tmxrasterizer, from Debian's tiled package) draws a level with
// the sheet as it was and the remapped level with the rearranged sheet: the two pictures must be
// the same pixel for pixel. Its reader also has to accept every encoding the remap writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <random>

#include "grid/grid_transform.h"
#include "grid/tile_extrusion.h"
#include "level/level_remap.h"
#include "support/image_files.h"
#include "support/level_files.h"

namespace {

constexpr int kTile = 8;
constexpr int kColumns = 4;
constexpr int kRows = 3;

class ClientRenderTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        rasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
        if (rasterizer.isEmpty())
            GTEST_SKIP()
                << "tmxrasterizer is missing (Debian package tiled): the check against the "
                   "level editor's own renderer is skipped";
        QDir(folder.path()).mkdir(QStringLiteral("before"));
        QDir(folder.path()).mkdir(QStringLiteral("after"));
    }

    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }

    // The map drawn by the editor's renderer; a null image (and a test failure) when it refuses it.
    QImage render(const QString& map)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        const QString picture = map + QStringLiteral(".png");
        process.start(rasterizer, {map, picture});
        process.waitForFinished(60000);
        EXPECT_EQ(process.exitCode(), 0) << "tmxrasterizer refused " << map.toStdString() << ": "
                                         << process.readAllStandardError().toStdString();
        return QImage(picture).convertToFormat(QImage::Format_ARGB32);
    }

    // Writes a level's sheet and other tileset images into before/ (as they were) and after/
    // (the sheet rearranged, with a grid when asked).
    void writeImages(const TestLevel& level, const TileRemap& remap, bool gridAfter = false)
    {
        for (size_t t = 0; t < level.tilesets.size(); ++t) {
            const TestTileset& tileset = level.tilesets[t];
            const TileShape tile(tileset.tileWidth, tileset.tileHeight);
            const int rows = (tileset.tileCount + tileset.columns - 1) / tileset.columns;
            QImage image = makePatternSheet(tileset.columns, rows, tile);
            if (t != level.sheet)
                image.invertPixels();  // unlike the sheet's tiles
            image.save(path("before/" + tileset.image));
            if (t == level.sheet) {
                image = rearrangedSheet(image, remap, kColumns, tile, tile);
                if (gridAfter)
                    image = insertGrid(image, tile, qRgb(255, 0, 255)).image;
            }
            image.save(path("after/" + tileset.image));
        }
    }

    void expectSameRender(const QString& before, const QString& after)
    {
        const QImage was = render(path(before));
        const QImage now = render(path(after));
        ASSERT_FALSE(was.isNull());
        int drawn = 0;
        for (int y = 0; y < was.height(); ++y)
            for (int x = 0; x < was.width(); ++x)
                drawn += qAlpha(was.pixel(x, y)) != 0;
        EXPECT_GT(drawn, 0) << "the level drew nothing";
        EXPECT_TRUE(was == now) << before.toStdString() << " and " << after.toStdString()
                                << " render differently";
    }

    QString rasterizer;
    QTemporaryDir folder;
};

LevelRemapOptions sheetNamed()
{
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    return options;
}

TEST_F(ClientRenderTest, RemappedMapsInEveryEncodingDrawTheSameWithTheRearrangedSheet)
{
    int round = 0;
    for (const bool json : {false, true}) {
        for (const TestEncoding encoding : kAllTestEncodings) {
            if (json && encoding == TestEncoding::Elements)
                continue;  // the JSON form has arrays only
            SCOPED_TRACE(std::string(json ? "tmj " : "tmx ") + encodingName(encoding));
            std::mt19937 random(77 + unsigned(round++));
            const TileRemap remap = randomRemap(kColumns, kRows, random);
            TestLevel level = randomLevel(remap, kColumns, random, round % 3 == 0 ? 4 : 0);
            // Every other sheet has tiles that are not square, taller or wider than the map's.
            if (round % 2 == 0) {
                level.tilesets[level.sheet].tileWidth = round % 4 == 0 ? 8 : 12;
                level.tilesets[level.sheet].tileHeight = round % 4 == 0 ? 16 : 6;
            }
            writeImages(level, remap);
            const QString name = QStringLiteral("level%1.%2").arg(round).arg(json ? "tmj" : "tmx");
            const QByteArray text =
                json ? writeTmj(level, encoding, true) : writeTmx(level, encoding);
            writeFileBytes(path("before/" + name), text);

            const LevelBytesResult result =
                remapLevelBytes(text, path("before/" + name), remap, sheetNamed());
            ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
            ASSERT_GT(result.cellsChanged, 0);
            writeFileBytes(path("after/" + name), result.bytes);
            expectSameRender("before/" + name, "after/" + name);
        }
    }
}

TEST_F(ClientRenderTest, AnExternalTilesetAndAnAddedGridDrawTheSameAfterTheRemap)
{
    std::mt19937 random(5);
    TileRemap remap = randomRemap(kColumns, kRows, random);
    remap.grid = TileRemap::GridChange::Added;
    TestLevel level = randomLevel(remap, kColumns, random);
    writeImages(level, remap, true);

    // The sheet's tileset in a file of its own, named by the map.
    QByteArray tmx = writeTmx(level, TestEncoding::Zlib);
    const qsizetype begin =
        tmx.indexOf("<tileset firstgid=\"" +
                    QByteArray::number(qlonglong(level.tilesets[level.sheet].firstGid)) + "\"");
    const qsizetype end = tmx.indexOf("</tileset>", begin) + 10;
    QByteArray tsx = tmx.mid(begin, end - begin);
    const QByteArray firstGid = tsx.mid(0, tsx.indexOf(" name="));
    tmx.replace(begin, end - begin, firstGid + " source=\"sheet.tsx\"/>");
    tsx.replace(firstGid, "<tileset");
    writeFileBytes(path("before/level.tmx"), tmx);
    writeFileBytes(path("before/sheet.tsx"),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + tsx + "\n");

    const LevelRemapRun run = remapLevelFiles({path("before/level.tmx")}, remap, sheetNamed(),
                                              levelOutputIntoFolder(path("after")));
    ASSERT_EQ(run.count(LevelFileStatus::Updated), 2) << run.files[0].message().toStdString();
    EXPECT_TRUE(readFileBytes(path("after/sheet.tsx")).contains("spacing=\"1\""));
    expectSameRender("before/level.tmx", "after/level.tmx");
}

TEST_F(ClientRenderTest, AnExtrudedSheetDrawsTheSameWithTheNewMarginAndSpacing)
{
    std::mt19937 random(21);
    const TileRemap made = randomRemap(kColumns, kRows, random);
    const TestLevel level = randomLevel(made, kColumns, random);
    writeImages(level, made);
    const QString sheet = level.tilesets[level.sheet].image;
    ASSERT_TRUE(extrudeTiles(QImage(path("before/" + sheet)), TileLayout::spaced(kTile, kTile, 0, 0), 2)
                    .image.save(path("after/" + sheet)));
    TileRemap extruded;
    extruded.keepsIds = true;
    extruded.margin = 2;
    extruded.spacing = 4;

    const QByteArray text = writeTmx(level, TestEncoding::Zlib);
    writeFileBytes(path("before/level.tmx"), text);
    // The level is remapped where it will stand: beside the extruded sheet, whose size it checks.
    const LevelBytesResult result =
        remapLevelBytes(text, path("after/level.tmx"), extruded, sheetNamed());
    ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
    writeFileBytes(path("after/level.tmx"), result.bytes);
    expectSameRender("before/level.tmx", "after/level.tmx");
}

}  // namespace
