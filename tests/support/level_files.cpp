#include "support/level_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QXmlStreamReader>
#include <algorithm>
#include <numeric>

#include "level/layer_codec.h"

namespace {

constexpr uint32_t kFlags = 0xf0000000u;

LayerCompression compressionOf(TestEncoding encoding)
{
    switch (encoding) {
    case TestEncoding::Zlib:
        return LayerCompression::Zlib;
    case TestEncoding::Gzip:
        return LayerCompression::Gzip;
    case TestEncoding::Zstd:
        return LayerCompression::Zstd;
    default:
        return LayerCompression::None;
    }
}

bool isBase64(TestEncoding encoding)
{
    return encoding != TestEncoding::Elements && encoding != TestEncoding::Csv;
}

QByteArray num(int64_t value)
{
    return QByteArray::number(qlonglong(value));
}

int rowsOf(const TestTileset& tileset)
{
    return (tileset.tileCount + tileset.columns - 1) / tileset.columns;
}

// The cells of the w x h block at (x, y) of a layer.
std::vector<uint32_t> blockOf(const TestLayer& layer, int x, int y, int w, int h)
{
    std::vector<uint32_t> cells;
    for (int row = y; row < y + h; ++row)
        for (int column = x; column < x + w; ++column)
            cells.push_back(layer.cells[size_t(row) * size_t(layer.width) + size_t(column)]);
    return cells;
}

QByteArray xmlCells(const std::vector<uint32_t>& cells, int width, TestEncoding encoding,
                    const QByteArray& indent)
{
    QByteArray out;
    switch (encoding) {
    case TestEncoding::Elements:
        out += "\n";
        for (uint32_t gid : cells)
            out += indent + (gid ? "<tile gid=\"" + num(gid) + "\"/>\n" : QByteArray("<tile/>\n"));
        return out + indent.chopped(1);
    case TestEncoding::Csv:
        out += "\n";
        for (size_t i = 0; i < cells.size(); ++i) {
            out += num(cells[i]);
            if (i + 1 < cells.size())
                out += ",";
            if ((i + 1) % size_t(width) == 0)
                out += "\n";
        }
        return out + indent.chopped(1);
    default:
        return "\n" + indent + encodeLayerData(cells, compressionOf(encoding)) + "\n" +
               indent.chopped(1);
    }
}

std::vector<uint32_t> parseCsvCells(const QString& text)
{
    std::vector<uint32_t> cells;
    for (const QString& field : text.split(u',')) {
        if (!field.trimmed().isEmpty())
            cells.push_back(field.trimmed().toUInt());
    }
    return cells;
}

std::vector<uint32_t> decodeCells(const QByteArray& text, LayerCompression compression,
                                  int64_t count, QString& error)
{
    std::vector<uint32_t> cells;
    decodeLayerData(text, compression, count, cells, error);
    return cells;
}

void placeBlock(std::vector<uint32_t>& layer, int layerWidth, const std::vector<uint32_t>& block,
                int x, int y, int w)
{
    for (size_t i = 0; i < block.size(); ++i) {
        const size_t row = size_t(y) + i / size_t(w);
        const size_t column = size_t(x) + i % size_t(w);
        layer.at(row * size_t(layerWidth) + column) = block[i];
    }
}

QRgb patternColour(size_t tileset, int64_t tile, int x, int y)
{
    return qRgb(int(tile & 0xff), int(((tile >> 8) & 0x1f) | int64_t(tileset << 5)), 1 + x + 3 * y);
}

}  // namespace

const char* encodingName(TestEncoding encoding)
{
    switch (encoding) {
    case TestEncoding::Elements:
        return "elements";
    case TestEncoding::Csv:
        return "csv";
    case TestEncoding::Base64:
        return "base64";
    case TestEncoding::Zlib:
        return "zlib";
    case TestEncoding::Gzip:
        return "gzip";
    case TestEncoding::Zstd:
        return "zstd";
    }
    return "";
}

std::vector<int> writtenTileIds(const TestLevel& level)
{
    const int count = level.tilesets[level.sheet].tileCount;
    std::vector<int> ids;
    for (int entry : level.tileEntries) {
        ids.push_back(entry);
        ids.push_back((entry + 1) % count);
    }
    ids.push_back(level.wangSetTile);
    ids.push_back(-1);  // the colour's tile
    ids.insert(ids.end(), level.wangTiles.begin(), level.wangTiles.end());
    return ids;
}

QByteArray writeTmx(const TestLevel& level, TestEncoding encoding)
{
    int width = 1;
    int height = 1;
    for (const TestLayer& layer : level.layers) {
        width = std::max(width, layer.width);
        height = std::max(height, layer.height);
    }
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<map version=\"1.8\" tiledversion=\"1.8.2\" orientation=\"orthogonal\" "
                     "renderorder=\"right-down\" width=\"" +
                     num(width) + "\" height=\"" + num(height) +
                     "\" tilewidth=\"8\" tileheight=\"8\" infinite=\"" + num(level.chunkSize > 0) +
                     "\" nextlayerid=\"" + num(level.layers.size() + 2) + "\" nextobjectid=\"" +
                     num(level.objectGids.size() + 1) + "\">\n";
    for (size_t t = 0; t < level.tilesets.size(); ++t) {
        const TestTileset& tileset = level.tilesets[t];
        out += " <tileset firstgid=\"" + num(tileset.firstGid) + "\" name=\"tiles" + num(t) +
               "\" tilewidth=\"" + num(tileset.tileWidth) + "\" tileheight=\"" +
               num(tileset.tileHeight) + "\" tilecount=\"" + num(tileset.tileCount) +
               "\" columns=\"" + num(tileset.columns) + "\">\n";
        out += "  <image source=\"" + tileset.image.toUtf8() + "\" width=\"" +
               num(tileset.columns * tileset.tileWidth) + "\" height=\"" +
               num(rowsOf(tileset) * tileset.tileHeight) + "\"/>\n";
        if (t == level.sheet) {
            for (int entry : level.tileEntries)
                out += "  <tile id=\"" + num(entry) +
                       "\" type=\"marked\">\n   <properties>\n    <property name=\"tile\" "
                       "type=\"int\" value=\"" +
                       num(entry) + "\"/>\n   </properties>\n   <animation>\n    <frame tileid=\"" +
                       num((entry + 1) % tileset.tileCount) +
                       "\" duration=\"100\"/>\n   </animation>\n  </tile>\n";
            out += "  <wangsets>\n   <wangset name=\"ground\" type=\"corner\" tile=\"" +
                   num(level.wangSetTile) +
                   "\">\n    <wangcolor name=\"grass\" color=\"#00ff00\" tile=\"-1\" "
                   "probability=\"1\"/>\n";
            for (int wang : level.wangTiles)
                out += "    <wangtile tileid=\"" + num(wang) + "\" wangid=\"0,1,0,1,0,1,0,1\"/>\n";
            out += "   </wangset>\n  </wangsets>\n";
        }
        out += " </tileset>\n";
    }
    QByteArray attributes = isBase64(encoding)              ? QByteArray(" encoding=\"base64\"")
                            : encoding == TestEncoding::Csv ? QByteArray(" encoding=\"csv\"")
                                                            : QByteArray();
    if (compressionOf(encoding) != LayerCompression::None)
        attributes += QByteArray(" compression=\"") + encodingName(encoding) + "\"";
    int id = 1;
    for (const TestLayer& layer : level.layers) {
        const QByteArray indent = layer.inGroup ? "  " : " ";
        if (layer.inGroup)
            out += " <group id=\"" + num(id++) + "\" name=\"group\">\n";
        out += indent + "<layer id=\"" + num(id++) + "\" name=\"" + layer.name.toUtf8() +
               "\" width=\"" + num(layer.width) + "\" height=\"" + num(layer.height) + "\">\n";
        out += indent + " <data" + attributes + ">";
        if (level.chunkSize > 0) {
            out += "\n";
            const int size = level.chunkSize;
            for (int y = 0; y < layer.height; y += size)
                for (int x = 0; x < layer.width; x += size)
                    out += indent + "  <chunk x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" +
                           num(size) + "\" height=\"" + num(size) + "\">" +
                           xmlCells(blockOf(layer, x, y, size, size), size, encoding,
                                    indent + "    ") +
                           "</chunk>\n";
            out += indent + " ";
        } else {
            out += xmlCells(layer.cells, layer.width, encoding, indent + "   ");
        }
        out += "</data>\n" + indent + "</layer>\n";
        if (layer.inGroup)
            out += " </group>\n";
    }
    if (!level.objectGids.empty()) {
        out += " <objectgroup id=\"" + num(id++) + "\" name=\"things\">\n";
        for (size_t i = 0; i < level.objectGids.size(); ++i)
            out += "  <object id=\"" + num(i + 1) + "\" gid=\"" + num(level.objectGids[i]) +
                   "\" x=\"" + num(8 * i) + "\" y=\"16\" width=\"8\" height=\"8\"/>\n";
        out += " </objectgroup>\n";
    }
    return out + "</map>\n";
}

ReadBack readTmx(const QByteArray& text)
{
    ReadBack back;
    QXmlStreamReader reader(text);
    int layerWidth = 0;
    int layerHeight = 0;
    LayerCompression compression = LayerCompression::None;
    QString encoding;
    bool sawChunk = false;
    int chunk[4] = {0, 0, 0, 0};  // x, y, width, height
    QString content;
    std::vector<uint32_t> elements;
    auto finishBlock = [&](int x, int y, int w, int h) {
        std::vector<uint32_t> cells;
        if (encoding.isEmpty())
            cells = elements;
        else if (encoding == u"csv")
            cells = parseCsvCells(content);
        else
            cells =
                decodeCells(content.trimmed().toLatin1(), compression, int64_t(w) * h, back.error);
        if (int64_t(cells.size()) != int64_t(w) * h) {
            back.error =
                QStringLiteral("a block holds %1 cells, not %2").arg(cells.size()).arg(w * h);
            return;
        }
        placeBlock(back.layers.back(), layerWidth, cells, x, y, w);
    };
    while (!reader.atEnd()) {
        reader.readNext();
        const QStringView name = reader.name();
        if (reader.isStartElement()) {
            const QXmlStreamAttributes attributes = reader.attributes();
            auto number = [&](const char* key) {
                return attributes.value(QLatin1StringView(key)).toLongLong();
            };
            content.clear();
            if (name == u"tile" && attributes.hasAttribute(QLatin1StringView("id"))) {
                back.sheetTileIds.push_back(int(number("id")));
            } else if (name == u"property" &&
                       attributes.value(QLatin1StringView("name")) == u"tile") {
                back.tileProperties.push_back(int(number("value")));
            } else if (name == u"frame" || name == u"wangtile") {
                back.sheetTileIds.push_back(int(number("tileid")));
            } else if (name == u"wangset" || name == u"wangcolor") {
                back.sheetTileIds.push_back(int(number("tile")));
            } else if (name == u"layer") {
                layerWidth = int(number("width"));
                layerHeight = int(number("height"));
                back.layers.emplace_back(size_t(layerWidth) * size_t(layerHeight), 0u);
            } else if (name == u"data") {
                encoding = attributes.value(QLatin1StringView("encoding")).toString();
                compression =
                    *layerCompressionNamed(attributes.value(QLatin1StringView("compression")));
                elements.clear();
                sawChunk = false;
            } else if (name == u"chunk") {
                sawChunk = true;
                int i = 0;
                for (const char* key : {"x", "y", "width", "height"})
                    chunk[i++] = int(number(key));
                elements.clear();
            } else if (name == u"tile") {
                elements.push_back(uint32_t(number("gid")));
            } else if (name == u"object" && attributes.hasAttribute(QLatin1StringView("gid"))) {
                back.objectGids.push_back(uint32_t(number("gid")));
            }
        } else if (reader.isCharacters()) {
            content += reader.text();
        } else if (reader.isEndElement()) {
            if (name == u"chunk")
                finishBlock(chunk[0], chunk[1], chunk[2], chunk[3]);
            else if (name == u"data" && !sawChunk)
                finishBlock(0, 0, layerWidth, layerHeight);
        }
    }
    if (reader.hasError())
        back.error = reader.errorString();
    return back;
}

QByteArray writeTmj(const TestLevel& level, TestEncoding encoding, bool indented)
{
    QJsonObject map;
    map["type"] = "map";
    map["version"] = "1.8";
    map["tiledversion"] = "1.8.2";
    map["orientation"] = "orthogonal";
    map["renderorder"] = "right-down";
    map["tilewidth"] = 8;
    map["tileheight"] = 8;
    map["compressionlevel"] = -1;
    map["infinite"] = level.chunkSize > 0;
    QJsonArray tilesets;
    for (size_t t = 0; t < level.tilesets.size(); ++t) {
        const TestTileset& tileset = level.tilesets[t];
        QJsonObject object{{"firstgid", qint64(tileset.firstGid)},
                           {"name", QStringLiteral("tiles%1").arg(t)},
                           {"image", tileset.image},
                           {"imagewidth", tileset.columns * tileset.tileWidth},
                           {"imageheight", rowsOf(tileset) * tileset.tileHeight},
                           {"margin", 0},
                           {"spacing", 0},
                           {"tilecount", tileset.tileCount},
                           {"columns", tileset.columns},
                           {"tilewidth", tileset.tileWidth},
                           {"tileheight", tileset.tileHeight}};
        if (t == level.sheet) {
            QJsonArray tiles;
            for (int entry : level.tileEntries)
                tiles.append(QJsonObject{
                    {"id", entry},
                    {"type", "marked"},
                    {"properties",
                     QJsonArray{QJsonObject{{"name", "tile"}, {"type", "int"}, {"value", entry}}}},
                    {"animation",
                     QJsonArray{QJsonObject{{"tileid", (entry + 1) % tileset.tileCount},
                                            {"duration", 100}}}}});
            object["tiles"] = tiles;
            QJsonArray wangTiles;
            for (int wang : level.wangTiles)
                wangTiles.append(
                    QJsonObject{{"tileid", wang}, {"wangid", QJsonArray{0, 1, 0, 1, 0, 1, 0, 1}}});
            object["wangsets"] = QJsonArray{QJsonObject{
                {"name", "ground"},
                {"type", "corner"},
                {"tile", level.wangSetTile},
                {"colors",
                 QJsonArray{QJsonObject{
                     {"name", "grass"}, {"color", "#00ff00"}, {"tile", -1}, {"probability", 1}}}},
                {"wangtiles", wangTiles}}};
        }
        tilesets.append(object);
    }
    map["tilesets"] = tilesets;

    auto cellsValue = [&](const std::vector<uint32_t>& cells) -> QJsonValue {
        if (isBase64(encoding))
            return QString::fromLatin1(encodeLayerData(cells, compressionOf(encoding)));
        QJsonArray array;
        for (uint32_t gid : cells)
            array.append(qint64(gid));
        return array;
    };
    QJsonArray layers;
    int id = 1;
    int width = 1;
    int height = 1;
    for (const TestLayer& layer : level.layers) {
        width = std::max(width, layer.width);
        height = std::max(height, layer.height);
        QJsonObject object{{"id", id++},
                           {"name", layer.name},
                           {"type", "tilelayer"},
                           {"width", layer.width},
                           {"height", layer.height},
                           {"x", 0},
                           {"y", 0},
                           {"opacity", 1},
                           {"visible", true}};
        if (isBase64(encoding)) {
            object["encoding"] = "base64";
            if (compressionOf(encoding) != LayerCompression::None)
                object["compression"] = encodingName(encoding);
        }
        if (level.chunkSize > 0) {
            QJsonArray chunks;
            const int size = level.chunkSize;
            for (int y = 0; y < layer.height; y += size)
                for (int x = 0; x < layer.width; x += size)
                    chunks.append(
                        QJsonObject{{"x", x},
                                    {"y", y},
                                    {"width", size},
                                    {"height", size},
                                    {"data", cellsValue(blockOf(layer, x, y, size, size))}});
            object["chunks"] = chunks;
        } else {
            object["data"] = cellsValue(layer.cells);
        }
        if (layer.inGroup)
            object = QJsonObject{
                {"id", id++}, {"name", "group"}, {"type", "group"}, {"layers", QJsonArray{object}}};
        layers.append(object);
    }
    if (!level.objectGids.empty()) {
        QJsonArray objects;
        for (size_t i = 0; i < level.objectGids.size(); ++i)
            objects.append(QJsonObject{{"id", int(i + 1)},
                                       {"gid", qint64(level.objectGids[i])},
                                       {"x", int(8 * i)},
                                       {"y", 16},
                                       {"width", 8},
                                       {"height", 8}});
        layers.append(QJsonObject{
            {"id", id++}, {"name", "things"}, {"type", "objectgroup"}, {"objects", objects}});
    }
    map["layers"] = layers;
    map["width"] = width;
    map["height"] = height;
    return QJsonDocument(map).toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact);
}

ReadBack readTmj(const QByteArray& text)
{
    ReadBack back;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (document.isNull()) {
        back.error = parseError.errorString();
        return back;
    }
    const QJsonObject map = document.object();
    for (const QJsonValue& tileset : map["tilesets"].toArray()) {
        for (const QJsonValue& tile : tileset["tiles"].toArray()) {
            back.sheetTileIds.push_back(tile["id"].toInt());
            for (const QJsonValue& property : tile["properties"].toArray())
                if (property["name"].toString() == u"tile")
                    back.tileProperties.push_back(property["value"].toInt());
            for (const QJsonValue& frame : tile["animation"].toArray())
                back.sheetTileIds.push_back(frame["tileid"].toInt());
        }
        for (const QJsonValue& wang : tileset["wangsets"].toArray()) {
            back.sheetTileIds.push_back(wang["tile"].toInt());
            for (const QJsonValue& colour : wang["colors"].toArray())
                back.sheetTileIds.push_back(colour["tile"].toInt());
            for (const QJsonValue& wangTile : wang["wangtiles"].toArray())
                back.sheetTileIds.push_back(wangTile["tileid"].toInt());
        }
    }
    auto cellsOf = [&](const QJsonObject& holder, const QJsonObject& layer) {
        const int64_t count = holder["width"].toInteger() * holder["height"].toInteger();
        const QJsonValue data = holder["data"];
        if (data.isArray()) {
            std::vector<uint32_t> cells;
            for (const QJsonValue& gid : data.toArray())
                cells.push_back(uint32_t(gid.toInteger()));
            return cells;
        }
        return decodeCells(data.toString().toLatin1(),
                           *layerCompressionNamed(layer["compression"].toString()), count,
                           back.error);
    };
    std::function<void(const QJsonArray&)> walk = [&](const QJsonArray& layers) {
        for (const QJsonValue& value : layers) {
            const QJsonObject layer = value.toObject();
            const QString type = layer["type"].toString();
            if (type == u"group") {
                walk(layer["layers"].toArray());
            } else if (type == u"objectgroup") {
                for (const QJsonValue& object : layer["objects"].toArray())
                    back.objectGids.push_back(uint32_t(object["gid"].toInteger()));
            } else if (type == u"tilelayer") {
                const int width = layer["width"].toInt();
                back.layers.emplace_back(size_t(width * layer["height"].toInt()), 0u);
                if (layer.contains("chunks")) {
                    for (const QJsonValue& chunk : layer["chunks"].toArray())
                        placeBlock(back.layers.back(), width, cellsOf(chunk.toObject(), layer),
                                   chunk["x"].toInt(), chunk["y"].toInt(), chunk["width"].toInt());
                } else {
                    back.layers.back() = cellsOf(layer, layer);
                }
            }
        }
    };
    walk(map["layers"].toArray());
    return back;
}

TileRemap randomRemap(int columns, int rows, std::mt19937& random)
{
    TileRemap remap;
    remap.columns = columns;
    remap.newIndexOf.resize(size_t(columns) * size_t(rows));
    std::iota(remap.newIndexOf.begin(), remap.newIndexOf.end(), 0);
    std::shuffle(remap.newIndexOf.begin(), remap.newIndexOf.end(), random);
    return remap;
}

TestLevel randomLevel(const TileRemap& remap, int columns, std::mt19937& random, int chunkSize)
{
    auto below = [&](int n) { return int(random() % uint32_t(n)); };
    TestLevel level;
    const int others = below(4);
    level.sheet = size_t(below(others + 1));
    int64_t firstGid = 1 + below(3);
    for (int t = 0; t <= others; ++t) {
        TestTileset tileset;
        tileset.firstGid = firstGid;
        if (size_t(t) == level.sheet) {
            tileset.tileCount = remap.tileCount();
            tileset.columns = columns;
            tileset.image = QStringLiteral("sheet.png");
        } else {
            tileset.tileCount = 1 + below(20);
            tileset.columns = 1 + below(4);
            tileset.image = QStringLiteral("other%1.png").arg(t);
        }
        level.tilesets.push_back(tileset);
        firstGid += tileset.tileCount + below(3);  // gaps between the ranges may stay unused
    }
    auto randomGid = [&](bool allowEmpty) -> uint32_t {
        const int kind = below(10);
        if (allowEmpty && kind < 3)
            return 0;
        size_t t = kind < 7 || others == 0 ? level.sheet : size_t(below(others + 1));
        const TestTileset& tileset = level.tilesets[t];
        uint32_t gid = uint32_t(tileset.firstGid + below(tileset.tileCount));
        if (below(2))
            gid |= uint32_t(below(16)) << 28;
        return gid;
    };
    const int layers = 1 + below(3);
    for (int i = 0; i < layers; ++i) {
        TestLayer layer;
        layer.name = QStringLiteral("layer %1").arg(i);
        layer.width = chunkSize > 0 ? chunkSize * (1 + below(3)) : 1 + below(12);
        layer.height = chunkSize > 0 ? chunkSize * (1 + below(3)) : 1 + below(12);
        layer.inGroup = below(3) == 0;
        for (int c = 0; c < layer.width * layer.height; ++c)
            layer.cells.push_back(randomGid(true));
        level.layers.push_back(layer);
    }
    const int objects = below(5);
    for (int i = 0; i < objects; ++i)
        level.objectGids.push_back(randomGid(false));
    level.chunkSize = chunkSize;
    const int count = remap.tileCount();
    std::vector<int> ids(size_t(count), 0);
    std::iota(ids.begin(), ids.end(), 0);
    std::shuffle(ids.begin(), ids.end(), random);
    level.tileEntries.assign(ids.begin(), ids.begin() + std::min(count, below(6)));
    for (int i = below(4); i > 0; --i)
        level.wangTiles.push_back(below(count));
    level.wangSetTile = below(2) ? below(count) : -1;
    return level;
}

QImage renderCells(const std::vector<uint32_t>& cells, int width,
                   const std::vector<TestTileset>& tilesets, size_t sheet,
                   const std::vector<int32_t>& positionHolds)
{
    const int height = width > 0 ? int(cells.size()) / width : 0;
    QImage image(std::max(width, 1) * 3, std::max(height, 1) * 3, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (size_t i = 0; i < cells.size(); ++i) {
        const uint32_t gid = cells[i];
        const int64_t id = gid & ~kFlags;
        if (id == 0)
            continue;
        size_t owner = tilesets.size();
        for (size_t t = 0; t < tilesets.size(); ++t)
            if (tilesets[t].firstGid <= id &&
                (owner == tilesets.size() || tilesets[t].firstGid > tilesets[owner].firstGid))
                owner = t;
        if (owner == tilesets.size())
            continue;
        int64_t tile = id - tilesets[owner].firstGid;
        if (owner == sheet)
            tile = positionHolds.at(size_t(tile));
        const int cellX = int(i % size_t(width)) * 3;
        const int cellY = int(i / size_t(width)) * 3;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                // The tile is flipped diagonally first, then horizontally and vertically, so a
                // shown pixel undoes the mirrors before the diagonal; the rotation bit inverts.
                int sx = x;
                int sy = y;
                if (gid & 0x80000000u)
                    sx = 2 - sx;
                if (gid & 0x40000000u)
                    sy = 2 - sy;
                if (gid & 0x20000000u)
                    std::swap(sx, sy);
                QRgb colour = patternColour(owner, tile, sx, sy);
                if (gid & 0x10000000u)
                    colour = qRgb(255 - qRed(colour), 255 - qGreen(colour), 255 - qBlue(colour));
                image.setPixel(cellX + x, cellY + y, colour);
            }
        }
    }
    return image;
}

std::vector<int32_t> identityPositions(int count)
{
    std::vector<int32_t> positions(size_t(count), 0);
    std::iota(positions.begin(), positions.end(), 0);
    return positions;
}

std::vector<int32_t> positionsAfter(const TileRemap& remap)
{
    std::vector<int32_t> positions(remap.newIndexOf.size(), 0);
    for (size_t tile = 0; tile < remap.newIndexOf.size(); ++tile)
        positions[size_t(remap.newIndexOf[tile])] = int32_t(tile);
    return positions;
}

QImage makePatternSheet(int columns, int rows, TileShape tile, bool grid, QRgb gridColour)
{
    const TileShape pitch = tile.grown(grid ? 1 : 0);
    QImage image(columns * pitch.width, rows * pitch.height, QImage::Format_RGB32);
    image.fill(gridColour);
    for (int t = 0; t < columns * rows; ++t)
        for (int y = 0; y < tile.height; ++y)
            for (int x = 0; x < tile.width; ++x)
                image.setPixel((t % columns) * pitch.width + x, (t / columns) * pitch.height + y,
                               qRgb((t * 29) & 0xff, 8 + x * 30, 8 + y * 30 + (t >> 3) % 4));
    return image;
}

QImage rearrangedSheet(const QImage& sheet, const TileRemap& remap, int columns, TileShape tile,
                       TileShape pitch)
{
    QImage after = sheet.copy();
    QPainter painter(&after);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (size_t t = 0; t < remap.newIndexOf.size(); ++t) {
        const int to = remap.newIndexOf[t];
        painter.drawImage((to % columns) * pitch.width, (to / columns) * pitch.height, sheet,
                          int(t % size_t(columns)) * pitch.width,
                          int(t / size_t(columns)) * pitch.height, tile.width, tile.height);
    }
    return after;
}
