// Godot scenes and TileSets against random sheets: after a random rearrangement, dedupe with flips
// or change of layout every cell must show the picture it showed, every tile definition must be
// that of the same picture, and the inverse must give back the bytes the files started with.
// The files are read back here by a reader of the tests' own.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>

#include "level/atlas_merge.h"
#include "level/level_remap.h"
#include "support/image_files.h"
#include "support/level_files.h"

namespace
{

constexpr uint32_t kTransforms = 4096 | 8192 | 16384;

struct Cell {
    bool operator==(const Cell&) const = default;
    int x = 0;
    int y = 0;
    uint32_t source = 0;
    uint32_t atlasX = 0;
    uint32_t atlasY = 0;
    uint32_t alternative = 0;
};
using Layer = std::vector<Cell>;

// What a cell shows, as the tests see it: a source, the sheet's original tile it shows and how
// it is turned (every tile of the random sheets is taken to look unlike any turn of another).
using Picture = std::tuple<int, int, uint32_t, int, unsigned, uint32_t>;

TileSymmetry turnOf(uint32_t alternative)
{
    return TileSymmetry(((alternative & 4096) ? 4u : 0u) | ((alternative & 8192) ? 2u : 0u) |
                        ((alternative & 16384) ? 1u : 0u));
}

struct Sheet {
    int columns = 1;
    int rows = 1;
    int width = 8;
    int height = 8;
    int margin = 0;
    int spacing = 0;
    uint32_t source = 0;
    uint32_t other = 1;
    bool square() const { return width == height; }
    QImage image(int tiles) const
    {
        const int down = (tiles + columns - 1) / columns;
        return QImage(2 * margin + columns * width + (columns - 1) * spacing,
                      2 * margin + down * height + (down - 1) * spacing, QImage::Format_RGB32);
    }
};

QByteArray vector2i(int a, int b)
{
    return "Vector2i(" + QByteArray::number(a) + ", " + QByteArray::number(b) + ")";
}

QByteArray layerBytes(const Layer& layer)
{
    QByteArray data(2, '\0');
    for (const Cell& c : layer)
        for (uint32_t v : {uint32_t(uint16_t(c.x)), uint32_t(uint16_t(c.y)), c.source, c.atlasX,
                           c.atlasY, c.alternative}) {
            data += char(v & 0xff);
            data += char(v >> 8);
        }
    return data;
}

QByteArray olderLayer(const Layer& layer)
{
    QByteArrayList numbers;
    for (const Cell& c : layer) {
        numbers << QByteArray::number(int32_t(uint32_t(uint16_t(c.x)) | uint32_t(c.y) << 16))
                << QByteArray::number(int32_t(c.source | c.atlasX << 16))
                << QByteArray::number(int32_t(c.atlasY | c.alternative << 16));
    }
    return "PackedInt32Array(" + numbers.join(", ") + ")";
}

// The atlas source of the sheet, its definitions given as tile -> lines below "X:Y/".
QByteArray sheetAtlas(const Sheet& sheet, const std::map<int, QByteArrayList>& definitions)
{
    QByteArray text = "[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_s\"]\n"
                      "texture = ExtResource(\"1_sheet\")\n";
    if (sheet.margin)
        text += "margins = " + vector2i(sheet.margin, sheet.margin) + "\n";
    if (sheet.spacing)
        text += "separation = " + vector2i(sheet.spacing, sheet.spacing) + "\n";
    if (sheet.width != 16 || sheet.height != 16)
        text += "texture_region_size = " + vector2i(sheet.width, sheet.height) + "\n";
    for (const auto& [tile, lines] : definitions)
        for (const QByteArray& line : lines)
            text += QByteArray::number(tile % sheet.columns) + ':' +
                    QByteArray::number(tile / sheet.columns) + '/' + line + '\n';
    text += "\n[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_o\"]\n"
            "texture = ExtResource(\"2_other\")\ntexture_region_size = Vector2i(8, 8)\n"
            "0:0/0 = 0\n1:0/0 = 0\n\n";
    return text;
}

QByteArray textures()
{
    return "[ext_resource type=\"Texture2D\" uid=\"uid://s\" path=\"res://art/sheet.png\" "
           "id=\"1_sheet\"]\n[ext_resource type=\"Texture2D\" path=\"res://art/other.png\" "
           "id=\"2_other\"]\n";
}

// The TileSet's own lines, with a pattern (cells of layers[3]) and proxies from tile to tile.
QByteArray tileSetBody(const Sheet& sheet, const std::vector<Layer>& layers,
                       const std::vector<int>& proxies)
{
    QByteArray pairs;
    for (size_t p = 0; p < proxies.size(); ++p)
        pairs += QByteArray(p ? ", " : "") + "[" + QByteArray::number(sheet.source) + ", " +
                 vector2i(proxies[p] % sheet.columns, proxies[p] / sheet.columns) + "]";
    return "[sub_resource type=\"TileMapPattern\" id=\"TileMapPattern_p\"]\ntile_data = " +
           olderLayer(layers[3]) + "\n\n" +
           "[resource]\nphysics_layer_0/collision_layer = 1\nsources/" +
           QByteArray::number(sheet.source) + " = SubResource(\"TileSetAtlasSource_s\")\nsources/" +
           QByteArray::number(sheet.other) + " = SubResource(\"TileSetAtlasSource_o\")\n" +
           "tile_proxies/coords_level = [" + pairs +
           "]\npattern_0 = SubResource(\"TileMapPattern_p\")\n";
}

// A scene of three layers (base64 bytes, a list of bytes, the older TileMap), its TileSet inside
// it or, with tileSetFile, in a resource of its own.
QByteArray sceneText(const Sheet& sheet, const std::map<int, QByteArrayList>& definitions,
                     const std::vector<Layer>& layers, const std::vector<int>& proxies,
                     QByteArray* tileSetFile)
{
    QByteArray text = "[gd_scene load_steps=6 format=4 uid=\"uid://scene\"]\n\n";
    QByteArray tileSet;
    if (tileSetFile) {
        text += "[ext_resource type=\"TileSet\" path=\"res://tiles.tres\" id=\"3_set\"]\n\n";
        *tileSetFile = "[gd_resource type=\"TileSet\" load_steps=4 format=3]\n\n" + textures() +
                       "\n" + sheetAtlas(sheet, definitions) + tileSetBody(sheet, layers, proxies);
        tileSet = "ExtResource(\"3_set\")";
    } else {
        text += textures() + "\n" + sheetAtlas(sheet, definitions) +
                tileSetBody(sheet, layers, proxies)
                    .replace("[resource]", "[sub_resource type=\"TileSet\" id=\"TileSet_t\"]") +
                "\n";
        tileSet = "SubResource(\"TileSet_t\")";
    }
    text += "[node name=\"World\" type=\"Node2D\"]\n\n"
            "[node name=\"Ground\" type=\"TileMapLayer\" parent=\".\"]\n"
            "tile_map_data = PackedByteArray(\"" +
            layerBytes(layers[0]).toBase64() +
            "\")\n"
            "tile_set = " +
            tileSet + "\n\n";
    QByteArrayList list;
    for (const char byte : layerBytes(layers[1]))
        list << QByteArray::number(uint8_t(byte));
    text += "[node name=\"Walls\" type=\"TileMapLayer\" parent=\".\"]\nz_index = 1\n"
            "tile_map_data = PackedByteArray(" +
            list.join(", ") + ")\ntile_set = " + tileSet +
            "\n\n[node name=\"Old\" type=\"TileMap\" parent=\".\"]\ntile_set = " + tileSet +
            "\nformat = 2\nlayer_0/name = \"Old\"\nlayer_0/tile_data = " + olderLayer(layers[2]) +
            "\n";
    return text;
}

// The reader of the tests' own.
std::vector<Layer> readLayers(const QByteArray& text)
{
    std::vector<Layer> layers;
    auto fromBytes = [](const QByteArray& data) {
        Layer layer;
        auto at = [&](int i) {
            return uint32_t(uint8_t(data[i])) | uint32_t(uint8_t(data[i + 1])) << 8;
        };
        for (int c = 2; c + 12 <= data.size(); c += 12)
            layer.push_back(
                {int16_t(at(c)), int16_t(at(c + 2)), at(c + 4), at(c + 6), at(c + 8), at(c + 10)});
        return layer;
    };
    static const QRegularExpression bytes(
        QStringLiteral("tile_map_data = PackedByteArray\\((.*)\\)"));
    static const QRegularExpression words(QStringLiteral("tile_data = PackedInt32Array\\((.*)\\)"));
    for (auto m = bytes.globalMatch(QString::fromUtf8(text)); m.hasNext();) {
        const QString inside = m.next().captured(1);
        QByteArray data;
        if (inside.startsWith(u'"'))
            data = QByteArray::fromBase64(inside.mid(1, inside.size() - 2).toUtf8());
        else
            for (const QString& n : inside.split(u','))
                data += char(n.trimmed().toInt());
        layers.push_back(fromBytes(data));
    }
    for (auto m = words.globalMatch(QString::fromUtf8(text)); m.hasNext();) {
        QByteArray data(2, '\0');
        for (const QString& n : m.next().captured(1).split(u',')) {
            const uint32_t v = uint32_t(n.trimmed().toInt());
            for (int b = 0; b < 4; ++b)
                data += char((v >> (8 * b)) & 0xff);
        }
        layers.push_back(fromBytes(data));
    }
    return layers;
}

// The tiles the proxies name, as tile numbers.
std::vector<int> readProxies(const QByteArray& text, int columns)
{
    static const QRegularExpression pair(
        QStringLiteral("\\[\\d+, Vector2i\\((\\d+), (\\d+)\\)\\]"));
    const QString all = QString::fromUtf8(text);
    const qsizetype at = all.indexOf(QStringLiteral("tile_proxies/coords_level"));
    std::vector<int> tiles;
    for (auto m = pair.globalMatch(all.mid(at, all.indexOf(u'\n', at) - at)); m.hasNext();) {
        const auto match = m.next();
        tiles.push_back(match.captured(2).toInt() * columns + match.captured(1).toInt());
    }
    return tiles;
}

// The sheet's atlas source: its definitions as (tile, line below the prefix), and its margins
// and separation.
struct ReadAtlas {
    std::multimap<int, QString> lines;
    int margin = 0;
    int spacing = 0;
};

ReadAtlas readAtlas(const QByteArray& text, int columns)
{
    ReadAtlas atlas;
    const QString all = QString::fromUtf8(text);
    const qsizetype begin = all.indexOf(QStringLiteral("id=\"TileSetAtlasSource_s\"]"));
    const qsizetype end = all.indexOf(u'[', begin + 30);
    static const QRegularExpression line(QStringLiteral("^(\\d+):(\\d+)/(.*)$"),
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression margins(QStringLiteral("^margins = Vector2i\\((\\d+), \\1\\)$"),
                                            QRegularExpression::MultilineOption);
    static const QRegularExpression separation(
        QStringLiteral("^separation = Vector2i\\((\\d+), \\1\\)$"),
        QRegularExpression::MultilineOption);
    const QString section = all.mid(begin, end - begin);
    for (auto m = line.globalMatch(section); m.hasNext();) {
        const auto match = m.next();
        atlas.lines.emplace(match.captured(2).toInt() * columns + match.captured(1).toInt(),
                            match.captured(3));
    }
    atlas.margin = margins.match(section).captured(1).toInt();
    atlas.spacing = separation.match(section).captured(1).toInt();
    return atlas;
}

// A random remap of kind 0 (a rearrangement), 1 (one with a new layout), 2 (one that mirrors
// tiles without data) or 3 (a dedupe with flips: tiles without data merged, unused ones dropped).
// canon: tile -> the tile it looks like and the turn that shows it so.
TileRemap randomGodotRemap(int kind, const Sheet& sheet, const std::set<int>& keepUnturned,
                           const std::set<int>& used,
                           const std::map<int, QByteArrayList>& definitions, std::mt19937& random,
                           std::vector<std::pair<int, TileSymmetry>>& canon)
{
    const int count = sheet.columns * sheet.rows;
    TileRemap remap = randomRemap(sheet.columns, sheet.rows, random);
    canon.clear();
    for (int t = 0; t < count; ++t)
        canon.emplace_back(t, TileSymmetry());
    auto turn = [&] { return TileSymmetry(sheet.square() ? random() % 8 : random() % 4 * 2); };
    if (kind == 1) {
        remap.margin = int(random() % 3);
        remap.spacing = int(random() % 3);
    } else if (kind == 2) {
        remap.symmetryOf.resize(size_t(count));
        for (int t = 0; t < count; ++t)
            if (!keepUnturned.count(t))
                remap.symmetryOf[size_t(t)] = turn();
    } else if (kind == 3) {
        remap.symmetryOf.resize(size_t(count));
        std::vector<int32_t> target(static_cast<size_t>(count));
        std::iota(target.begin(), target.end(), 0);
        for (int t = 0; t < count; ++t) {
            const int into = int(random() % uint32_t(count));
            // Only tiles of the same data merge, as a dedupe merges them.
            const bool alike = !definitions.count(t) || !definitions.count(into) ||
                               definitions.at(t) == definitions.at(into);
            if (into < t && target[size_t(into)] == into && !keepUnturned.count(t) && alike &&
                random() % 2) {
                target[size_t(t)] = into; // the tile looks like into, turned
                remap.symmetryOf[size_t(t)] = turn();
                canon[size_t(t)] = {into, remap.symmetryOf[size_t(t)]};
            } else if (!used.count(t) && random() % 3 == 0) {
                target[size_t(t)] = -1;
            }
        }
        // The kept tiles packed in their order.
        std::map<int, int32_t> packed;
        for (int t = 0; t < count; ++t)
            if (target[size_t(t)] == t)
                packed.emplace(t, int32_t(packed.size()));
        for (int t = 0; t < count; ++t)
            remap.newIndexOf[size_t(t)] =
                target[size_t(t)] < 0 ? TileRemap::kDropped
                                      : packed.at(target[size_t(t)] == t ? t : target[size_t(t)]);
        remap.newTiles = int32_t(packed.size());
    }
    return remap;
}

TEST(GodotLevels, CellsAndDefinitionsShowTheSameTilesAfterTheRemap)
{
    for (int round = 0; round < 64; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::mt19937 random(7000 + unsigned(round));
        auto below = [&](int n) { return int(random() % uint32_t(n)); };
        const int kind = round % 4;
        Sheet sheet;
        sheet.columns = 1 + below(6);
        sheet.rows = 1 + below(5);
        if (round % 3 == 1) {
            sheet.width = 2 + below(15);
            sheet.height = 8 * (1 + below(3));
        } else if (round % 3 == 2) {
            sheet.width = sheet.height = 16;
        }
        if (kind != 2 && kind != 3) {
            sheet.margin = below(3);
            sheet.spacing = below(3);
        }
        sheet.source = uint32_t(below(3));
        sheet.other = sheet.source + 1 + uint32_t(below(3));
        const int count = sheet.columns * sheet.rows;

        // Definitions: most tiles have one; some keep data that a turn would not carry.
        std::map<int, QByteArrayList> definitions;
        std::set<int> withData;
        for (int t = 0; t < count; ++t) {
            if (below(10) < 3)
                continue;
            QByteArrayList& lines = definitions[t];
            lines << "0 = 0";
            if (below(3) == 0) {
                withData.insert(t);
                const int kind = below(3);
                if (kind == 0)
                    lines << "0/probability = 0.5";
                else if (kind == 1)
                    lines << "0/physics_layer_0/polygon_0/points = "
                             "PackedVector2Array(-4, -4, 4, -4, 4, 4)";
                else
                    lines << "0/terrain_set = 0"
                          << "0/terrain = 0"
                          << "0/terrains_peering_bit/right_side = 0";
            }
            // Alternative 1 flips its tile (a square one across its diagonal); without other
            // data, the tile may still turn.
            if (below(2) == 0)
                lines << "next_alternative_id = 2"
                      << "1 = 1" << (sheet.square() ? "1/transpose = true" : "1/flip_h = true");
        }
        std::vector<Layer> layers(4); // the last is the TileSet's pattern
        std::set<int> used;
        for (Layer& layer : layers)
            for (int c = below(12); c > 0; --c) {
                const bool pattern = &layer == &layers.back();
                Cell cell{below(11) - (pattern ? 0 : 5),
                          below(11) - (pattern ? 0 : 5),
                          sheet.source,
                          0,
                          0,
                          0};
                if (below(4) == 0) {
                    cell.source = sheet.other;
                    cell.atlasX = uint32_t(below(2));
                } else {
                    const int t = below(count);
                    used.insert(t);
                    cell.atlasX = uint32_t(t % sheet.columns);
                    cell.atlasY = uint32_t(t / sheet.columns);
                    const bool alternative =
                        definitions.count(t) && definitions[t].contains("1 = 1") && below(3) != 0;
                    cell.alternative = alternative ? 1 : 0;
                }
                if (below(2))
                    cell.alternative |= uint32_t(sheet.square() ? below(8) : below(4) * 2) << 12;
                layer.push_back(cell);
            }
        // Two proxies: tiles that stay unturned and are kept.
        const std::vector<int> proxies{below(count), below(count)};
        used.insert(proxies.begin(), proxies.end());
        std::vector<std::pair<int, TileSymmetry>> canon;
        std::set<int> unturned = withData;
        unturned.insert(proxies.begin(), proxies.end());
        // A cell of an alternative tile keeps its tile unturned when its TileSet is in another
        // file, whose alternatives the scene cannot see.
        const bool external = round % 2 == 1;
        for (const Layer& layer : layers)
            for (const Cell& c : layer)
                if (external && c.source == sheet.source && (c.alternative & ~kTransforms))
                    unturned.insert(int(c.atlasY) * sheet.columns + int(c.atlasX));
        TileRemap remap = randomGodotRemap(kind, sheet, unturned, used, definitions, random, canon);
        // In a rearrangement one tile may cover two cells, which then move side by side.
        if (kind < 2 && sheet.columns > 1) {
            const int big = below(sheet.rows) * sheet.columns + below(sheet.columns - 1);
            const int32_t to =
                int32_t(below(sheet.rows) * sheet.columns + below(sheet.columns - 1));
            auto place = [&](int tile, int32_t at) {
                auto held = std::find(remap.newIndexOf.begin(), remap.newIndexOf.end(), at);
                std::swap(*held, remap.newIndexOf[size_t(tile)]);
            };
            place(big, to);
            place(big + 1, to + 1);
            definitions[big] = {"0 = 0", "size_in_atlas = Vector2i(2, 1)"};
            definitions.erase(big + 1);
        }
        ASSERT_TRUE(remap.check().isEmpty()) << remap.check().toStdString();

        QTemporaryDir folder;
        ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("art")));
        ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("levels")));
        writeFileBytes(folder.filePath(QStringLiteral("project.godot")), "config_version=5\n");
        ASSERT_TRUE(QImage(16, 8, QImage::Format_RGB32)
                        .save(folder.filePath(QStringLiteral("art/other.png"))));
        QByteArray tileSetText;
        const QString scenePath = folder.filePath(QStringLiteral("levels/world.tscn"));
        const QString tileSetPath = folder.filePath(QStringLiteral("tiles.tres"));
        const QByteArray sceneBefore =
            sceneText(sheet, definitions, layers, proxies, external ? &tileSetText : nullptr);
        writeFileBytes(scenePath, sceneBefore);
        if (external)
            writeFileBytes(tileSetPath, tileSetText);

        // The texture as the remap leaves it, saved before the levels follow.
        Sheet after = sheet;
        if (kind == 1) {
            after.margin = remap.margin;
            after.spacing = remap.spacing;
        }
        const QString sheetPath = folder.filePath(QStringLiteral("art/sheet.png"));
        ASSERT_TRUE(after.image(remap.newTileCount()).save(sheetPath));
        LevelRemapOptions options;
        options.sheet = sheetPath;
        const LevelRemapRun run = remapLevelFiles({scenePath}, remap, options);
        ASSERT_EQ(run.count(LevelFileStatus::Failed), 0)
            << run.files[0].message().toStdString() << "\n"
            << sceneBefore.toStdString();
        ASSERT_EQ(run.files.size(), external ? 2u : 1u);

        // Every cell shows what it showed: a new tile shows the original that it holds, turned
        // back by the remap's turn of that original.
        std::vector<int> holds(size_t(remap.newTileCount()), -1);
        for (int t = 0; t < count; ++t)
            if (remap.newIndexOf[size_t(t)] >= 0 && canon[size_t(t)].first == t)
                holds[size_t(remap.newIndexOf[size_t(t)])] = t;
        auto pictures = [&](const std::vector<Layer>& read, bool afterwards) {
            std::vector<Picture> shown;
            for (const Layer& layer : read)
                for (const Cell& c : layer) {
                    if (c.source != sheet.source) {
                        shown.emplace_back(c.x, c.y, c.source, int(c.atlasX), 0, c.alternative);
                        continue;
                    }
                    const int columns = afterwards ? remap.newColumns() : sheet.columns;
                    int tile = int(c.atlasY) * columns + int(c.atlasX);
                    // Alternative 1 flips the tile by itself, and the cell's flips go with it.
                    const uint32_t own = (c.alternative & ~kTransforms) != 1 ? 0
                                         : sheet.square()                    ? 16384
                                                                             : 4096;
                    TileSymmetry turn = turnOf(c.alternative ^ own);
                    if (afterwards) {
                        tile = holds.at(size_t(tile));
                        turn = turn.after(remap.symmetry(size_t(tile)).inverse());
                    } else {
                        turn = turn.after(canon[size_t(tile)].second);
                        tile = canon[size_t(tile)].first;
                    }
                    shown.emplace_back(c.x, c.y, c.source, tile, turn.bits(),
                                       c.alternative & ~kTransforms);
                }
            return shown;
        };
        const QByteArray sceneAfter = readFileBytes(scenePath);
        const QByteArray& atlasBefore = external ? tileSetText : sceneBefore;
        const QByteArray atlasAfter = external ? readFileBytes(tileSetPath) : sceneAfter;
        const QByteArray before = external ? sceneBefore + tileSetText : sceneBefore;
        const QByteArray afterwards = external ? sceneAfter + atlasAfter : sceneAfter;
        EXPECT_EQ(pictures(readLayers(before), false), pictures(readLayers(afterwards), true));
        std::vector<int> proxied;
        for (const int tile : readProxies(atlasAfter, remap.newColumns()))
            proxied.push_back(holds.at(size_t(tile)));
        EXPECT_EQ(proxied, (std::vector<int>{canon[size_t(proxies[0])].first,
                                             canon[size_t(proxies[1])].first}));

        // Every definition stands at its tile's new place, once for tiles merged into one.
        std::set<std::pair<int, QString>> was;
        std::set<std::pair<int, QString>> is;
        for (const auto& [tile, line] : readAtlas(atlasBefore, sheet.columns).lines)
            if (remap.newIndexOf[size_t(tile)] >= 0)
                was.emplace(canon[size_t(tile)].first, line);
        const ReadAtlas read = readAtlas(atlasAfter, remap.newColumns());
        for (const auto& [tile, line] : read.lines)
            is.emplace(holds.at(size_t(tile)), line);
        EXPECT_EQ(was, is);
        EXPECT_EQ(read.lines.size(), is.size()) << "a tile is defined twice";
        EXPECT_EQ(read.margin, after.margin);
        EXPECT_EQ(read.spacing, after.spacing);

        if (kind >= 2)
            continue; // turned, merged and dropped tiles cannot be brought back
        TileRemap inverse = remap.inverse();
        inverse.margin = remap.margin >= 0 ? sheet.margin : -1;
        inverse.spacing = remap.spacing >= 0 ? sheet.spacing : -1;
        ASSERT_TRUE(sheet.image(count).save(sheetPath));
        const LevelRemapRun back = remapLevelFiles({scenePath}, inverse, options);
        ASSERT_EQ(back.count(LevelFileStatus::Failed), 0) << back.files[0].message().toStdString();
        EXPECT_EQ(readFileBytes(scenePath), sceneBefore);
        if (external) {
            EXPECT_EQ(readFileBytes(tileSetPath), tileSetText);
        }
    }
}

// A Godot project in folder with a sheet s.png of 4 x 2 tiles of 8 pixels; the path of its scene
// a.tscn, not yet written.
QString projectOfOneSheet(const QTemporaryDir& folder)
{
    writeFileBytes(folder.filePath(QStringLiteral("project.godot")), "");
    EXPECT_TRUE(
        QImage(32, 16, QImage::Format_RGB32).save(folder.filePath(QStringLiteral("s.png"))));
    return folder.filePath(QStringLiteral("a.tscn"));
}

// A scene of one layer against a sheet of 4 x 2 tiles of 8 pixels, its atlas given more lines.
struct GodotCase {
    const char* atlas;       // lines of the sheet's atlas source
    Layer cells;             // of the TileMapLayer, source 0
    const char* older;       // an older TileMap node's lines instead, when set
    std::vector<int32_t> to; // the remap: tile -> new tile
    std::vector<unsigned> turns;
    const char* refusal; // the start of the reason; empty: the scene is updated
    const char* written; // a line the result holds
};

TEST(GodotLevels, TilesThatCannotFollowAreRefusedAndBlocksMoveWhole)
{
    const std::vector<int32_t> swap{1, 0, 2, 3, 4, 5, 6, 7};
    const std::vector<int32_t> halves{2, 3, 0, 1, 6, 7, 4, 5};
    const GodotCase cases[] = {
        {"0:0/0 = 0\n0:0/size_in_atlas = Vector2i(2, 1)\n",
         {},
         nullptr,
         swap,
         {},
         "the tile 0:0 covers 2 cells",
         nullptr},
        {"0:0/0 = 0\n0:0/size_in_atlas = Vector2i(2, 1)\n",
         {{0, 0, 0, 0, 0, 0}},
         nullptr,
         halves,
         {},
         "",
         "2:0/size_in_atlas = Vector2i(2, 1)"},
        {"0:0/0 = 0\n0:0/animation_frame_0/duration = 1.0\n0:0/animation_frame_1/duration = 1.0\n",
         {},
         nullptr,
         swap,
         {},
         "the tile 0:0 covers 2 cells",
         nullptr},
        {"2:1/0 = 0\n2:1/animation_columns = 1\n2:1/animation_frame_0/duration = 1.0\n"
         "2:1/animation_frame_1/duration = 1.0\n",
         {},
         nullptr,
         swap,
         {},
         "the tile 2:1 lies outside the texture's 8 tiles",
         nullptr},
        {"0:0/0 = 0\n",
         {{3, -2, 0, 5, 0, 0}},
         nullptr,
         swap,
         {},
         "a cell shows the tile 5:0, outside the texture's 8 tiles (the cell 3, -2)",
         nullptr},
        {"0:0/0 = 0\n",
         {{0, 0, 0, 0, 0, 1}},
         nullptr,
         swap,
         {4},
         "a cell shows the alternative 1 of the tile 0:0",
         nullptr},
        {"0:0/0 = 0\n0:0/0/z_index = 1\n",
         {},
         nullptr,
         swap,
         {4},
         "the tile 0:0 would be turned",
         nullptr},
        {"0:0/0 = 0\n1:0/0 = 0\n1:0/0/z_index = 1\n",
         {},
         nullptr,
         {0, 0, 1, 2, 3, 4, 5, 6},
         {},
         "the tile 1:0 and the tile 0:0 become one tile",
         nullptr},
        {"0:0/0 = 0\n",
         {},
         "format = 2\ntile_data = PackedInt32Array(0, 0, 0)\n",
         swap,
         {},
         "",
         "tile_data = PackedInt32Array(0, 65536, 0)"},
        {"0:0/0 = 0\n",
         {},
         "format = 1\nlayer_0/tile_data = PackedInt32Array(0, 0, 0)\n",
         swap,
         {},
         "its TileMap data are of format 1",
         nullptr},
        {"0:0/0 = 0\n",
         {},
         "format = 2\nlayer_0/tile_data = PackedInt32Array(-65537, 0, 268435456)\n",
         swap,
         {4},
         "",
         "PackedInt32Array(-65537, 65536, 0)"},
    };
    QTemporaryDir folder;
    const QString path = projectOfOneSheet(folder);
    for (const GodotCase& c : cases) {
        SCOPED_TRACE(c.atlas);
        QByteArray text =
            "[gd_scene format=3]\n\n[ext_resource type=\"Texture2D\" "
            "path=\"res://s.png\" id=\"1\"]\n\n[sub_resource "
            "type=\"TileSetAtlasSource\" id=\"A\"]\ntexture = ExtResource(\"1\")\n"
            "texture_region_size = Vector2i(8, 8)\n" +
            QByteArray(c.atlas) +
            "\n[sub_resource type=\"TileSet\" id=\"T\"]\nsources/0 = "
            "SubResource(\"A\")\n\n[node name=\"L\" type=\"" +
            (c.older ? "TileMap" : "TileMapLayer") + "\"]\ntile_set = SubResource(\"T\")\n" +
            (c.older
                 ? QByteArray(c.older)
                 : "tile_map_data = PackedByteArray(\"" + layerBytes(c.cells).toBase64() + "\")\n");
        TileRemap remap;
        remap.columns = 4;
        remap.newIndexOf = c.to;
        for (unsigned turn : c.turns)
            remap.symmetryOf.push_back(TileSymmetry(turn));
        if (!remap.symmetryOf.empty())
            remap.symmetryOf.resize(8);
        remap.newTiles = *std::max_element(c.to.begin(), c.to.end()) + 1;
        const LevelBytesResult result = remapLevelBytes(text, path, remap, {});
        if (*c.refusal) {
            EXPECT_EQ(result.status, LevelFileStatus::Failed);
            EXPECT_TRUE(result.reason.startsWith(QString::fromUtf8(c.refusal)))
                << result.reason.toStdString();
            EXPECT_TRUE(result.place.contains(u"line")) << result.place.toStdString();
            continue;
        }
        ASSERT_EQ(result.status, LevelFileStatus::Updated)
            << result.place.toStdString() << ": " << result.reason.toStdString();
        EXPECT_TRUE(result.bytes.contains(c.written)) << result.bytes.toStdString();
    }
}

TEST(GodotLevels, PruneCountsCellsPatternsAndAnimationFrames)
{
    QTemporaryDir folder;
    const QString path = projectOfOneSheet(folder);
    writeFileBytes(path,
                   "[gd_scene format=3]\n[ext_resource type=\"Texture2D\" path=\"res://s.png\" "
                   "id=\"1\"]\n[sub_resource type=\"TileSetAtlasSource\" id=\"A\"]\n"
                   "texture = ExtResource(\"1\")\ntexture_region_size = Vector2i(8, 8)\n"
                   "1:0/0 = 0\n1:0/animation_frame_0/duration = 1.0\n"
                   "1:0/animation_frame_1/duration = 1.0\n"
                   "[sub_resource type=\"TileMapPattern\" id=\"P\"]\n"
                   "tile_data = PackedInt32Array(0, 196608, 1)\n"
                   "[sub_resource type=\"TileSet\" id=\"T\"]\nsources/0 = SubResource(\"A\")\n"
                   "pattern_0 = SubResource(\"P\")\n[node name=\"L\" type=\"TileMapLayer\"]\n"
                   "tile_set = SubResource(\"T\")\ntile_map_data = PackedByteArray(\"" +
                       layerBytes({{0, 0, 0, 1, 0, 0}}).toBase64() + "\")\n");
    const TileUseRun found = findUsedTiles({path}, 8, 4, {});
    ASSERT_EQ(found.run.count(LevelFileStatus::Failed), 0)
        << found.run.files[0].message().toStdString();
    // The layer's tile 1:0 and its second frame 2:0; the pattern's 3:1.
    EXPECT_EQ(found.used, (std::vector<bool>{false, true, true, false, false, false, false, true}));
    // What a dedupe must keep apart: the animated tile merges only unturned and within its own
    // TileSet, its frame only unturned; a tile of no definition carries nothing.
    ASSERT_EQ(found.data.size(), 8u);
    EXPECT_TRUE(found.data[1].unturned && found.data[1].local && !found.data[1].text.isEmpty());
    EXPECT_TRUE(found.data[2].unturned && found.data[2].text.isEmpty());
    EXPECT_FALSE(found.data[0].unturned || found.data[3].unturned);
}

TEST(GodotLevels, MergedSheetsBecomeOneAtlasSourceInEveryTileSet)
{
    // Sheets a (2 x 2 tiles) and b (2 x 1) packed into an atlas of 2 columns: a's tiles keep
    // their numbers, b's first tile becomes 4 and its second is a's tile 1 mirrored.
    AtlasMerge merge;
    QTemporaryDir folder;
    writeFileBytes(folder.filePath(QStringLiteral("project.godot")), "");
    merge.atlas = folder.filePath(QStringLiteral("atlas.png"));
    TileRemap a;
    a.columns = 2;
    a.newIndexOf = {0, 1, 2, 3};
    a.newTiles = 5;
    a.newColumnCount = 2;
    TileRemap b = a;
    b.newIndexOf = {4, 1};
    b.symmetryOf = {TileSymmetry(), TileSymmetry(TileSymmetry::kH)};
    merge.sheets = {{folder.filePath(QStringLiteral("a.png")), a},
                    {folder.filePath(QStringLiteral("b.png")), b}};
    ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB32).save(merge.sheets[0].image));
    ASSERT_TRUE(QImage(16, 8, QImage::Format_RGB32).save(merge.sheets[1].image));
    ASSERT_TRUE(QImage(16, 24, QImage::Format_RGB32).save(merge.atlas));
    const QByteArray atlases =
        "[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_o\"]\n"
        "texture = ExtResource(\"3\")\n0:0/0 = 0\n\n"
        "[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_b\"]\n"
        "texture = ExtResource(\"2\")\ntexture_region_size = Vector2i(8, 8)\n0:0/0 = 0\n"
        "0:0/0/z_index = 1\n1:0/0 = 0\n\n"
        "[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_s\"]\n"
        "texture = ExtResource(\"1\")\ntexture_region_size = Vector2i(8, 8)\n1:0/0 = 0\n"
        "1:1/0 = 0\n1:1/0/probability = 0.5\n\n";
    const QByteArray textures =
        "[ext_resource type=\"Texture2D\" path=\"res://a.png\" id=\"1\"]\n"
        "[ext_resource type=\"Texture2D\" path=\"res://b.png\" id=\"2\"]\n"
        "[ext_resource type=\"Texture2D\" path=\"res://o.png\" id=\"3\"]\n\n";
    const QByteArray sources = "sources/0 = SubResource(\"TileSetAtlasSource_o\")\n"
                               "sources/5 = SubResource(\"TileSetAtlasSource_b\")\n"
                               "sources/2 = SubResource(\"TileSetAtlasSource_s\")\n";
    // Cells of a's tile 1:0, b's 1:0 flipped, b's 0:0 and the other source's.
    const Layer cells{
        {0, 0, 2, 1, 0, 0}, {1, 0, 5, 1, 0, 4096}, {2, 0, 5, 0, 0, 0}, {3, 0, 0, 0, 0, 0}};
    const QByteArray layer = "[node name=\"L\" type=\"TileMapLayer\"]\ntile_map_data = "
                             "PackedByteArray(\"" +
                             layerBytes(cells).toBase64() + "\")\n";
    const Layer expected{
        {0, 0, 2, 1, 0, 0}, {1, 0, 2, 1, 0, 0}, {2, 0, 2, 0, 2, 0}, {3, 0, 0, 0, 0, 0}};
    for (const bool external : {false, true}) {
        SCOPED_TRACE(external ? "a TileSet of its own" : "a TileSet in the scene");
        const QString scene = folder.filePath(QStringLiteral("world.tscn"));
        const QString tres = folder.filePath(QStringLiteral("tiles.tres"));
        if (external) {
            writeFileBytes(tres, "[gd_resource type=\"TileSet\" format=3]\n\n" + textures +
                                     atlases + "[resource]\n" + sources);
            writeFileBytes(scene, "[gd_scene format=3]\n\n[ext_resource type=\"TileSet\" "
                                  "path=\"res://tiles.tres\" id=\"9\"]\n\n" +
                                      layer + "tile_set = ExtResource(\"9\")\n");
        } else {
            writeFileBytes(scene, "[gd_scene format=3]\n\n" + textures + atlases +
                                      "[sub_resource type=\"TileSet\" id=\"T\"]\n" + sources +
                                      "\n" + layer + "tile_set = SubResource(\"T\")\n");
        }
        LevelRemapOptions options;
        options.merge = &merge;
        const LevelRemapRun run = remapLevelFiles({scene}, a, options);
        ASSERT_EQ(run.count(LevelFileStatus::Failed), 0) << run.files[0].message().toStdString();
        const QByteArray tileSet = readFileBytes(external ? tres : scene);
        EXPECT_EQ(readLayers(readFileBytes(scene)).at(0), expected);
        // The kept source shows the atlas and holds every definition; b's source is gone.
        EXPECT_TRUE(tileSet.contains("[ext_resource type=\"Texture2D\" path=\"res://atlas.png\" "
                                     "id=\"atlas_1\"]\n\n[sub_resource"))
            << tileSet.toStdString();
        EXPECT_TRUE(tileSet.contains("texture = ExtResource(\"atlas_1\")"));
        EXPECT_FALSE(tileSet.contains("TileSetAtlasSource_b"));
        const std::multimap<int, QString> lines{{1, "0 = 0"},
                                                {3, "0 = 0"},
                                                {3, "0/probability = 0.5"},
                                                {4, "0 = 0"},
                                                {4, "0/z_index = 1"}};
        EXPECT_EQ(readAtlas(tileSet, 2).lines, lines);
    }
}

TEST(GodotLevels, ASourceOfARegionOfTheSheetFollowsIt)
{
    QTemporaryDir folder;
    const QString path = projectOfOneSheet(folder);
    // Source 1 starts at the sheet's tile 2:1: its 0:0 and 1:0 are the sheet's tiles 6 and 7.
    auto scene = [](const QByteArray& margins, const QByteArray& definitions, const Layer& cells) {
        return "[gd_scene format=3]\n[ext_resource type=\"Texture2D\" path=\"res://s.png\" "
               "id=\"1\"]\n[sub_resource type=\"TileSetAtlasSource\" id=\"A\"]\n"
               "texture = ExtResource(\"1\")\ntexture_region_size = Vector2i(8, 8)\n"
               "[sub_resource type=\"TileSetAtlasSource\" id=\"R\"]\ntexture = "
               "ExtResource(\"1\")\n" +
               margins + "texture_region_size = Vector2i(8, 8)\n" + definitions +
               "[sub_resource type=\"TileSet\" id=\"T\"]\nsources/0 = SubResource(\"A\")\n"
               "sources/1 = SubResource(\"R\")\n[node name=\"L\" type=\"TileMapLayer\"]\n"
               "tile_set = SubResource(\"T\")\ntile_map_data = PackedByteArray(\"" +
               layerBytes(cells).toBase64() + "\")\n";
    };
    TileRemap swap;
    swap.columns = 4;
    swap.newIndexOf = {0, 1, 2, 3, 4, 5, 7, 6};
    const QByteArray before =
        scene("margins = Vector2i(16, 8)\n", "0:0/0 = 0\n0:0/0/z_index = 1\n1:0/0 = 0\n",
              {{0, 0, 1, 0, 0, 0}, {1, 0, 1, 1, 0, 0}, {2, 0, 0, 2, 1, 0}});
    LevelBytesResult result = remapLevelBytes(before, path, swap, {});
    ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
    EXPECT_EQ(result.bytes.toStdString(),
              scene("margins = Vector2i(16, 8)\n", "1:0/0 = 0\n1:0/0/z_index = 1\n0:0/0 = 0\n",
                    {{0, 0, 1, 1, 0, 0}, {1, 0, 1, 0, 0, 0}, {2, 0, 0, 3, 1, 0}})
                  .toStdString());
    // A grid after every tile moves the region's start with it.
    TileRemap grid = swap;
    grid.newIndexOf = {0, 1, 2, 3, 4, 5, 6, 7};
    grid.grid = TileRemap::GridChange::Added;
    result = remapLevelBytes(before, path, grid, {});
    ASSERT_EQ(result.status, LevelFileStatus::Updated) << result.reason.toStdString();
    EXPECT_TRUE(result.bytes.contains("id=\"R\"]\ntexture = ExtResource(\"1\")\n"
                                      "margins = Vector2i(18, 9)\nseparation = Vector2i(1, 1)\n"))
        << result.bytes.toStdString();
    // A tile that would leave the region, and a region off the tiles, are refused.
    swap.newIndexOf = {0, 1, 2, 3, 4, 6, 5, 7};
    result = remapLevelBytes(before, path, swap, {});
    EXPECT_TRUE(result.reason.startsWith(u"the tile 0:0 would move out of its source's region"))
        << result.reason.toStdString();
    result = remapLevelBytes(scene("margins = Vector2i(12, 8)\n", "", {}), path, swap, {});
    EXPECT_TRUE(result.reason.startsWith(u"its margins differ across and down"))
        << result.reason.toStdString();
}

TEST(GodotLevels, ALayoutAloneGoesBackAndForthInTheFilesOwnLineEndings)
{
    QTemporaryDir folder;
    writeFileBytes(folder.filePath(QStringLiteral("project.godot")), "");
    const QString sheet = folder.filePath(QStringLiteral("s.png"));
    const QString path = folder.filePath(QStringLiteral("a.tscn"));
    const QByteArray text =
        "[gd_scene format=3]\r\n\r\n[ext_resource type=\"Texture2D\" "
        "path=\"res://s.png\" id=\"1\"]\r\n\r\n[sub_resource "
        "type=\"TileSetAtlasSource\" id=\"A\"]\r\ntexture = ExtResource(\"1\")\r\n"
        "texture_region_size = Vector2i(8, 8)\r\n0:0/0 = 0\r\n";
    // Extruded by one pixel: margin 1, spacing 2, the image grown to match before the levels.
    TileRemap extrude;
    extrude.keepsIds = true;
    extrude.margin = 1;
    extrude.spacing = 2;
    ASSERT_TRUE(QImage(20, 10, QImage::Format_RGB32).save(sheet));
    const LevelBytesResult out = remapLevelBytes(text, path, extrude, {});
    ASSERT_EQ(out.status, LevelFileStatus::Updated) << out.reason.toStdString();
    EXPECT_TRUE(out.bytes.contains("texture = ExtResource(\"1\")\r\nmargins = Vector2i(1, 1)\r\n"
                                   "separation = Vector2i(2, 2)\r\n"))
        << out.bytes.toStdString();
    TileRemap back = extrude;
    back.margin = back.spacing = 0;
    ASSERT_TRUE(QImage(16, 8, QImage::Format_RGB32).save(sheet));
    const LevelBytesResult again = remapLevelBytes(out.bytes, path, back, {});
    ASSERT_EQ(again.status, LevelFileStatus::Updated) << again.reason.toStdString();
    EXPECT_EQ(again.bytes, text);
}

TEST(GodotLevels, CellsWhoseTileSetIsNotFoundAreRefusedAndATileSetNeedsItsResource)
{
    const QByteArray instanced = "[gd_scene format=3]\n[ext_resource type=\"PackedScene\" "
                                 "path=\"res://base.tscn\" id=\"1\"]\n[node name=\"W\" "
                                 "type=\"Node2D\"]\n[node name=\"Ground\" parent=\".\" "
                                 "instance=ExtResource(\"1\")]\ntile_map_data = "
                                 "PackedByteArray(0, 0)\n";
    const LevelBytesResult result = remapLevelBytes(instanced, QStringLiteral("/levels/a.tscn"),
                                                    TileRemap::fromTileMap(TileMap(2, 1)), {});
    EXPECT_EQ(result.status, LevelFileStatus::Failed);
    EXPECT_TRUE(result.reason.contains(u"instanced scene")) << result.reason.toStdString();
    EXPECT_TRUE(result.place.contains(u"node “Ground”")) << result.place.toStdString();
    const QByteArray sourceFile = "[gd_scene format=3]\n[ext_resource type=\"TileSetAtlasSource\" "
                                  "path=\"res://atlas.tres\" id=\"2\"]\n[sub_resource "
                                  "type=\"TileSet\" id=\"T\"]\nsources/0 = ExtResource(\"2\")\n";
    const LevelBytesResult elsewhere = remapLevelBytes(sourceFile, QStringLiteral("/levels/a.tscn"),
                                                       TileRemap::fromTileMap(TileMap(2, 1)), {});
    EXPECT_TRUE(elsewhere.reason.startsWith(u"its source 0 is a resource of its own"))
        << elsewhere.reason.toStdString();
    const ExternalTileset read = readTilesetFacts(
        "[gd_resource type=\"TileSet\" format=3]\n[sub_resource type=\"TileSetAtlasSource\" "
        "id=\"A\"]\n0:0/0 = 0\n",
        QStringLiteral("/levels/t.tres"));
    EXPECT_EQ(read.error, QStringLiteral("its TileSet has no [resource] section"));
}

} // namespace
