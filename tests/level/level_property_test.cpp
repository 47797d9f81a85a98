// For every format: random rearrangements of random sheets, and random levels made against them.
// After the remap every cell must show the same picture as before, the sheet now rearranged; the
// per-tile data must name the tiles it named before; and the inverse remap must give back the very
// bytes the level started with.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <random>

#include "level/level_remap.h"
#include "support/level_files.h"

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
        const TestLevel level = randomLevel(remap, columns, random, round % 4 == 3 ? 4 : 0);
        // Every third round the sheet was also extruded: its tiles lie elsewhere in a larger image.
        const bool extruded = round % 3 == 1;
        if (extruded) {
            remap.margin = int(random() % 3);
            remap.spacing = int(random() % 5);
        }
        const QByteArray before = write(level, round);
        LevelRemapOptions options;
        options.sheet = QStringLiteral("sheet.png");

        const LevelBytesResult result = remapLevelBytes(before, fileName, remap, options);
        ASSERT_EQ(result.status, LevelFileStatus::Updated)
            << result.place.toStdString() << ": " << result.reason.toStdString();
        expectSamePictures(level, remap, read(result.bytes));
        EXPECT_EQ(result.cellsChanged, expectedChanges(level, remap));
        if (extruded) {
            EXPECT_EQ(
                sheetGeometry(result.bytes, level),
                std::vector<int>({remap.margin, remap.spacing,
                                  2 * remap.margin + columns * 8 + (columns - 1) * remap.spacing,
                                  2 * remap.margin + rows * 8 + (rows - 1) * remap.spacing}));
        }

        TileRemap inverse = remap.inverse();
        inverse.margin = extruded ? 0 : -1;
        inverse.spacing = extruded ? 0 : -1;
        const LevelBytesResult back = remapLevelBytes(result.bytes, fileName, inverse, options);
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

}  // namespace
