// Hand-written level files: what exactly the remap writes, that everything else stays byte for
// byte, data made by other compressors, infinite maps, tile objects, grid changes and bad input.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "level/atlas_merge.h"
#include "level/layer_codec.h"
#include "level/level_remap.h"
#include "support/image_files.h"
#include "support/level_files.h"
#include "support/test_names.h"
#include "support/toy_level_format.h"

namespace {

// Tile 0 goes to position 2, 1 to 0, 2 to 3 and 3 to 1.
TileRemap fourTiles(TileRemap::GridChange grid = TileRemap::GridChange::None)
{
    TileRemap remap;
    remap.newIndexOf = {2, 0, 3, 1};
    remap.grid = grid;
    return remap;
}

LevelBytesResult remapText(const QByteArray& text, const char* fileName,
                           const TileRemap& remap = fourTiles(),
                           const LevelRemapOptions& options = {})
{
    return remapLevelBytes(text, QString::fromLatin1(fileName), remap, options);
}

// Expects an update to exactly the expected text.
void expectUpdate(const QByteArray& text, const char* fileName, const QByteArray& expected,
                  qint64 cells, qint64 tiles, const TileRemap& remap = fourTiles(),
                  const LevelRemapOptions& options = {})
{
    const LevelBytesResult result = remapText(text, fileName, remap, options);
    ASSERT_EQ(result.status, LevelFileStatus::Updated)
        << result.place.toStdString() << ": " << result.reason.toStdString();
    EXPECT_EQ(result.bytes.toStdString(), expected.toStdString());
    EXPECT_EQ(result.cellsChanged, cells);
    EXPECT_EQ(result.tilesMoved, tiles);
    // Nothing changes under the identity, not even compressed data.
    TileRemap identity = remap;
    for (size_t i = 0; i < identity.newIndexOf.size(); ++i)
        identity.newIndexOf[i] = int32_t(i);
    identity.grid = TileRemap::GridChange::None;
    EXPECT_EQ(remapText(text, fileName, identity, options).bytes, text);
}

const QByteArray kTmx = R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" width="3" height="2" tilewidth="8" tileheight="8" infinite="0">
 <tileset firstgid="1" name="sheet" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="sheet.png" width="16" height="16"/>
  <tile id="1" type="wall" probability="0.5">
   <properties>
    <property name="solid" type="bool" value="true"/>
   </properties>
   <objectgroup draworder="index" id="2">
    <object id="1" x="0" y="0" width="8" height="8"/>
   </objectgroup>
   <animation>
    <frame tileid="1" duration="100"/>
    <frame tileid='3' duration="100"/>
   </animation>
  </tile>
  <wangsets>
   <wangset name="ground" type="corner" tile="3">
    <wangcolor name="grass" color="#00ff00" tile="-1" probability="1"/>
    <wangtile tileid="0" wangid="0,1,0,1,0,1,0,1"/>
   </wangset>
  </wangsets>
 </tileset>
 <tileset firstgid="5" name="other" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="other.png" width="16" height="16"/>
  <tile id="1"><properties><property name="x" value="1"/></properties></tile>
 </tileset>
 <group id="3" name="scenery">
  <layer id="1" name="Ground" width="3" height="2">
   <data encoding="csv">
1,2,0,
2147483650,5,4
</data>
  </layer>
 </group>
 <objectgroup id="2" name="things">
  <object id="1" gid="1073741828" x="0" y="16" width="8" height="8"/>
  <object id="2" name="plain" x="8" y="8"/>
 </objectgroup>
</map>
)";

TEST(LevelFormats, TmxRewritesOnlyTheSheetsNumbers)
{
    const QByteArray expected = R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" width="3" height="2" tilewidth="8" tileheight="8" infinite="0">
 <tileset firstgid="1" name="sheet" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="sheet.png" width="16" height="16"/>
  <tile id="0" type="wall" probability="0.5">
   <properties>
    <property name="solid" type="bool" value="true"/>
   </properties>
   <objectgroup draworder="index" id="2">
    <object id="1" x="0" y="0" width="8" height="8"/>
   </objectgroup>
   <animation>
    <frame tileid="0" duration="100"/>
    <frame tileid='1' duration="100"/>
   </animation>
  </tile>
  <wangsets>
   <wangset name="ground" type="corner" tile="1">
    <wangcolor name="grass" color="#00ff00" tile="-1" probability="1"/>
    <wangtile tileid="2" wangid="0,1,0,1,0,1,0,1"/>
   </wangset>
  </wangsets>
 </tileset>
 <tileset firstgid="5" name="other" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="other.png" width="16" height="16"/>
  <tile id="1"><properties><property name="x" value="1"/></properties></tile>
 </tileset>
 <group id="3" name="scenery">
  <layer id="1" name="Ground" width="3" height="2">
   <data encoding="csv">
3,1,0,
2147483649,5,2
</data>
  </layer>
 </group>
 <objectgroup id="2" name="things">
  <object id="1" gid="1073741826" x="0" y="16" width="8" height="8"/>
  <object id="2" name="plain" x="8" y="8"/>
 </objectgroup>
</map>
)";
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    expectUpdate(kTmx, "level.tmx", expected, 5, 5, fourTiles(), options);
}

// A TMX of one 2 x 2 layer, cells 1, 2, 3 (flipped) and 6 (another tileset), in the given data.
QByteArray smallTmx(const QByteArray& dataAttributes, const QByteArray& data)
{
    return R"(<?xml version="1.0"?>
<map width="2" height="2" tilewidth="8" tileheight="8">
 <tileset firstgid="1" name="sheet" tilewidth="8" tileheight="8" tilecount="4" columns="2">
  <image source="art/sheet.png" width="16" height="16"/>
 </tileset>
 <tileset firstgid="5" source="other.tsx"/>
 <layer name="L" width="2" height="2">
  <data)" + dataAttributes +
           ">" + data + "</data>\n </layer>\n</map>\n";
}

// Reads the one layer of smallTmx-like text back.
std::vector<uint32_t> cellsOf(const QByteArray& tmx)
{
    const ReadBack back = readTmx(tmx);
    EXPECT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    return back.layers.empty() ? std::vector<uint32_t>() : back.layers[0];
}

// The other tileset is external: the remap must know where its gids start, not what it holds.
ExternalTileset otherTileset(const QString& path)
{
    ExternalTileset other;
    other.facts.name = QStringLiteral("other");
    other.facts.image = QStringLiteral("other.png");
    other.facts.folder = QStringLiteral("/levels");
    other.facts.tileCount = 4;
    EXPECT_TRUE(path.endsWith(QStringLiteral("/other.tsx")));
    return other;
}

TEST(LevelFormats, EveryEncodingIsReadAndWrittenBackTheSameWay)
{
    // Data made elsewhere: zlib at level 9, gzip with a file name and time, zstd with a checksum.
    const struct {
        QByteArray attributes;
        QByteArray data;
    } files[] = {
        {"", "\n   <tile gid=\"1\"/>\n   <tile gid=\"2\"/>\n   <tile gid=\"2147483651\"/>\n   "
             "<tile gid=\"6\"/>\n  "},
        {" encoding=\"csv\"", "1,2,\n2147483651,6"},
        {" encoding=\"base64\"", "\n   AQAAAAIAAAADAACABgAAAA==\n  "},
        {" encoding=\"base64\" compression=\"zlib\"", "eNpjZGBgYAJiZgaGBjYgDQAC6ACN"},
        {" encoding=\"base64\" compression=\"gzip\"",
         "H4sICADxU2UC/2xheWVyLmJpbgBjZGBgYAJiZgaGBjYgDQD2rOq0EAAAAA=="},
        {" encoding=\"base64\" compression=\"zstd\"", "KLUv/SQQgQAAAQAAAAIAAAADAACABgAAALjjYsU="},
    };
    LevelRemapOptions options;
    options.sheet = QStringLiteral("/levels/art/sheet.png");
    for (const auto& file : files) {
        SCOPED_TRACE(file.attributes.toStdString());
        const QByteArray before = smallTmx(file.attributes, file.data);
        EXPECT_EQ(cellsOf(before), (std::vector<uint32_t>{1, 2, 0x80000003u, 6}));
        const LevelBytesResult result = remapLevelBytes(before, QStringLiteral("/levels/small.tmx"),
                                                        fourTiles(), options, otherTileset);
        ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
        EXPECT_EQ(result.cellsChanged, 3);
        EXPECT_EQ(cellsOf(result.bytes), (std::vector<uint32_t>{3, 1, 0x80000004u, 6}));
        // Only the data changed, its blanks kept.
        const qsizetype head = before.indexOf("<data") + 6 + file.attributes.size();
        const qsizetype tail = before.size() - before.indexOf("</data>");
        EXPECT_EQ(result.bytes.left(head), before.left(head));
        EXPECT_EQ(result.bytes.right(tail), before.right(tail));
        EXPECT_EQ(result.bytes.mid(head).startsWith("\n   "), file.data.startsWith("\n   "));
        // With no tile moving, data compressed elsewhere keeps its bytes.
        TileRemap still = fourTiles();
        still.newIndexOf = {0, 1, 2, 3};
        EXPECT_EQ(remapLevelBytes(before, QStringLiteral("/levels/small.tmx"), still, options,
                                  otherTileset)
                      .bytes,
                  before);
    }
}

TEST(LevelFormats, InfiniteMapsRemapEveryChunk)
{
    const QByteArray tmx = R"(<map infinite="1" tilewidth="8" tileheight="8">
 <tileset firstgid="1" name="s" tilewidth="8" tileheight="8" tilecount="4" columns="2"><image source="s.png"/></tileset>
 <layer name="L" width="4" height="2">
  <data encoding="csv">
   <chunk x="-16" y="0" width="2" height="1">
1,2
</chunk>
   <chunk x="0" y="-16" width="2" height="1">3,0</chunk>
  </data>
 </layer>
</map>
)";
    QByteArray expected = tmx;
    expected.replace("\n1,2\n", "\n3,1\n").replace(">3,0<", ">4,0<");
    expectUpdate(tmx, "infinite.tmx", expected, 3, 0);

    const QByteArray tmj = R"({"infinite":true, "type":"map",
 "layers":[{"type":"tilelayer","name":"L","encoding":"base64","compression":"zlib",
   "chunks":[{"x":0,"y":-16,"width":2,"height":2,"data":"eNpjZGBgYAJiZgaGBjYgDQAC6ACN"},
             {"x":16,"y":0,"width":1,"height":1,"data":[4]}]}],
 "tilesets":[{"firstgid":1,"image":"s.png","tilecount":4,"columns":2,"tilewidth":8,"tileheight":8},
              {"firstgid":5,"image":"o.png","tilecount":4,"columns":2,"tilewidth":8,"tileheight":8}]})";
    LevelRemapOptions options;
    options.sheet = QStringLiteral("s.png");
    const LevelBytesResult result = remapText(tmj, "infinite.tmj", fourTiles(), options);
    // The second chunk claims base64 but holds an array: refused, not guessed.
    EXPECT_EQ(result.status, LevelFileStatus::Failed);
    EXPECT_EQ(result.reason, QStringLiteral("the data is not base64 text"));
    EXPECT_TRUE(
        result.place.contains(QStringLiteral("layers[0].chunks[1], layer “L”, chunk at (16, 0)")))
        << result.place.toStdString();

    QByteArray fixed = tmj;
    const QByteArray four = encodeLayerData({4}, LayerCompression::Zlib);
    fixed.replace("[4]", "\"" + four + "\"");
    const LevelBytesResult remapped = remapText(fixed, "infinite.tmj", fourTiles(), options);
    ASSERT_EQ(remapped.status, LevelFileStatus::Updated) << remapped.reason.toStdString();
    EXPECT_EQ(remapped.cellsChanged, 4);
    QByteArray expectedTmj = fixed;
    expectedTmj
        .replace("eNpjZGBgYAJiZgaGBjYgDQAC6ACN",
                 encodeLayerData({3, 1, 0x80000004u, 6}, LayerCompression::Zlib))
        .replace(four, encodeLayerData({2}, LayerCompression::Zlib));
    EXPECT_EQ(remapped.bytes.toStdString(), expectedTmj.toStdString());
}

TEST(LevelFormats, TilesetFilesMoveTheirPerTileData)
{
    const QByteArray tsx = R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" name="sheet" tilewidth="16" tileheight="16" tilecount="4" columns="2">
 <image source="sheet.png" width="32" height="32"/>
 <terraintypes>
  <terrain name="sand" tile="2"/>
 </terraintypes>
 <tile id="0" terrain="0,0,,0"/>
 <tile id="2" probability="0.1"><animation><frame tileid="0" duration="50"/></animation></tile>
</tileset>
)";
    QByteArray expected = tsx;
    expected.replace("tile=\"2\"", "tile=\"3\"")
        .replace("<tile id=\"0\"", "<tile id=\"2\"")
        .replace("<tile id=\"2\" prob", "<tile id=\"3\" prob")
        .replace("tileid=\"0\"", "tileid=\"2\"");
    expectUpdate(tsx, "sheet.tsx", expected, 0, 4);

    // The JSON form, in the older shape that keys tiles and their properties by id.
    const QByteArray tsj = R"({ "type": "tileset", "name": "sheet", "image": "sheet.png",
  "tilewidth": 16, "tileheight": 16, "tilecount": 4, "columns": 2,
  "tiles": { "1": { "animation": [ { "tileid": 3, "duration": 10 } ] } },
  "tileproperties": { "1": { "solid": true } },
  "terrains": [ { "name": "sand", "tile": -1 } ],
  "wangsets": [ { "colors": [ { "tile": 0 } ], "tile": -1, "wangtiles": [ { "tileid": 2 } ] } ] })";
    QByteArray expectedTsj = tsj;
    expectedTsj.replace("\"1\": { \"anim", "\"0\": { \"anim")
        .replace("\"tileid\": 3", "\"tileid\": 1")
        .replace("\"1\": { \"solid", "\"0\": { \"solid")
        .replace("\"tile\": 0", "\"tile\": 2")
        .replace("\"tileid\": 2", "\"tileid\": 3");
    expectUpdate(tsj, "sheet.tsj", expectedTsj, 0, 5);

    // Packed: tile 1 is dropped with its entries (a picture it was becomes none), tile 3 merges
    // into tile 0 and carries the same data, so one entry stays.
    TileRemap packed;
    packed.newIndexOf = {0, TileRemap::kDropped, 1, 0};
    packed.newTiles = 2;
    packed.newColumnCount = 2;
    const QByteArray packedTsx = R"(<tileset name="s" tilewidth="8" tileheight="8" tilecount="4" columns="2">
 <image source="sheet.png" width="16" height="16"/>
 <tile id="0" type="a"/>
 <tile id="1" type="gone"><animation><frame tileid="1" duration="9"/></animation></tile>
 <tile id="2"><animation><frame tileid="3" duration="9"/></animation></tile>
 <tile id="3" type="a"/>
 <wangsets><wangset name="w" tile="1">
  <wangtile tileid="1" wangid="0,1,0,1,0,1,0,1"/>
 </wangset></wangsets>
</tileset>
)";
    EXPECT_EQ(remapText(packedTsx, "s.tsx", packed).bytes.toStdString(),
              R"(<tileset name="s" tilewidth="8" tileheight="8" tilecount="2" columns="2">
 <image source="sheet.png" width="16" height="8"/>
 <tile id="0" type="a"/>
 <tile id="1"><animation><frame tileid="0" duration="9"/></animation></tile>
 <wangsets><wangset name="w" tile="-1">
 </wangset></wangsets>
</tileset>
)");
    const QByteArray packedTsj = R"({ "type": "tileset", "image": "sheet.png", "imagewidth": 16,
  "imageheight": 16, "tilewidth": 8, "tileheight": 8, "tilecount": 4, "columns": 2,
  "tiles": [ { "id": 1, "type": "gone" }, { "id": 0, "type": "a" }, { "id": 3, "type": "a" } ],
  "wangsets": [ { "tile": 2, "wangtiles": [ { "tileid": 1 }, { "tileid": 2 } ] } ] })";
    EXPECT_EQ(remapText(packedTsj, "s.tsj", packed).bytes.toStdString(),
              R"({ "type": "tileset", "image": "sheet.png", "imagewidth": 16,
  "imageheight": 8, "tilewidth": 8, "tileheight": 8, "tilecount": 2, "columns": 2,
  "tiles": [ { "id": 0, "type": "a" } ],
  "wangsets": [ { "tile": 1, "wangtiles": [ { "tileid": 1 } ] } ] })");
    // Merged tiles' animations compare as they will read: tiles 0 and 3 each show themselves.
    const QByteArray selfShown = R"(<tileset name="s" tilewidth="8" tileheight="8" tilecount="4" columns="2">
 <image source="sheet.png" width="16" height="16"/>
 <tile id="0"><animation><frame tileid="0" duration="9"/></animation></tile>
 <tile id="3"><animation><frame tileid="3" duration="9"/></animation></tile>
</tileset>
)";
    EXPECT_EQ(remapText(selfShown, "s.tsx", packed).bytes.toStdString(),
              QByteArray(selfShown)
                  .replace("tilecount=\"4\"", "tilecount=\"2\"")
                  .replace("height=\"16\"", "height=\"8\"")
                  .replace("\n <tile id=\"3\"><animation><frame tileid=\"3\" duration=\"9\"/>"
                           "</animation></tile>", "")
                  .toStdString());
}

// A map names the templates whose tile is the sheet's, and a template's tileset alone can make a
// map one of the sheet's.
TEST(LevelFormats, MapsNameTheTemplatesOfTheSheet)
{
    auto readTemplate = [](const QString& path) {
        ExternalTileset used;
        used.facts.image = path.endsWith(QStringLiteral("tree.tx")) ? QStringLiteral("sheet.png")
                                                                      : QStringLiteral("rock.png");
        used.facts.folder = QStringLiteral("/levels");
        return used;
    };
    const QByteArray tmx = R"(<map>
 <tileset firstgid="1" name="sheet" tilecount="4"><image source="sheet.png"/></tileset>
 <objectgroup name="things">
  <object id="1" template="tree.tx"/><object id="2" template="rock.tx"/>
  <object id="3" template="tree.tx" gid="3"/>
 </objectgroup>
</map>)";
    const LevelBytesResult map =
        remapLevelBytes(tmx, QStringLiteral("/levels/a.tmx"), fourTiles(), {}, readTemplate);
    ASSERT_EQ(map.status, LevelFileStatus::Updated) << map.reason.toStdString();
    EXPECT_EQ(map.bytes, QByteArray(tmx).replace("gid=\"3\"", "gid=\"4\""));
    EXPECT_EQ(map.carriedOf(CarriedFile::Kind::Template), QStringList(QStringLiteral("/levels/tree.tx")));
    EXPECT_EQ(map.sheetImage, QStringLiteral("/levels/sheet.png"));

    QByteArray other = tmx;
    other.replace("sheet.png", "other.png").replace(" gid=\"3\"", "");
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    const LevelBytesResult byTemplate =
        remapLevelBytes(other, QStringLiteral("/levels/b.tmx"), fourTiles(), options, readTemplate);
    ASSERT_EQ(byTemplate.status, LevelFileStatus::Updated) << byTemplate.reason.toStdString();
    EXPECT_EQ(byTemplate.bytes, other);
    EXPECT_EQ(byTemplate.carriedOf(CarriedFile::Kind::Template), QStringList(QStringLiteral("/levels/tree.tx")));
}

TEST(LevelFormats, AGridChangeSetsSpacingAndImageSize)
{
    // 8 columns and 4 rows of 16-pixel tiles, with partial strips the grid step drops.
    const QByteArray tsx =
        "<tileset name=\"s\" tilewidth=\"16\"\n          tileheight=\"16\" "
        "tilecount=\"32\" columns=\"8\">\n <image source=\"s.png\" width=\"135\" "
        "height=\"70\"/>\n</tileset>\n";
    TileRemap added;
    for (int i = 0; i < 32; ++i)
        added.newIndexOf.push_back(i);
    added.grid = TileRemap::GridChange::Added;
    const QByteArray withGrid =
        "<tileset name=\"s\" tilewidth=\"16\"\n          tileheight=\"16\"\n "
        "         spacing=\"1\" tilecount=\"32\" columns=\"8\">\n <image "
        "source=\"s.png\" width=\"136\" height=\"68\"/>\n</tileset>\n";
    expectUpdate(tsx, "s.tsx", withGrid, 0, 0, added);

    TileRemap removed = added;
    removed.grid = TileRemap::GridChange::Removed;
    QByteArray withoutGrid = withGrid;
    withoutGrid.replace("spacing=\"1\"", "spacing=\"0\"").replace("136", "128").replace("68", "64");
    expectUpdate(withGrid, "s.tsx", withoutGrid, 0, 0, removed);

    const QByteArray tsj =
        "{\n  \"columns\": 8,\n  \"image\": \"s.png\",\n  \"imageheight\": 70,\n  "
        "\"imagewidth\": 135,\n  \"tilecount\": 32,\n  \"tileheight\": 16,\n  "
        "\"tilewidth\": 16\n}\n";
    QByteArray tsjWithGrid = tsj;
    tsjWithGrid.replace("70", "68")
        .replace("135", "136")
        .replace("\"tileheight\": 16,", "\"tileheight\": 16,\n  \"spacing\": 1,");
    expectUpdate(tsj, "s.tsj", tsjWithGrid, 0, 0, added);
}

TEST(LevelFormats, CsvLevelsKeepSeparatorsEmptyFieldsAndNegativeNumbers)
{
    const QByteArray csv = "0, 1,,-1\r\n3\t2  002 -5\r\n";
    expectUpdate(csv, "level.csv", "2, 0,,-1\r\n1\t3  3 -5\r\n", 5, 0);

    LevelRemapOptions fromOne;
    fromOne.firstId = 1;
    const LevelBytesResult result = remapText("0,1,2,3,4\n", "level.csv", fourTiles(), fromOne);
    ASSERT_EQ(result.status, LevelFileStatus::Updated);
    EXPECT_EQ(result.bytes, QByteArray("0,3,1,4,2\n"));
}

// A packing remap merges tiles 2 and 3 into 0 and 1, 3 mirrored: tags and selections name a
// merged tile once, the caches shrink, a tile's flips take the mirror, and a Tile field's value
// moves in both the forms the file keeps it, as do LDtk 1.0's srcRect and tilesetId's tileRect.
TEST(LevelFormats, LdtkDefinitionsFollowAPackedSheet)
{
    const QByteArray project = R"({"defs": {"tilesets": [{"__cWid": 2, "__cHei": 2, "uid": 5,
 "relPath": "s.png", "pxWid": 16, "pxHei": 16, "tileGridSize": 8, "spacing": 0, "padding": 0,
 "enumTags": [{"enumValueId": "A", "tileIds": [0, 2, 3]}], "savedSelections": [{"ids": [1, 3]}],
 "cachedPixelData": {"opaqueTiles": "1010", "averageColors": "f000f111f222f333"}}], "entities":
 [{"tilesetId": 5, "tileId": 2, "tileRect": {"x": 0, "y": 8, "w": 8, "h": 8}}]},
 "levels": [{"layerInstances": [{"__tilesetDefUid": 5,
  "gridTiles": [{"src": [8, 8], "f": 2, "t": 3}], "entityInstances": [{"__identifier": "Old",
  "__tile": {"tilesetUid": 5, "srcRect": [0, 8, 8, 8]}}, {"__identifier": "Box",
  "__tile": {"tilesetUid": 5, "x": 0, "y": 8, "w": 8, "h": 8}, "fieldInstances": [{"__type": "Tile",
  "__value": {"tilesetUid": 5, "x": 0, "y": 8, "w": 8, "h": 8},
    "realEditorValues": [{"id": "V_String", "params": ["0,8,8,8"]}]}]}]}]}]})";
    TileRemap merged;
    merged.newIndexOf = {0, 1, 0, 1};
    merged.symmetryOf = {TileSymmetry(), TileSymmetry(), TileSymmetry(), TileSymmetry(4)};
    merged.newTiles = 2;
    const LevelBytesResult result = remapText(project, "a.ldtk", merged);
    ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
    EXPECT_EQ(result.bytes.toStdString(),
              QByteArray(project)
                  .replace("\"__cHei\": 2", "\"__cHei\": 1")
                  .replace("\"pxHei\": 16", "\"pxHei\": 8")
                  .replace("[0, 2, 3]", "[0, 1]")
                  .replace("[1, 3]", "[1]")
                  .replace("\"1010\"", "\"10\"")
                  .replace("f000f111f222f333", "f000f111")
                  .replace("[8, 8], \"f\": 2, \"t\": 3", "[8, 0], \"f\": 3, \"t\": 1")
                  .replace("\"y\": 8", "\"y\": 0")
                  .replace("0,8,8,8", "0,0,8,8")
                  .replace("\"tileId\": 2", "\"tileId\": 0")
                  .replace("[0, 8, 8, 8]", "[0, 0, 8, 8]")
                  .toStdString());
    EXPECT_EQ(result.cellsChanged, 1);
    TileRemap pruned; // tile 1 dropped: the caches keep the empty end of the last row
    pruned.newIndexOf = {0, TileRemap::kDropped, 1, 2};
    pruned.newTiles = 3;
    const QByteArray packed = remapText(project, "a.ldtk", pruned).bytes;
    EXPECT_TRUE(packed.contains("\"1100\"") && packed.contains("\"f000f222f3330000\""))
        << packed.data();
    TileRemap wide = pruned;  // and three columns: a selection loses the dropped tile
    wide.newColumnCount = 3;
    const QByteArray wider = remapText(project, "a.ldtk", wide).bytes;
    EXPECT_TRUE(wider.contains("\"__cWid\": 3, \"__cHei\": 1") && wider.contains("\"pxWid\": 24") &&
                wider.contains("{\"ids\": [2]}"))
        << wider.data();
}

// A file the remap must refuse, the place its message names (empty: none) and how the reason
// starts.
struct BadLevelInput {
    const char* file;
    QByteArray text;
    const char* place;
    const char* reason;
    TileRemap remap;
    LevelRemapOptions options;
};

std::vector<BadLevelInput> badLevelInputs()
{
    const QByteArray sheet =
        R"(<tileset firstgid="1" name="sheet" tilewidth="8" tileheight="8" tilecount="4" columns="2"><image source="s.png"/></tileset>)";
    auto map = [&](const QByteArray& body) {
        return "<map>\n" + sheet +
               "\n<tileset firstgid=\"10\" name=\"o\" tilecount=\"2\"><image "
               "source=\"o.png\"/></tileset>\n" +
               body + "</map>\n";
    };
    auto layer = [&](const QByteArray& attributes, const QByteArray& data) {
        return map("<layer name=\"Ground\" width=\"2\" height=\"2\">\n<data" + attributes + ">" +
                   data + "</data>\n</layer>\n");
    };
    TileRemap six;
    six.newIndexOf = {0, 1, 2, 3, 5, 4};
    // A packed sheet's tileset may leave out only the empty end of its last row; a rearranged
    // sheet's none.
    TileRemap sixPacked = six, five;
    sixPacked.newTiles = 6;
    five.newIndexOf = {0, 1, 2, 3, 4};
    TileRemap wide = fourTiles();
    wide.columns = 4;
    LevelRemapOptions named;
    named.sheet = QStringLiteral("s.png");
    TileRemap merged;  // tiles 2 and 3 are tiles 0 and 1 again, 3 mirrored
    merged.newIndexOf = {0, 1, 0, 1};
    merged.symmetryOf = {TileSymmetry(), TileSymmetry(), TileSymmetry(), TileSymmetry(4)};
    merged.newTiles = 2;
    TileRemap pruned;  // tile 1 is dropped
    pruned.newIndexOf = {0, TileRemap::kDropped, 1, 2};
    pruned.newTiles = 3;
    TileRemap swapped;  // tiles 0 and 1 trade places within their row
    swapped.newIndexOf = {1, 0, 2, 3};
    TileRemap upsideDown;  // tiles 0 and 2 trade places within their column
    upsideDown.newIndexOf = {2, 1, 0, 3};
    TileRemap oneColumn;  // every tile where it was, packed into one column or three
    oneColumn.newIndexOf = {0, 1, 2, 3};
    oneColumn.newTiles = 4;
    oneColumn.newColumnCount = 1;
    TileRemap threeColumns = oneColumn;
    threeColumns.newColumnCount = 3;
    auto withData = [&](const char* tiles) {
        return "<map>\n" + QByteArray(sheet).replace("</tileset>", QByteArray(tiles) + "</tileset>") +
               "</map>\n";
    };
    const char* animated = "<tile id=\"0\"><animation><frame tileid=\"%1\" duration=\"9\"/>"
                           "</animation></tile>";
    auto ldtk = [](const QByteArray& tiles, const QByteArray& tile = "null") {
        return R"({"defs":{"tilesets":[{"__cWid":2,"__cHei":2,"uid":5,"identifier":"sheet",
"relPath":"s.png","pxWid":16,"pxHei":16,"tileGridSize":8,"spacing":0,"padding":0}]},
"levels":[{"identifier":"L",
"layerInstances":[{"__identifier":"Ground","__tilesetDefUid":5,"gridTiles":[)" +
               tiles + R"(]},{"__tilesetDefUid":null,"entityInstances":[{"__identifier":"Door",
"__tile":)" + tile + "}]}]}]}";
    };
    LevelRemapOptions framesNamed = named;  // properties that hold tile ids, as frames do
    framesNamed.tileProperties = {QStringLiteral("animation-frame*")};
    const char* propertyFrame = "<tile id=\"0\"><properties><property name=\"animation-frame0\" "
                                "type=\"int\" value=\"%1\"/></properties></tile>";
    TileRemap sixCutAt16 = six;  // a sheet cut into 16-pixel tiles
    sixCutAt16.tile = TileShape(16);
    TileRemap cutAt8x16 = fourTiles();  // the same count, but tiles of another shape
    cutAt8x16.tile = TileShape(8, 16);
    TileRemap extruded;  // the tiles stay, the sheet now has a margin of 1 and a spacing of 2
    extruded.keepsIds = true;
    extruded.margin = 1;
    extruded.spacing = 2;
    const char* twoSheets = R"(<map><tileset firstgid="1" name="a" tilecount="4"><image source="s.png"/></tileset><tileset firstgid="5" name="b" tilecount="4"><image source="old/s.png"/></tileset><tileset firstgid="9" name="c" tilecount="4"><image source="o.png"/></tileset></map>)";
    TileRemap turned = fourTiles();
    turned.symmetryOf = {TileSymmetry(1), TileSymmetry(), TileSymmetry(), TileSymmetry()};
    // s.png and t.png, of two tiles each, merged: the first tiles of both become atlas tile 0.
    static AtlasMerge atlas;
    if (atlas.sheets.empty()) {
        TileRemap merging;
        merging.columns = 2;
        merging.tile = TileShape(8);
        merging.newIndexOf = {0, 1};
        merging.newTiles = 3;
        atlas.atlas = QFileInfo(QStringLiteral("atlas.png")).absoluteFilePath();
        atlas.sheets = {{QFileInfo(QStringLiteral("s.png")).absoluteFilePath(), merging}};
        merging.newIndexOf = {0, 2};
        atlas.sheets.push_back({QFileInfo(QStringLiteral("t.png")).absoluteFilePath(), merging});
    }
    LevelRemapOptions merged2;  // the map follows the merge
    merged2.merge = &atlas;
    auto mergedMap = [](const char* s, const char* t, int tSide = 8) {
        const auto tileset = [](int first, const char* image, int side, const char* inside) {
            return QStringLiteral("<tileset firstgid=\"%1\" name=\"%2\" tilewidth=\"%3\" "
                                  "tileheight=\"%3\" tilecount=\"2\" columns=\"2\"><image "
                                  "source=\"%2.png\" width=\"%4\" height=\"%3\"/>%5</tileset>")
                .arg(first).arg(QLatin1StringView(image)).arg(side).arg(2 * side)
                .arg(QLatin1StringView(inside)).toUtf8();
        };
        return "<map tilewidth=\"8\" tileheight=\"8\">\n" + tileset(1, "s", 8, s) + "\n" +
               tileset(3, tSide == 8 ? "t" : "s", tSide, t) + "\n</map>\n";
    };
    const char* kindOne = "<tile id=\"0\"><properties><property name=\"k\" value=\"1\"/>"
                          "</properties></tile>";
    const char* wangW = "<wangsets><wangset name=\"w\" type=\"corner\" tile=\"-1\"><wangtile "
                        "tileid=\"1\" wangid=\"0,1,0,1,0,1,0,1\"/></wangset></wangsets>";
    // The same two sheets as an LDtk project's tilesets.
    auto ldtkMerged = [](const char* s, const char* t) {
        const auto tileset = [](int uid, const char* name, const char* inside) {
            return QStringLiteral(R"({"__cWid":2,"__cHei":1,"uid":%1,"identifier":"%2",)"
                                  R"("relPath":"%2.png","pxWid":16,"pxHei":8,"tileGridSize":8,)"
                                  R"("spacing":0,"padding":0,%3})")
                .arg(uid).arg(QLatin1StringView(name), QLatin1StringView(inside)).toUtf8();
        };
        return "{\"defs\":{\"tilesets\":[\n" + tileset(5, "s", s) + ",\n" + tileset(6, "t", t) +
               "]},\"levels\":[]}";
    };
    const BadLevelInput cases[] = {
        {"a.ldtk",
         ldtkMerged(R"("customData":[{"tileId":0,"data":"x"}])",
                    R"("customData":[{"tileId":0,"data":"y"}])"),
         "line 3, column 1, defs.tilesets[1] (tileset “t”)",
         "tile 0 of the sheet “s.png” and tile 0 of the sheet “t.png” both become tile 0 of the "
         "atlas, but their custom data differ",
         fourTiles(), merged2},
        {"a.ldtk", ldtkMerged(R"("customData":[{"tileId":0,"data":"x"}])", R"("customData":[])"),
         "line 3, column 1, defs.tilesets[1] (tileset “t”)",
         "tile 0 of the sheet “s.png” and tile 0 of the sheet “t.png” both become tile 0 of the "
         "atlas, but only the first has custom data",
         fourTiles(), merged2},
        {"a.ldtk",
         ldtkMerged(R"("tagsSourceEnumUid":1,"enumTags":[{"enumValueId":"A","tileIds":[0]}])",
                    R"("tagsSourceEnumUid":2,"enumTags":[{"enumValueId":"B","tileIds":[1]}])"),
         "", "the tilesets of the sheets “s.png” and “t.png” take their enum tags from different "
         "enums", fourTiles(), merged2},
        {"a.tmx", mergedMap(kindOne, QByteArray(kindOne).replace("\"1\"/>", "\"2\"/>")),
         "line 3, column 1, tileset “t”",
         "tile 0 of the sheet “s.png” and tile 0 of the sheet “t.png” both become tile 0 of the "
         "atlas, but they have different values of the property “k”",
         fourTiles(), merged2},
        {"a.tmx", mergedMap(wangW, wangW), "line 3, column 1, tileset “t”",
         "the Wang sets of the sheets “s.png” and “t.png” are both called “w”", fourTiles(),
         merged2},
        // The merged sheet s.png twice, the second time cut into other tiles.
        {"a.tmx", mergedMap("", "", 16), "line 3, column 1",
         "the tileset “s”'s tiles are 16 × 16, but the sheet's were cut at 8 × 8", fourTiles(),
         merged2},
        {"a.tmx", "<map>\n<layer></map>", "line 2, column 14", "the XML is malformed", fourTiles(),
         named},
        {"a.tmx", "<level/>", "line 1, column 1",
         "it is neither a map nor a tileset nor a template (it starts with <level>)", fourTiles(),
         named},
        {"a.tmx", layer(" encoding=\"hex\"", "01"), "line 5, column 1, layer “Ground”",
         "the encoding “hex” is unknown", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"base64\" compression=\"lzma\"", "AA=="), "layer “Ground”",
         "the compression “lzma” is unknown", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"csv\"", "1,2,3"), "line 5, column 1, layer “Ground”",
         "the data holds 3 cells instead of 4", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"csv\"", "1,2,,3"),
         "line 5, column 26, layer “Ground”, cell (0, 1)",
         "a tile id is missing between two commas", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"base64\"", "AQAAAAIAAAADAAAA"), "layer “Ground”",
         "the data holds 3 cells instead of 4", fourTiles(), named},
        {"a.tmx",
         layer(" encoding=\"base64\" compression=\"zlib\"", "eNpj*GBgYAJiZgaGBjYgDQAC6ACN"),
         "layer “Ground”", "the data is not valid base64", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"base64\" compression=\"zlib\"", "eNpjZGBgYAJiZgaGBjYgDQAC"),
         "layer “Ground”", "the zlib data ends too early", fourTiles(), named},
        {"a.tmx", layer(" encoding=\"csv\"", "1,2,\n7,0"),
         "line 6, column 1, layer “Ground”, cell (0, 1)",
         "gid 7 lies beyond the tileset “sheet” (gids 1 to 4)", fourTiles(), named},
        {"a.tmx", layer("", "<tile gid=\"1\"/><tile gid=\"x\"/><tile/><tile/>"),
         "layer “Ground”, cell (1, 0)", "the gid “x” is not a tile id", fourTiles(), named},
        {"a.tmx",
         map("<objectgroup name=\"things\"><object id=\"4\" gid=\"2147483653\"/></objectgroup>\n"),
         "layer “things”, object 4", "gid 5 lies beyond the tileset “sheet”", fourTiles(), named},
        {"a.tmx",
         map("<objectgroup name=\"things\"><object id=\"4\" template=\"t.tx\"/></objectgroup>\n"),
         "layer “things”, object 4", "its template cannot be used", fourTiles(), named},
        {"a.tmx", map(""), "line 2, column 1", "the tileset “sheet” has 4 tiles, the tile map 6",
         six, named},
        {"a.tmx", map(""), "line 2, column 1", "the tileset “sheet” has 4 tiles, the tile map 6",
         sixPacked, named},
        {"a.tmx", map(""), "line 2, column 1", "the tileset “sheet” has 4 tiles, the tile map 5",
         five, named},
        {"a.tmx", map(""), "line 2, column 1",
         "the tileset “sheet” has 2 tile columns, the sheet 4", wide, named},
        {"a.tmx",
         map(""),
         "",
         "its tilesets show several images (“s.png”, “o.png”); name the sheet among them",
         fourTiles(),
         {}},
        {"a.tmx",
         "<map>" + sheet + "<tileset firstgid=\"3\" name=\"o\"/></map>",
         "",
         "the tileset “sheet” (gids 1 to 4) overlaps the next tileset, which starts at gid 3",
         fourTiles(),
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilecount=\"4\"><image source=\"s.png\"/><tile id=\"4\"/></tileset>",
         "line 1, column 66, tileset “s”",
         "the tile id 4 lies beyond the tileset's 4 tiles",
         fourTiles(),
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilecount=\"four\"><image source=\"s.png\"/></tileset>",
         "line 1, column 30, tileset “s”",
         "“four” is not a whole number",
         fourTiles(),
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilecount=\"4\" columns=\"2\" spacing=\"1\"><image "
         "source=\"s.png\"/></tileset>",
         "line 1, column 1",
         "the tileset “s” has a spacing of 1 pixels, but the grid was added to a sheet without one",
         fourTiles(TileRemap::GridChange::Added),
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilecount=\"4\" columns=\"2\" margin=\"2\"><image "
         "source=\"s.png\"/></tileset>",
         "line 1, column 1",
         "the tileset “s” has a margin of 2 pixels, but a grid starts at the sheet's corner",
         fourTiles(TileRemap::GridChange::Added),
         {}},
        // Its image's new width would be worked out from a tile width of nothing.
        {"a.tsx",
         "<tileset name=\"s\" tileheight=\"8\" spacing=\"1\" columns=\"2\"><image source=\"s.png\" "
         "width=\"17\" height=\"17\"/></tileset>",
         "line 1, column 1",
         "the tileset “s” does not say how large its tiles are, which its image's new size needs",
         fourTiles(TileRemap::GridChange::Removed),
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilewidth=\"8\" tileheight=\"16\" tilecount=\"4\" "
         "columns=\"2\"><image source=\"s.png\"/></tileset>",
         "line 1, column 1",
         // Tiles that are not square are laid out at their own width and height.
         "the image “s.png” of the tileset “s” cannot be read (File not found), so it is not known "
         "to have the size its new margin and spacing give (20 × 36 pixels)",
         extruded,
         {}},
        {"a.tsx",
         "<tileset name=\"s\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"4\" "
         "columns=\"2\"><image source=\"no-such-sheet.png\"/></tileset>",
         "line 1, column 1",
         "the image “no-such-sheet.png” of the tileset “s” cannot be read",
         extruded,
         {}},
        {"a.tmx", twoSheets, "",
         "several of its tileset images are called “s.png” (“s.png”, “old/s.png”); name the sheet "
         "by its path", fourTiles(), named},
        {"a.tsx",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><tileset/>",
         "line 1, column 1",
         "the file is written in ISO-8859-1; only UTF-8 is read",
         fourTiles(),
         {}},
        {"a.tmj",
         "{\"layers\": [}",
         "line 1, column 13",
         "the JSON is malformed (a value is missing)",
         fourTiles(),
         {}},
        {"a.tmj",
         "{\"layers\": [], \"tilesets\": [{\"firstgid\": 1, \"image\": \"s.png\", \"tilecount\": "
         "4}]} x",
         "line 1, column 81",
         "the JSON is malformed (text follows the end of the JSON)",
         fourTiles(),
         {}},
        {"a.tmj",
         "{\"layers\":[{\"type\":\"tilelayer\",\"name\":\"G\",\"width\":1,\"height\":1,\"data\":[1."
         "5]}],\"tilesets\":[{\"firstgid\":1,\"image\":\"s.png\",\"tilecount\":4}]}",
         "line 1, column 72, layers[0].data, layer “G”, cell (0, 0)",
         "“1.5” is not a tile id",
         fourTiles(),
         {}},
        {"a.tmj",
         "{\"layers\":[{\"type\":\"tilelayer\",\"width\":1,\"height\":1,\"encoding\":\"base64\","
         "\"compression\":\"zstd\",\"data\":\"AAAAAA==\"}],\"tilesets\":[{\"firstgid\":1,\"image\":"
         "\"s.png\",\"tilecount\":4}]}",
         "layers[0].data",
         "the zstd data is damaged",
         fourTiles(),
         {}},
        {"a.csv",
         "0,1,\n2,3\n",
         "line 2, column 3",
         "tile 3 becomes tile 1 turned, and CSV cells hold no flips",
         merged,
         {}},
        {"a.tmx", withData("<tile id=\"0\" type=\"a\"/><tile id=\"2\" type=\"b\"/>"), "line 2",
         "tiles 0 and 2 merge into tile 0, but they have different types", merged, named},
        {"a.tmx",
         withData("<tile id=\"3\"><objectgroup><object width=\"4\"/></objectgroup></tile>"),
         "line 2", "tiles 1 and 3 merge into tile 1, but tile 3 has collision shapes, tile 1 none",
         merged, named},
        {"a.tmx", withData(QString::fromUtf8(animated).arg(1).toUtf8()), "line 2",
         "tiles 0 and 2 merge into tile 0, but tile 0 has an animation, tile 2 none", merged,
         named},
        {"a.tmx",
         withData("<tile id=\"0\"><properties><property name=\"solid\" value=\"1\"/></properties>"
                  "</tile><tile id=\"2\"><properties><property name=\"solid\" value=\"0\"/>"
                  "</properties></tile>"),
         "line 2",
         "tiles 0 and 2 merge into tile 0, but they have different values of the property "
         "“solid”",
         merged, named},
        {"a.tmx", withData(QString::fromUtf8(animated).arg(7).toUtf8()), "line 2",
         "an animation frame of tile 0 shows the tile id 7, which lies beyond the tileset's 4 "
         "tiles",
         fourTiles(), named},
        {"a.tmx", map(""), "line 2, column 1",
         "the tileset “sheet” has 4 tiles, the tile map 6 (the tileset's tiles are 8 × 8; --tile "
         "8?)",
         sixCutAt16, named},
        {"a.tmx", withData(QString::fromUtf8(propertyFrame).arg(1).toUtf8()), "line 2",
         "the property “animation-frame0” of tile 0 shows tile 1, which is dropped", pruned,
         framesNamed},
        {"a.tmx", withData(QString::fromUtf8(propertyFrame).arg(3).toUtf8()), "line 2",
         "the property “animation-frame0” of tile 0 shows tile 3, which becomes tile 1 turned, "
         "and properties hold no flips",
         merged, framesNamed},
        {"a.tsj",
         "{\"type\":\"tileset\",\"image\":\"s.png\",\"tilecount\":4,\"columns\":2,"
         "\"tiles\":[{\"id\":0,\"properties\":[{\"name\":\"animation-frame1\",\"type\":"
         "\"string\",\"value\":\"9\"}]}]}",
         "line 1, column 144, tileset “s.png”",
         "the property “animation-frame1” of tile 0 shows the tile id 9, which lies beyond the "
         "tileset's 4 tiles",
         fourTiles(), framesNamed},
        {"a.tsj",
         "{\"type\":\"tileset\",\"image\":\"s.png\",\"tilecount\":4,\"columns\":2,"
         "\"tileproperties\":{\"2\":{\"animation-frame0\":1}}}",
         "line 1, column 103, tileset “s.png”",
         "the property “animation-frame0” of tile 2 shows tile 1, which is dropped", pruned,
         framesNamed},
        {"a.tmx", withData(QString::fromUtf8(animated).arg(3).toUtf8()), "line 2",
         "an animation frame of tile 0 shows tile 3, which becomes tile 1 turned", merged, named},
        {"a.tmx", withData(QString::fromUtf8(animated).arg(1).toUtf8()), "line 2",
         "an animation frame of tile 0 shows tile 1, which is dropped", pruned, named},
        {"a.tsj",
         "{\"type\":\"tileset\",\"image\":\"s.png\",\"tilecount\":4,\"columns\":2,"
         "\"tiles\":[{\"id\":2,\"type\":\"b\"},{\"id\":0,\"type\":\"a\"}]}",
         "line 1, column 90, tileset “s.png”",
         "tiles 0 and 2 merge into tile 0, but they have different types",
         merged,
         {}},
        {"a.csv", "1,x,3\n", "line 1, column 3", "“x” is not a tile number", fourTiles(), {}},
        {"a.csv",
         "1 2\n3 4\n",
         "line 2, column 3",
         "the tile number 4 lies beyond the sheet's 4 tiles (numbers 0 to 3)",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk(R"({"px":[0,0],"src":[0,0],"f":0,"t":4})"),
         "line 4, column 111, levels[0] (level “L”), layerInstances[0] (layer “Ground”), "
         "gridTiles[0]",
         "the tile id 4 lies beyond the tileset's 4 tiles",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk(R"({"src":[0,0],"f":0,"t":1})"),
         "gridTiles[0]",
         "its src [0, 0] disagrees with its tile id 1, which lies at [8, 0]",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk(R"({"src":[8,0],"f":0,"t":3})"),
         "gridTiles[0]",
         "its src [8, 0] disagrees with its tile id 3, which lies at [8, 8]",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk(R"({"src":[8,0],"f":0,"t":1})"),
         "gridTiles[0]",
         "it shows tile 1, which is dropped",
         pruned,
         {}},
        {"a.ldtk", ldtk(R"({"src":[8,0],"f":0,"t":1})"), "defs.tilesets[0] (tileset “sheet”)",
         "the tileset “sheet”'s tiles are 8 × 8, but the sheet's were cut at 8 × 16; --tile 8?",
         cutAt8x16, {}},
        {"a.ldtk",
         ldtk("", R"({"tilesetUid":5,"x":8,"y":8,"w":8,"h":8})"),
         "the tile rectangle of “Door”",
         "its tile 3 is turned",
         merged,
         {}},
        {"a.ldtk",
         ldtk("", R"({"tilesetUid":5,"x":8,"y":0,"w":16,"h":8})"),
         "the tile rectangle of “Door”",
         "[8, 0, 16, 8] does not cover whole tiles of the tileset “sheet”",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk(R"({"src":[0,0],"f":3,"t":0})"),
         "gridTiles[0]",
         "it shows tile 0, which becomes tile 2 turned a way LDtk cannot flip",
         turned,
         {}},
        {"a.ldtk",
         ldtk("", R"({"tilesetUid":5,"x":0,"y":0,"w":16,"h":8})"),
         "line 5, column 10, the tile rectangle of “Door”",
         "its 2 × 1 tiles from tile 0 do not move together as one block",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk("").replace("\"defs\":{", R"("defs":{"layers":[{"identifier":"W","tilesetDefUid":5,
"autoRuleGroups":[{"rules":[{"tileMode":"Stamp","tileRectsIds":[[0,1]]}]}]}],)"),
         "autoRuleGroups[0].rules[0]",
         "its stamp of tiles 0, 1 does not move together",
         fourTiles(),
         {}},
        {"a.ldtk",
         ldtk("").replace("\"defs\":{", R"("defs":{"layers":[{"identifier":"W","tilesetDefUid":5,
"autoRuleGroups":[{"rules":[{"tileMode":"Stamp","tileIds":[0,1]}]}]}],)"),
         "autoRuleGroups[0].rules[0]",
         "its stamp of tiles 0, 1 does not move together",
         swapped,
         {}},
        {"a.ldtk",
         ldtk("").replace("\"defs\":{", R"("defs":{"layers":[{"identifier":"W","tilesetDefUid":5,
"autoRuleGroups":[{"rules":[{"tileMode":"Stamp","tileRectsIds":[[0,2]]}]}]}],)"),
         "autoRuleGroups[0].rules[0]",
         "its stamp of tiles 0, 2 does not move together",
         upsideDown,
         {}},
        {"a.ldtk",
         ldtk("").replace("\"defs\":{", R"("defs":{"layers":[{"identifier":"W","tilesetDefUid":5,
"autoRuleGroups":[{"rules":[{"tileRectsIds":[[3]]}]}]}],)"),
         "autoRuleGroups[0].rules[0].tileRectsIds[0]",
         "tile 3 is named here, but it is tile 1 turned",
         merged,
         {}},
        {"a.ldtk",
         ldtk("").replace("16,\"pxHei\":16", "18,\"pxHei\":18").replace("\"padding\":0", "\"padding\":1"),
         "defs.tilesets[0] (tileset “sheet”)",
         "the tileset “sheet” has a padding of 1 pixels, but a packed sheet starts at its corner",
         merged,
         {}},
        {"a.ldtk",
         ldtk("", R"({"tilesetUid":5,"x":0,"y":0,"w":16,"h":8})"),
         "the tile rectangle of “Door”",
         "its 2 × 1 tiles from tile 0 do not move together as one block",
         oneColumn,
         {}},
        {"a.ldtk",
         ldtk("", R"({"tilesetUid":5,"x":0,"y":0,"w":16,"h":16})"),
         "the tile rectangle of “Door”",
         "its 2 × 2 tiles from tile 0 do not move together as one block",
         threeColumns,
         {}},
        {"a.ldtk",
         ldtk("").replace("\"spacing\":0,", ""),
         "line 1, column 22",
         "the tileset “sheet” gives no spacing, which has to become 1",
         fourTiles(TileRemap::GridChange::Added),
         {}},
        // A value that shrinks has to be there just as much as one that grows.
        {"a.ldtk",
         ldtk("").replace("\"__cHei\":2,", ""),
         "line 1, column 22",
         "the tileset “sheet” gives no __cHei, which has to become 1",
         merged,
         {}},
        {"a.ldtk",
         ldtk("").replace("\"__cWid\":2,", ""),
         "line 1, column 22",
         "the tileset “sheet” gives no __cWid, which has to become 1",
         oneColumn,
         {}},
        {"a.ldtk",
         ldtk("").replace("\"pxWid\":16,", ""),
         "line 1, column 22",
         "the tileset “sheet” gives no pxWid, which has to become 8",
         oneColumn,
         {}},
        {"a.ldtk",
         ldtk("").replace(
             "\"padding\":0",
             R"("padding":0,"customData":[{"tileId":0,"data":"a"},{"tileId":2,"data":"b"}])"),
         "line 2, column 120, defs.tilesets[0] (tileset “sheet”), customData",
         "tiles 0 and 2 merge into tile 0, but they have different custom data",
         merged,
         {}},
        {"a.ldtk",
         "{\"levels\": []}",
         "line 1, column 1",
         "it is neither an LDtk project nor an LDtk level",
         fourTiles(),
         {}},
        {"w/a.ldtkl",
         R"({"layerInstances":[{"__tilesetDefUid":5,"gridTiles":[]}]})",
         "",
         "its project cannot be used",
         fourTiles(),
         {}},
        {"a.toy",
         "toy s.png 8 2 4\n1 2 x",
         "line 2, column 5, cells, cell (2, 0)",
         "the gid “x” is not a tile id",
         fourTiles(),
         {}},
        {"a.toy",
         "toy s.png 8 2 4\n1 2\n6",
         "line 3, column 1, cells, cell (2, 0)",
         "gid 6 lies beyond the tileset “toy” (gids 1 to 4)",
         fourTiles(),
         {}},
        {"a.tscn", "[gd_scene load_steps=2 format=2]\n", "line 1, column 1",
         "its format 2 is not Godot 4's (3 or 4)", fourTiles(), {}},
        {"a.tres", "sources/0 = 1\n", "line 1, column 1",
         "it is neither a Godot scene nor a Godot resource", fourTiles(), {}},
        {"a.tscn", "[gd_scene format=3]\n[node name=\"G\" type=\"Node2D\"]\nname = \"open\n",
         "line 3, column 8, node “G”", "the value of “name” never ends", fourTiles(), {}},
        {"a.tscn",
         "[gd_scene format=4]\n[node name=\"G\" type=\"TileMapLayer\"]\n"
         "tile_map_data = PackedByteArray(\"AQA=\")\n",
         "line 3, column 17, node “G”", "its tile_map_data is of version 1", fourTiles(), {}},
        {"a.tscn",
         "[gd_scene format=3]\n[node name=\"G\" type=\"TileMapLayer\"]\n"
         "tile_map_data = PackedByteArray(0, 0, 5)\n",
         "line 3, column 17, node “G”", "its tile_map_data holds 3 bytes", fourTiles(), {}},
        {"a.tscn",
         "[gd_scene format=4]\n[node name=\"G\" type=\"TileMapLayer\"]\n"
         "tile_map_data = PackedByteArray(\"A@A=\")\n",
         "line 3, column 17, node “G”", "its tile_map_data is not valid base64", fourTiles(), {}},
        {"a.tscn",
         "[gd_scene format=3]\n[ext_resource type=\"Texture2D\" path=\"res://s.png\" id=\"1\"]\n"
         "[sub_resource type=\"TileSetAtlasSource\" id=\"A\"]\ntexture = ExtResource(\"1\")\n"
         "margins = Vector2i(1, 2)\n",
         "line 5, column 11, sub_resource “A”", "its margins differ across and down", fourTiles(),
         {}},
        {"a.dat",
         "GIF89a",
         "",
         "it is none of the level files Tilegrid reads (TMX, TSX, TX, TMJ, TSJ, TJ, CSV, LDtk, Godot TSCN, TRES)",
         fourTiles(),
         {}},
    };
    return {std::begin(cases), std::end(cases)};
}

void PrintTo(const BadLevelInput& row, std::ostream* out)
{
    *out << row.file << ": " << row.reason;
}

class LevelFormatsTable : public testing::TestWithParam<BadLevelInput> {};

TEST_P(LevelFormatsTable, BadInputIsRefusedWithItsPlaceAndReason)
{
    const BadLevelInput& c = GetParam();
    SCOPED_TRACE(c.text.toStdString());
    // The tests' own format goes through the same paths as the real ones.
    std::optional<ExtraLevelFormat> toy;
    if (QByteArrayView(c.file).endsWith(".toy"))
        toy.emplace(toyLevelFormat());
    const LevelBytesResult result = remapText(c.text, c.file, c.remap, c.options);
    EXPECT_EQ(result.status, LevelFileStatus::Failed);
    EXPECT_TRUE(result.bytes.isEmpty());
    EXPECT_TRUE(c.place[0] ? result.place.contains(QString::fromUtf8(c.place))
                           : result.place.isEmpty())
        << result.place.toStdString();
    EXPECT_TRUE(result.reason.startsWith(QString::fromUtf8(c.reason)))
        << result.reason.toStdString();
}

// A row's name: the kind of file and the reason's first words, "Tmx_EncodingHexUnknown".
std::string badLevelInputName(const BadLevelInput& row)
{
    const std::string_view file = row.file;
    return testNameOf(file.substr(file.rfind('.') + 1)) + "_" + shortTestNameOf(row.reason, 5);
}

INSTANTIATE_TEST_SUITE_P(Rows, LevelFormatsTable, testing::ValuesIn(badLevelInputs()),
                         [](const testing::TestParamInfo<BadLevelInput>& info) {
                             static const std::vector<std::string> names =
                                 uniqueRowNames(badLevelInputs(), badLevelInputName);
                             return names[info.index];
                         });

// Files made to hurt are refused at once, naming the layer and the limit it passes; unusual files
// that the tools write are read as they mean.
TEST(LevelFormats, HostileAndUnusualFilesAreRefusedAtOnceOrRead)
{
    QTemporaryDir folder;
    // 2 x 2 tiles of 8 pixels with a margin and spacing of 1: the image alone tells the count.
    writeFileBytes(folder.filePath("walls.png"), makePng(19, 19, {6, 8}));
    const QByteArray tileset =
        "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"8\" "
        "tileheight=\"8\" tilecount=\"4\"><image source=\"s.png\"/></tileset>";
    auto tmx = [&](const QByteArray& map, const QByteArray& size, const QByteArray& data) {
        return "<map" + map + ">" + tileset + "<layer name=\"Ground\" " + size + ">" + data +
               "</layer></map>";
    };
    const QByteArray zlib =
        "<data encoding=\"base64\" compression=\"zlib\">" +
        encodeLayerData(std::vector<uint32_t>(1 << 20), LayerCompression::Zlib) + "</data>";
    const QByteArray huge = "width=\"2147483647\" height=\"2147483647\"";
    // Four layers of the largest size and one more cell: each layer may be read, not all of them.
    const QByteArray largest = "width=\"8192\" height=\"8192\"";
    const QByteArray fiveLayers = tmx("", largest, zlib).replace(
        "</map>", ("<layer name=\"More\" " + largest + ">" + zlib + "</layer>").repeated(3) +
                      "<layer name=\"Last\" width=\"1\" height=\"1\">" + zlib +
                      "</layer></map>");
    const QByteArray tmjHuge =
        R"({"layers":[{"type":"tilelayer","name":"Ground","width":2147483647,"height":2147483647,
        "encoding":"base64","compression":"zstd","data":")" +
        encodeLayerData({1, 2}, LayerCompression::Zstd) +
        R"("}],"tilesets":[{"firstgid":1,"image":"s.png","tilecount":4}]})";
    const QByteArray tmjInfinite =
        R"({"infinite":true,"layers":[{"type":"tilelayer","width":30,"height":20,"data":[]},
        {"type":"tilelayer","chunks":[{"x":0,"y":0,"width":1,"height":1,"data":[1]}]}],
        "tilesets":[{"firstgid":1,"image":"s.png","tilecount":4}]})";
    const QByteArray walls = "<tileset name=\"walls\" tilewidth=\"8\" tileheight=\"8\" "
                             "margin=\"1\" spacing=\"1\"><image source=\"walls.png\"/><tile "
                             "id=\"1\"/></tileset>";
    writeFileBytes(folder.filePath("walls.tsx"), walls);
    writeFileBytes(folder.filePath("blank.tsx"), QByteArray(walls).replace("walls", "blank"));
    const struct {
        const char* file;
        QByteArray text;
        QByteArray reason;  // empty: updated, with changed cells and tiles moved
        qint64 changed;
    } cases[] = {
        {"a.tmx", tmx("", huge, zlib),
         "line 1, column 173, layer “Ground”: it holds 4611686014132420609 cells, more than the "
         "67108864 (8192 × 8192) Tilegrid reads in one layer",
         0},
        {"a.tmj", tmjHuge,
         "line 2, column 57, layers[0].data, layer “Ground”: it holds 4611686014132420609 cells",
         0},
        // Sides whose product passes 64 bits.
        {"a.tmx", tmx("", "width=\"2147483647\" height=\"4329665344\"", zlib),
         "line 1, column 173, layer “Ground”: it holds 9223372036854775807 cells", 0},
        {"a.tmx", tmx("", "width=\"16384\" height=\"16384\"", zlib),
         "line 1, column 163, layer “Ground”: it holds 268435456 cells", 0},
        {"a.tmx", fiveLayers,
         ": its layers hold 268435457 cells in all, more than the 268435456 Tilegrid reads in one "
         "file",
         0},
        {"a.tmx",
         tmx(" infinite=\"1\"", "width=\"30\" height=\"20\"",
             "<data encoding=\"csv\"/></layer><layer name=\"Other\"><data encoding=\"csv\">"
             "<chunk x=\"0\" y=\"0\" width=\"2\" height=\"1\">1,2</chunk></data>"),
         "", 2},
        {"a.tmj", tmjInfinite, "", 1},
        {"a.tmx",
         "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n" +
             tmx("", "width=\"1\" height=\"1\"", "<data encoding=\"csv\">3</data>")
                 .replace("Ground", "Grüße"),
         "", 1},
        {"walls.tsx", walls, "", 1},
        {"a.tmx",
         tmx("", "width=\"1\" height=\"1\"", "<data encoding=\"csv\">1</data>")
             .replace(tileset, "<tileset firstgid=\"1\" source=\"walls.tsx\"/>"),
         "", 1},
        {"a.tmx",
         tmx("", "width=\"1\" height=\"1\"", "<data encoding=\"csv\">1</data>")
             .replace(tileset, "<tileset firstgid=\"1\" source=\"blank.tsx\"/>"),
         ": its tileset “" + folder.filePath("blank.tsx").toUtf8() +
             "” cannot be used: the tileset “blank” gives neither its tile count nor its image "
             "size, and its image “blank.png” cannot be read",
         0},
    };
    const ExternalTilesetReader fromDisk = [](const QString& path) {
        return readTilesetFacts(readFileBytes(path), path);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.left(300).toStdString());
        const LevelBytesResult result =
            remapLevelBytes(c.text, folder.filePath(c.file), fourTiles(), {}, fromDisk);
        const QString said = result.place + QStringLiteral(": ") + result.reason;
        if (!c.reason.isEmpty()) {
            EXPECT_EQ(result.status, LevelFileStatus::Failed);
            EXPECT_TRUE(said.startsWith(QString::fromUtf8(c.reason))) << said.toStdString();
        } else {
            EXPECT_EQ(result.status, LevelFileStatus::Updated) << said.toStdString();
            EXPECT_EQ(result.cellsChanged + result.tilesMoved, c.changed);
        }
    }
}

TEST(LevelFormats, ALevelWithoutTheSheetIsSkipped)
{
    LevelRemapOptions options;
    options.sheet = QStringLiteral("sheet.png");
    const LevelBytesResult other =
        remapText("<map><tileset firstgid=\"1\" name=\"o\" tilecount=\"4\"><image "
                  "source=\"o.png\"/></tileset></map>",
                  "a.tmx", fourTiles(), options);
    EXPECT_EQ(other.status, LevelFileStatus::Skipped);
    EXPECT_EQ(other.reason,
              QStringLiteral("it does not use the sheet “sheet.png” (its tilesets show “o.png”)"));
    const LevelBytesResult none = remapText("{\"layers\":[]}", "a.tmj");
    EXPECT_EQ(none.status, LevelFileStatus::Skipped);
    EXPECT_EQ(none.reason, QStringLiteral("none of its tilesets has an image"));
}

}  // namespace
