// For every format: random rearrangements of random sheets, and random levels made against them.
// After the remap every cell must show the same picture as before, the sheet now rearranged; the
// per-tile data must name the tiles it named before; and the inverse remap must give back the very
// bytes the level started with.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <algorithm>
#include <random>
#include <set>

#include "level/level_remap.h"
#include "support/image_files.h"
#include "support/level_files.h"
#include "support/toy_level_format.h"

namespace {

constexpr int kRounds = 48;

// The gids' tile numbers after the remap, by the plain rule: a sheet tile t becomes newIndexOf[t].
int64_t changedCells(const std::vector<uint32_t>& cells, const TestLevel& level,
                     const TileRemap& remap)
{
    const TestTileset& sheet = level.tilesets[level.sheet];
    int64_t changed = 0;
    for (uint32_t gid : cells) {
        const int64_t id = gid & 0x0fffffff;
        if (id >= sheet.firstGid && id < sheet.firstGid + sheet.tileCount &&
            remap.newIndexOf[size_t(id - sheet.firstGid)] != id - sheet.firstGid)
            ++changed;
    }
    return changed;
}

std::vector<int> remappedIds(const std::vector<int>& ids, const TileRemap& remap)
{
    std::vector<int> out;
    for (int id : ids)
        out.push_back(id < 0 ? id : remap.newIndexOf[size_t(id)]);
    return out;
}

// Checks what a remapped map shows against the level it was made from.
void expectSamePictures(const TestLevel& level, const TileRemap& remap, const ReadBack& after)
{
    ASSERT_TRUE(after.error.isEmpty()) << after.error.toStdString();
    ASSERT_EQ(after.layers.size(), level.layers.size());
    const std::vector<int32_t> was = identityPositions(remap.tileCount());
    const std::vector<int32_t> now = positionsAfter(remap);
    for (size_t i = 0; i < level.layers.size(); ++i) {
        const TestLayer& layer = level.layers[i];
        EXPECT_EQ(renderCells(layer.cells, layer.width, level.tilesets, level.sheet, was),
                  renderCells(after.layers[i], layer.width, level.tilesets, level.sheet, now))
            << "layer " << i;
    }
    const int objects = int(level.objectGids.size());
    EXPECT_EQ(renderCells(level.objectGids, objects, level.tilesets, level.sheet, was),
              renderCells(after.objectGids, objects, level.tilesets, level.sheet, now));
    EXPECT_EQ(after.sheetTileIds, remappedIds(writtenTileIds(level), remap));
}

int64_t expectedChanges(const TestLevel& level, const TileRemap& remap)
{
    int64_t changed = changedCells(level.objectGids, level, remap);
    for (const TestLayer& layer : level.layers)
        changed += changedCells(layer.cells, level, remap);
    return changed;
}

// The sheet tileset's margin, spacing, image width and height as a remapped map says them.
std::vector<int> sheetGeometry(const QByteArray& text, const TestLevel& level)
{
    const QString name = QStringLiteral("tiles%1").arg(level.sheet);
    const auto number = [](auto value) { return value.toString().toInt(); };
    if (text.startsWith('{')) {
        for (const QJsonValue tileset : QJsonDocument::fromJson(text)["tilesets"].toArray())
            if (tileset["name"] == name)
                return {tileset["margin"].toInt(), tileset["spacing"].toInt(),
                        tileset["imagewidth"].toInt(), tileset["imageheight"].toInt()};
        return {};
    }
    std::vector<int> found;
    for (QXmlStreamReader xml(text); !xml.atEnd();) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes at = xml.attributes();
        if (xml.name() == u"tileset" && at.value("name") == name)
            found = {number(at.value("margin")), number(at.value("spacing"))};
        else if (xml.name() == u"image" && found.size() == 2)
            return {found[0], found[1], number(at.value("width")), number(at.value("height"))};
    }
    return {};
}

template <typename Write, typename Read>
void checkMapFormat(const QString& fileName, Write write, Read read)
{
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(1000 + unsigned(round));
        const int columns = 1 + int(random() % 6);
        const int rows = 1 + int(random() % 5);
        TileRemap remap = randomRemap(columns, rows, random);
        TestLevel level = randomLevel(remap, columns, random, round % 4 == 3 ? 4 : 0);
        // Half the sheets have tiles that are not square, which the map's own grid need not match.
        const TileShape shape = round % 2 == 0 ? TileShape(8)
                                               : TileShape(2 + int(random() % 15), 8 * int(1 + random() % 3));
        level.tilesets[level.sheet].tileWidth = shape.width;
        level.tilesets[level.sheet].tileHeight = shape.height;
        remap.tile = shape;
        // Every third round the sheet was also extruded: its tiles lie elsewhere in a larger image.
        const bool extruded = round % 3 == 1;
        if (extruded) {
            remap.margin = int(random() % 3);
            remap.spacing = int(random() % 5);
        }
        const QByteArray before = write(level, round);
        LevelRemapOptions options;
        options.sheet = QStringLiteral("sheet.png");
        // Every other round the entries' "tile" property is named as holding a tile id.
        if (round % 2 == 1)
            options.tileProperties = {QStringLiteral("other"), QStringLiteral("t*e")};
        // The level stands beside its sheet, whose size a new margin and spacing must match.
        QTemporaryDir folder;
        const QString levelPath = folder.filePath(QFileInfo(fileName).fileName());
        const QString sheetPath = folder.filePath(QStringLiteral("sheet.png"));
        const int width = 2 * remap.margin + columns * shape.width + (columns - 1) * remap.spacing;
        const int height = 2 * remap.margin + rows * shape.height + (rows - 1) * remap.spacing;
        if (extruded) {
            // One pixel more or less than the layout gives is refused, both sizes named.
            const bool wider = random() % 2 == 0;
            ASSERT_TRUE(QImage(width + int(wider), height + int(!wider), QImage::Format_RGB32)
                            .save(sheetPath));
            const LevelBytesResult refused = remapLevelBytes(before, levelPath, remap, options);
            EXPECT_EQ(refused.status, LevelFileStatus::Failed);
            EXPECT_TRUE(refused.reason.contains(QStringLiteral("is %1 × %2 pixels")
                                                    .arg(width + int(wider))
                                                    .arg(height + int(!wider))) &&
                        refused.reason.endsWith(QStringLiteral("give %1 × %2 pixels")
                                                    .arg(width)
                                                    .arg(height)))
                << refused.reason.toStdString();
            ASSERT_TRUE(QImage(width, height, QImage::Format_RGB32).save(sheetPath));
        }

        const LevelBytesResult result = remapLevelBytes(before, levelPath, remap, options);
        ASSERT_EQ(result.status, LevelFileStatus::Updated)
            << result.place.toStdString() << ": " << result.reason.toStdString();
        expectSamePictures(level, remap, read(result.bytes));
        EXPECT_EQ(read(result.bytes).tileProperties,
                  options.tileProperties.isEmpty() ? level.tileEntries
                                                   : remappedIds(level.tileEntries, remap));
        EXPECT_EQ(result.cellsChanged, expectedChanges(level, remap));
        if (extruded) {
            EXPECT_EQ(sheetGeometry(result.bytes, level),
                      std::vector<int>({remap.margin, remap.spacing, width, height}));
        }

        TileRemap inverse = remap.inverse();
        inverse.margin = extruded ? 0 : -1;
        inverse.spacing = extruded ? 0 : -1;
        ASSERT_TRUE(QImage(columns * shape.width, rows * shape.height, QImage::Format_RGB32)
                        .save(sheetPath));
        const LevelBytesResult back = remapLevelBytes(result.bytes, levelPath, inverse, options);
        ASSERT_EQ(back.status, LevelFileStatus::Updated) << back.reason.toStdString();
        // A map that left the margin and spacing out now says they are 0.
        EXPECT_EQ(QByteArray(back.bytes).replace(" spacing=\"0\"", "").replace(" margin=\"0\"", ""),
                  before);
    }
}

TEST(LevelPictures, TmxCellsShowTheSameTilesAfterTheRemapInEveryEncoding)
{
    checkMapFormat(
        QStringLiteral("/levels/level.tmx"),
        [](const TestLevel& level, int round) {
            return writeTmx(level, kAllTestEncodings[size_t(round) % std::size(kAllTestEncodings)]);
        },
        readTmx);
}

TEST(LevelPictures, TmjCellsShowTheSameTilesAfterTheRemapInEveryEncoding)
{
    checkMapFormat(
        QStringLiteral("/levels/level.tmj"),
        [](const TestLevel& level, int round) {
            return writeTmj(level, kAllTestEncodings[size_t(round) % std::size(kAllTestEncodings)],
                            round % 2 == 0);
        },
        readTmj);
}

// A CSV level and its fields, empty ones included, row by row.
struct CsvLevel {
    QByteArray text;
    std::vector<std::vector<QByteArray>> rows;
};

CsvLevel randomCsv(int count, int firstId, std::mt19937& random)
{
    auto below = [&](int n) { return int(random() % uint32_t(n)); };
    const bool commas = below(2);
    const QByteArray lineEnd = below(2) ? "\r\n" : "\n";
    CsvLevel level;
    const int width = 1 + below(10);
    const int height = 1 + below(10);
    for (int y = 0; y < height; ++y) {
        std::vector<QByteArray> row;
        for (int x = 0; x < width; ++x) {
            QByteArray field;
            const int kind = below(10);
            if (kind == 0 && commas)
                field = "";  // an empty field, only where commas separate
            else if (kind < 3)
                field = QByteArray::number(-1 - below(3) + (firstId == 1 ? 1 : 0));
            else
                field = QByteArray::number(firstId + below(count));
            if (x > 0)
                level.text += commas ? (below(2) ? ", " : ",") : (below(2) ? " " : "\t  ");
            level.text += field;
            row.push_back(field);
        }
        level.text += lineEnd;
        level.rows.push_back(row);
    }
    return level;
}

std::vector<std::vector<QByteArray>> csvFields(const QByteArray& text)
{
    std::vector<std::vector<QByteArray>> rows;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        std::vector<QByteArray> row;
        if (line.contains(','))
            for (const QByteArray& field : line.split(','))
                row.push_back(field.trimmed());
        else
            for (const QByteArray& field : line.simplified().split(' '))
                row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

// A CSV field as a gid of one tileset starting at 1, for the pictures: empty below firstId.
std::vector<uint32_t> csvCells(const std::vector<std::vector<QByteArray>>& rows, int firstId)
{
    std::vector<uint32_t> cells;
    for (const auto& row : rows) {
        for (const QByteArray& field : row) {
            const int number = field.isEmpty() ? -1 : field.toInt();
            cells.push_back(number < firstId ? 0u : uint32_t(1 + number - firstId));
        }
    }
    return cells;
}

TEST(LevelPictures, CsvCellsShowTheSameTilesAfterTheRemap)
{
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(2000 + unsigned(round));
        const int columns = 1 + int(random() % 6);
        const TileRemap remap = randomRemap(columns, 1 + int(random() % 5), random);
        const int firstId = round % 2;
        const CsvLevel level = randomCsv(remap.tileCount(), firstId, random);
        LevelRemapOptions options;
        options.firstId = firstId;

        const LevelBytesResult result =
            remapLevelBytes(level.text, QStringLiteral("l.csv"), remap, options);
        ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
        const auto after = csvFields(result.bytes);
        ASSERT_EQ(after.size(), level.rows.size());
        const int width = int(level.rows[0].size());
        const std::vector<TestTileset> tilesets{{1, remap.tileCount(), columns, {}}};
        EXPECT_EQ(renderCells(csvCells(level.rows, firstId), width, tilesets, 0,
                              identityPositions(remap.tileCount())),
                  renderCells(csvCells(after, firstId), width, tilesets, 0, positionsAfter(remap)));

        const LevelBytesResult back =
            remapLevelBytes(result.bytes, QStringLiteral("l.csv"), remap.inverse(), options);
        EXPECT_EQ(back.bytes, level.text);
    }
}

// A format that only the tests register goes through the same remap as the real ones: its cells,
// with random flips, show the same tiles afterwards, and the inverse gives back the very bytes.
TEST(LevelPictures, CellsOfAFormatOfTheTestsOwnShowTheSameTilesAfterTheRemap)
{
    const ExtraLevelFormat toy(toyLevelFormat());
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(3000 + unsigned(round));
        const int columns = 1 + int(random() % 6);
        const TileRemap remap = randomRemap(columns, 1 + int(random() % 5), random);
        std::vector<uint32_t> cells(1 + random() % 30);
        QByteArray text = "toy sheet.png 8 " + QByteArray::number(columns) + " " +
                          QByteArray::number(remap.tileCount()) + "\n";
        for (uint32_t& cell : cells) {
            cell = uint32_t(random() % uint32_t(remap.tileCount() + 1));
            if (cell > 0)
                cell |= uint32_t(random() % 8) << 29;
            text += QByteArray::number(cell) + (random() % 4 == 0 ? "\n" : " ");
        }
        const auto cellsOf = [](const QByteArray& bytes) {
            std::vector<uint32_t> found;
            for (const QByteArray& word : bytes.simplified().split(' ').mid(5))
                found.push_back(word.toUInt());
            return found;
        };
        const std::vector<TestTileset> tilesets{{1, remap.tileCount(), columns, {}}};
        const QString path = QStringLiteral("l.toy");
        const LevelBytesResult result = remapLevelBytes(text, path, remap, {});
        ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
        const int width = int(cells.size());
        EXPECT_EQ(renderCells(cells, width, tilesets, 0, identityPositions(remap.tileCount())),
                  renderCells(cellsOf(result.bytes), width, tilesets, 0, positionsAfter(remap)));
        EXPECT_EQ(remapLevelBytes(result.bytes, path, remap.inverse(), {}).bytes, text);
    }
}

// A template's one tile object, at a random first gid with random flags, in both forms: it shows
// the same tile after the remap, and the inverse gives back the very bytes.
TEST(LevelPictures, TemplateTilesShowTheSameTileAfterTheRemap)
{
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(3000 + unsigned(round));
        const int columns = 1 + int(random() % 6);
        const TileRemap remap = randomRemap(columns, 1 + int(random() % 5), random);
        const TestTileset sheet{int64_t(1 + random() % 100), remap.tileCount(), columns,
                                "sheet.png"};
        const uint32_t gid = uint32_t(sheet.firstGid + random() % uint32_t(sheet.tileCount)) |
                             uint32_t(random() & 0xf0000000u);
        const bool json = round % 2;
        const QByteArray text = QString::fromLatin1(json ? R"({"type": "template", "tileset":
 {"firstgid": %1, "tilecount": %2, "columns": %3, "image": "sheet.png"}, "object": {"gid": %4}})"
                                                         : R"(<template><tileset firstgid="%1"
 tilecount="%2" columns="%3"><image source="sheet.png"/></tileset><object gid="%4"/></template>)")
                                    .arg(sheet.firstGid).arg(sheet.tileCount).arg(columns).arg(gid)
                                    .toUtf8();
        const QString fileName = json ? QStringLiteral("t.tj") : QStringLiteral("t.tx");

        const LevelBytesResult result = remapLevelBytes(text, fileName, remap, {});
        ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
        const QRegularExpressionMatch after =
            QRegularExpression(R"(\bgid"?[=:] ?"?(\d+))").match(QString::fromUtf8(result.bytes));
        ASSERT_TRUE(after.hasMatch());
        EXPECT_EQ(renderCells({gid}, 1, {sheet}, 0, identityPositions(remap.tileCount())),
                  renderCells({after.captured(1).toUInt()}, 1, {sheet}, 0, positionsAfter(remap)));
        EXPECT_EQ(remapLevelBytes(result.bytes, fileName, remap.inverse(), {}).bytes, text);
    }
}

// LDtk: a random project against a sheet of 8-pixel tiles with padding and spacing, one level kept
// inside it and one in a file of its own, each with a tile layer, an auto-layer, a layer of another
// tileset and entities that show tiles; the sheet's definitions name tiles too. Pictures are drawn
// from each tile's src and f alone, the sheet's geometry as the tileset says it.
struct LdtkGeometry {
    int columns = 1;
    int padding = 0;
    int spacing = 0;
    int tile(int x, int y) const
    {
        return (y - padding) / (8 + spacing) * columns + (x - padding) / (8 + spacing);
    }
    int x(int tile) const { return padding + tile % columns * (8 + spacing); }
    int y(int tile) const { return padding + tile / columns * (8 + spacing); }
};

// A tile rectangle: across × down tiles from tile first.
struct LdtkBlock {
    int first = 0;
    int across = 1;
    int down = 1;
};

QJsonObject ldtkRect(int uid, const LdtkGeometry& sheet, const LdtkBlock& block)
{
    const auto side = [&](int tiles) { return tiles * (8 + sheet.spacing) - sheet.spacing; };
    return {{"tilesetUid", uid}, {"x", sheet.x(block.first)}, {"y", sheet.y(block.first)},
            {"w", side(block.across)}, {"h", side(block.down)}};
}

QJsonObject ldtkRect(int uid, const LdtkGeometry& sheet, int tile)
{
    return ldtkRect(uid, sheet, LdtkBlock{tile});
}

// The tiles a rectangle covers, row by row; its sides must span whole tiles.
std::vector<int> ldtkRectTiles(int x, int y, int w, int h, const LdtkGeometry& sheet)
{
    const int pitch = 8 + sheet.spacing;
    const int across = (w + sheet.spacing) / pitch, down = (h + sheet.spacing) / pitch;
    EXPECT_EQ(across * pitch - sheet.spacing, w);
    EXPECT_EQ(down * pitch - sheet.spacing, h);
    std::vector<int> tiles;
    for (int r = 0; r < down; ++r)
        for (int c = 0; c < across; ++c)
            tiles.push_back(sheet.tile(x, y) + r * sheet.columns + c);
    return tiles;
}

std::vector<int> ldtkRectTiles(const QJsonValue& rect, const LdtkGeometry& sheet)
{
    return ldtkRectTiles(rect["x"].toInt(), rect["y"].toInt(), rect["w"].toInt(),
                         rect["h"].toInt(), sheet);
}

// Two tiles side by side or one above the other, as the sheet has room, and the remap changed to
// move them together: the Door shows them, a rectangle that is not square (one tile on a sheet of
// one).
LdtkBlock ldtkMovingBlock(TileRemap& remap, int columns, std::mt19937& random)
{
    const int rows = remap.tileCount() / columns;
    if (columns == 1 && rows == 1)
        return {};
    LdtkBlock block;
    if (rows == 1 || (columns > 1 && random() % 2))
        block.across = 2;
    else
        block.down = 2;
    const auto place = [&] {
        return int(random() % unsigned(rows - block.down + 1)) * columns +
               int(random() % unsigned(columns - block.across + 1));
    };
    block.first = place();
    const int to = place();
    const int step = block.across == 2 ? 1 : columns;
    for (int i = 0; i < 2; ++i)
        std::swap(remap.newIndexOf[size_t(block.first + i * step)],
                  *std::find(remap.newIndexOf.begin(), remap.newIndexOf.end(), to + i * step));
    return block;
}

QJsonObject ldtkLevel(const LdtkGeometry& sheet, int count, const LdtkBlock& door,
                      std::mt19937& random, int index)
{
    auto below = [&](int n) { return int(random() % uint32_t(n)); };
    auto tiles = [&](int uid, int tileCount) {
        QJsonArray list;
        for (int i = below(12); i >= 0; --i) {
            const int t = below(tileCount);
            const int f = below(4);
            const LdtkGeometry& geometry = uid == 5 ? sheet : LdtkGeometry{3, 0, 0};
            QJsonObject tile{{"px", QJsonArray{8 * i, 0}},
                             {"src", QJsonArray{geometry.x(t), geometry.y(t)}},
                             {"t", t}, {"d", QJsonArray{i}}};
            if (f != 0)  // LDtk may leave out f of a tile without flips
                tile["f"] = f;
            list.append(tile);
        }
        return list;
    };
    auto layer = [&](const char* name, QJsonValue uid, QJsonValue override) {
        return QJsonObject{{"__identifier", name}, {"__tilesetDefUid", uid},
                           {"__tilesetRelPath", uid.isNull() ? QJsonValue() : "sheet.png"},
                           {"overrideTilesetUid", override}};
    };
    QJsonObject ground = layer("Ground", 5, QJsonValue());
    ground["gridTiles"] = tiles(5, count);
    QJsonObject walls = layer("Walls", 5, QJsonValue());
    walls["autoLayerTiles"] = tiles(5, count);
    QJsonObject other = layer("Other", 5, 6);
    other["gridTiles"] = tiles(6, 9);
    QJsonObject entities = layer("Things", QJsonValue(), QJsonValue());
    const QJsonObject rect = ldtkRect(5, sheet, door);
    entities["entityInstances"] = QJsonArray{QJsonObject{
        {"__identifier", "Door"},
        {"__tile", rect},
        {"fieldInstances",
         QJsonArray{QJsonObject{
             {"__identifier", "look"},
             {"__type", "Tile"},
             {"__value", rect},
             {"realEditorValues",
              QJsonArray{QJsonObject{
                  {"id", "V_String"},
                  {"params", QJsonArray{QStringLiteral("%1,%2,%3,%4")
                                            .arg(rect["x"].toInt())
                                            .arg(rect["y"].toInt())
                                            .arg(rect["w"].toInt())
                                            .arg(rect["h"].toInt())}}}}}}}}}};
    return {{"identifier", QStringLiteral("Level_%1").arg(index)}, {"uid", index},
            {"layerInstances", QJsonArray{ground, walls, other, entities}}};
}

QJsonObject ldtkProject(const LdtkGeometry& sheet, int count, const LdtkBlock& door,
                        std::mt19937& random)
{
    auto below = [&](int n) { return int(random() % uint32_t(n)); };
    QString opaque;
    QString colours;
    QJsonArray data;
    QJsonArray tagged;
    for (int t = 0; t < count; ++t) {
        opaque += QChar(below(2) ? '1' : '0');
        colours += QStringLiteral("%1").arg(below(0x10000), 4, 16, QChar('0'));
        if (below(3) == 0)
            data.append(QJsonObject{{"tileId", t}, {"data", QStringLiteral("tile %1").arg(t)}});
        if (below(2))
            tagged.append(t);
    }
    const int rows = count / sheet.columns;
    const QJsonObject tileset{
        {"__cWid", sheet.columns}, {"__cHei", rows}, {"identifier", "Sheet"}, {"uid", 5},
        {"relPath", "sheet.png"},
        {"pxWid", 2 * sheet.padding + sheet.columns * 8 + (sheet.columns - 1) * sheet.spacing},
        {"pxHei", 2 * sheet.padding + rows * 8 + (rows - 1) * sheet.spacing},
        {"tileGridSize", 8}, {"spacing", sheet.spacing}, {"padding", sheet.padding},
        {"customData", data},
        {"enumTags", QJsonArray{QJsonObject{{"enumValueId", "Solid"}, {"tileIds", tagged}}}},
        {"savedSelections", QJsonArray{QJsonObject{{"ids", QJsonArray{below(count)}}}}},
        {"cachedPixelData", QJsonObject{{"opaqueTiles", opaque}, {"averageColors", colours}}}};
    const QJsonObject other{{"__cWid", 3}, {"__cHei", 3}, {"identifier", "Other"}, {"uid", 6},
                            {"relPath", "other.png"}, {"pxWid", 24}, {"pxHei", 24},
                            {"tileGridSize", 8}, {"spacing", 0}, {"padding", 0}};
    const QJsonObject rule{{"uid", 1},
                           {"tileRectsIds", QJsonArray{QJsonArray{below(count)},
                                                       QJsonArray{below(count), below(count)}}}};
    const QJsonObject layerDef{
        {"identifier", "Walls"}, {"uid", 2}, {"tilesetDefUid", 5},
        {"autoRuleGroups", QJsonArray{QJsonObject{{"rules", QJsonArray{rule}}}}}};
    const QJsonObject entityDef{{"identifier", "Door"},
                                {"tileRect", ldtkRect(5, sheet, below(count))}};
    // As files before LDtk 1.4 name tiles.
    const QJsonObject olderEntity{
        {"identifier", "Key"}, {"tilesetId", 5}, {"tileId", below(count)}};
    const int icon = below(count);
    const QJsonObject olderEnum{
        {"identifier", "Item"}, {"iconTilesetUid", 5},
        {"values", QJsonArray{QJsonObject{
                       {"id", "Sword"}, {"tileId", icon},
                       {"__tileSrcRect", QJsonArray{sheet.x(icon), sheet.y(icon), 8, 8}}}}}};
    const QJsonObject external{{"identifier", "Level_1"},
                               {"externalRelPath", "world/Level_1.ldtkl"},
                               {"layerInstances", QJsonValue()}};
    return {{"jsonVersion", "1.5.3"}, {"externalLevels", true},
            {"defs", QJsonObject{{"tilesets", QJsonArray{tileset, other}},
                                 {"layers", QJsonArray{layerDef}},
                                 {"entities", QJsonArray{entityDef, olderEntity}},
                                 {"enums", QJsonArray{olderEnum}}}},
            {"levels", QJsonArray{ldtkLevel(sheet, count, door, random, 0), external}}};
}

// Every tile of a project or level file as a gid of the sheet (from 1) or of the other tileset
// (from 1000), its flips as the gid's flags; each t must agree with its src.
std::vector<uint32_t> ldtkCells(const QJsonValue& root, const LdtkGeometry& sheet)
{
    std::vector<uint32_t> cells;
    std::vector<QJsonValue> levels{root};
    for (const QJsonValue level : root["levels"].toArray())
        levels.push_back(level);
    for (const QJsonValue& level : levels) {
        for (const QJsonValue layer : level["layerInstances"].toArray()) {
            const bool other = layer["overrideTilesetUid"].toInt() == 6;
            const LdtkGeometry geometry = other ? LdtkGeometry{3, 0, 0} : sheet;
            for (const char* key : {"gridTiles", "autoLayerTiles"}) {
                for (const QJsonValue tile : layer[key].toArray()) {
                    const int shown = geometry.tile(tile["src"][0].toInt(), tile["src"][1].toInt());
                    EXPECT_EQ(tile["t"].toInt(), shown);
                    const uint32_t flips = (tile["f"].toInt() & 1 ? 0x80000000u : 0) |
                                           (tile["f"].toInt() & 2 ? 0x40000000u : 0);
                    cells.push_back(uint32_t(shown + (other ? 1000 : 1)) | flips);
                }
            }
            for (const QJsonValue entity : layer["entityInstances"].toArray()) {
                const QJsonValue field = entity["fieldInstances"][0];
                const QStringList kept =
                    field["realEditorValues"][0]["params"][0].toString().split(',');
                for (const std::vector<int>& shown :
                     {ldtkRectTiles(entity["__tile"], sheet),
                      ldtkRectTiles(field["__value"], sheet),
                      ldtkRectTiles(kept[0].toInt(), kept[1].toInt(), kept[2].toInt(),
                                    kept[3].toInt(), sheet)})
                    for (int tile : shown)
                        cells.push_back(uint32_t(tile + 1));
            }
        }
    }
    return cells;
}

// The sheet's tile ids named in definitions, in order, and the per-tile caches.
std::vector<int> ldtkDefinitionIds(const QJsonValue& project, const LdtkGeometry& geometry)
{
    std::vector<int> ids;
    const QJsonValue sheet = project["defs"]["tilesets"][0];
    for (const QJsonValue data : sheet["customData"].toArray())
        ids.push_back(data["tileId"].toInt());
    for (const QJsonValue id : sheet["enumTags"][0]["tileIds"].toArray())
        ids.push_back(id.toInt());
    ids.push_back(sheet["savedSelections"][0]["ids"][0].toInt());
    for (const QJsonValue rect : project["defs"]["layers"][0]["autoRuleGroups"][0]["rules"][0]
                                     ["tileRectsIds"].toArray())
        for (const QJsonValue id : rect.toArray())
            ids.push_back(id.toInt());
    const QJsonValue value = project["defs"]["enums"][0]["values"][0];
    const QJsonValue rect = value["__tileSrcRect"];
    for (const QJsonValue& id : {project["defs"]["entities"][1]["tileId"], value["tileId"]})
        ids.push_back(id.toInt());
    ids.push_back(geometry.tile(rect[0].toInt(), rect[1].toInt()));
    return ids;
}

// The sheet's tiles that definitions and entities name: they have no flips to take a turn.
std::set<int> ldtkNamedTiles(const QJsonObject& project, const QJsonObject& external,
                             const LdtkGeometry& sheet)
{
    const std::vector<int> ids = ldtkDefinitionIds(project, sheet);
    std::set<int> named(ids.begin(), ids.end());
    std::vector<QJsonValue> rects{project["defs"]["entities"][0]["tileRect"]};
    for (const QJsonValue& level : {project["levels"][0], QJsonValue(external)})
        for (const QJsonValue layer : level["layerInstances"].toArray())
            for (const QJsonValue entity : layer["entityInstances"].toArray())
                rects.push_back(entity["__tile"]);
    for (const QJsonValue& rect : rects)
        for (int tile : ldtkRectTiles(rect, sheet))
            named.insert(tile);
    return named;
}

TEST(LevelPictures, LdtkTilesShowTheSameTilesAfterTheRemap)
{
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(4000 + unsigned(round));
        // Every third round tiles that only layers show also turn, as a remap file may say; the
        // sheet is then packed: no padding, no spacing.
        const bool turns = round % 3 == 2;
        LdtkGeometry sheet{1 + int(random() % 6), int(random() % 3), int(random() % 3)};
        if (turns)
            sheet.padding = sheet.spacing = 0;
        TileRemap remap = randomRemap(sheet.columns, 1 + int(random() % 5), random);
        const LdtkBlock door = ldtkMovingBlock(remap, sheet.columns, random);
        const int count = remap.tileCount();
        LdtkGeometry after = sheet;
        if (round % 3 == 1) {
            after.padding = remap.margin = int(random() % 3);
            after.spacing = remap.spacing = int(random() % 4);
        }
        const QJsonObject project = ldtkProject(sheet, count, door, random);
        const QJsonObject external = ldtkLevel(sheet, count, door, random, 1);
        if (turns) {
            const std::set<int> named = ldtkNamedTiles(project, external, sheet);
            remap.symmetryOf.resize(size_t(count));
            for (int t = 0; t < count; ++t)
                if (!named.count(t))
                    remap.symmetryOf[size_t(t)] = TileSymmetry(random() % 4 * 2);  // H, V or both
        }
        const auto layout = round % 2 ? QJsonDocument::Indented : QJsonDocument::Compact;
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("world.ldtk"));
        const QString levelPath = folder.filePath(QStringLiteral("world/Level_1.ldtkl"));
        QDir(folder.path()).mkdir(QStringLiteral("world"));
        const QByteArray projectText = QJsonDocument(project).toJson(layout);
        const QByteArray levelText = QJsonDocument(external).toJson(layout);
        writeFileBytes(path, projectText);
        writeFileBytes(levelPath, levelText);

        LevelRemapOptions options;
        options.sheet = QStringLiteral("sheet.png");
        // The sheet's image as each run finds it: extruded for the first, as it was for the second.
        const int rows = count / sheet.columns;
        auto saveSheetOf = [&](const LdtkGeometry& g) {
            return QImage(2 * g.padding + g.columns * 8 + (g.columns - 1) * g.spacing,
                          2 * g.padding + rows * 8 + (rows - 1) * g.spacing, QImage::Format_RGB32)
                .save(folder.filePath(QStringLiteral("sheet.png")));
        };
        ASSERT_TRUE(saveSheetOf(after));
        const LevelRemapRun run = remapLevelFiles({path}, remap, options);
        ASSERT_EQ(run.files.size(), 2u);
        ASSERT_EQ(run.count(LevelFileStatus::Failed), 0) << run.files[0].message().toStdString();
        const QJsonDocument projectAfter = QJsonDocument::fromJson(readFileBytes(path));
        const QJsonDocument levelAfter = QJsonDocument::fromJson(readFileBytes(levelPath));
        const std::vector<TestTileset> tilesets{{1, count, sheet.columns, {}}, {1000, 9, 3, {}}};
        for (const auto& [before, now] : {std::pair{QJsonValue(project), projectAfter.object()},
                                          std::pair{QJsonValue(external), levelAfter.object()}}) {
            const std::vector<uint32_t> was = ldtkCells(before, sheet);
            std::vector<uint32_t> is = ldtkCells(now, after);
            // A new tile holds its original mirrored as the remap says; mirrors undo themselves.
            const std::vector<int32_t> holds = positionsAfter(remap);
            for (uint32_t& cell : is) {
                const uint32_t id = cell & 0x0fffffffu;
                const unsigned turn = id >= 1 && id <= holds.size()
                                          ? remap.symmetry(size_t(holds[id - 1])).bits()
                                          : 0;
                cell ^= (turn & TileSymmetry::kH ? 0x80000000u : 0) |
                        (turn & TileSymmetry::kV ? 0x40000000u : 0);
            }
            EXPECT_EQ(renderCells(was, int(was.size()), tilesets, 0, identityPositions(count)),
                      renderCells(is, int(is.size()), tilesets, 0, positionsAfter(remap)));
        }
        EXPECT_EQ(ldtkDefinitionIds(projectAfter.object(), after),
                  remappedIds(ldtkDefinitionIds(project, sheet), remap));
        const QJsonValue cache = project["defs"]["tilesets"][0]["cachedPixelData"];
        const QJsonValue cacheAfter = projectAfter["defs"]["tilesets"][0]["cachedPixelData"];
        for (int t = 0; t < count; ++t) {
            const int now = remap.newIndexOf[size_t(t)];
            EXPECT_EQ(cacheAfter["opaqueTiles"].toString()[now],
                      cache["opaqueTiles"].toString()[t]);
            EXPECT_EQ(cacheAfter["averageColors"].toString().mid(4 * now, 4),
                      cache["averageColors"].toString().mid(4 * t, 4));
        }
        EXPECT_EQ(projectAfter["defs"]["tilesets"][0]["pxWid"].toInt(),
                  2 * after.padding + sheet.columns * 8 + (sheet.columns - 1) * after.spacing);

        if (turns)
            continue;  // a turned tile cannot be turned back
        TileRemap inverse = remap.inverse();
        inverse.margin = remap.margin >= 0 ? sheet.padding : -1;
        inverse.spacing = remap.spacing >= 0 ? sheet.spacing : -1;
        ASSERT_TRUE(saveSheetOf(sheet));
        const LevelRemapRun back = remapLevelFiles({path}, inverse, options);
        ASSERT_EQ(back.count(LevelFileStatus::Failed), 0) << back.files[0].message().toStdString();
        EXPECT_EQ(readFileBytes(path), projectText);
        EXPECT_EQ(readFileBytes(levelPath), levelText);
    }
}

}  // namespace
