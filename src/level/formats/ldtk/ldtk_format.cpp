#include "level/formats/ldtk/ldtk_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <map>
#include <set>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "level/json_scanner.h"
#include "level/level_limits.h"
#include "level/sheet_choice.h"

namespace
{

using Value = JsonScanner::Value;
using Member = JsonScanner::Member;

// A whole number in the text and where it stands.
struct Number {
    Span span;
    int64_t value = 0;
    bool valid() const { return span.valid(); }
};

// A tile number in a definition: a rule's tile, an enum tag, a saved selection, an older
// entity's or enum value's tile.
struct IdSite {
    int64_t tilesetUid = -1;
    Number id;
    QString where;
    int list = -1; // a list that lets dropped tiles go (IdList), or -1
};

// A list of tiles where a dropped tile may simply leave and merged tiles stand once: an enum
// tag's tiles, a saved selection.
struct IdList {
    Span elements;        // from the first element to the end of the last
    QByteArray separator; // as written between the first two
};

// The tiles a stamp rule draws as one block, laid out as they lie in the tileset: a range of ids.
struct Stamp {
    size_t first = 0;
    size_t end = 0;
    QString where;
};

// A tile of a layer: its number, its place in the image and its flips.
struct TileSite {
    int64_t tilesetUid = -1;
    Number t;
    Number srcX;
    Number srcY;
    Number f; // invalid when the tile leaves it out (no flip)
    qsizetype at = 0;
    qsizetype end = 0; // just after the tile's object, where a missing f goes
    int layer = 0;     // index into layerNames
    int index = 0;     // in its array
    bool autoTile = false;
};

// A rectangle of a tileset in pixels: an entity's tile, a field's value, an icon.
struct RectSite {
    Number uid;
    Number x;
    Number y;
    Number w;
    Number h;
    qsizetype at = 0;
    QString owner; // the entity or definition that shows it
    // A Tile field's value as the editor keeps it, "x,y,w,h" in a string: the text inside the
    // quotes (the numbers then have no span of their own); invalid for an object.
    Span text;
};

struct LdtkTilesetSite {
    TilesetFacts facts;
    qsizetype at = 0;
    QString where;
    Span spacing;
    Span padding;
    Span pxWid;
    Span pxHei;
    Span cWid;
    Span cHei;
    Span opaqueTiles; // inside the quotes; invalid when absent or null
    Span averageColors;
    TilesetSite customData;         // its entries, which move as a TSJ tileset's tiles[] do
    std::optional<Problem> problem; // matters only when the tileset shows the sheet
};

struct Sites {
    bool isProject = false;
    std::vector<LdtkTilesetSite> tilesets;
    std::vector<IdSite> ids;
    std::vector<IdList> lists;
    std::vector<Stamp> stamps;
    std::vector<TileSite> tiles;
    std::vector<QString> layerNames;
    std::vector<RectSite> rects;
    QStringList levelFiles;      // a project's levels kept in files of their own (absolute)
    std::set<int64_t> drawnFrom; // a level file: the tilesets its layers and rectangles name
};

QString joined(const QString& first, const QString& second)
{
    return first.isEmpty() ? second : first + QStringLiteral(", ") + second;
}

class Scanner
{
  public:
    Scanner(const QByteArray& bytes, const QString& folder, Sites& sites)
        : bytes_(bytes), json_(bytes), folder_(folder), sites_(sites)
    {
    }

    bool run(Problem& problem, bool tilesetsOnly = false)
    {
        qsizetype errorAt = 0;
        QString error;
        if (!json_.check(errorAt, error)) {
            problem = {errorAt, QString(), QStringLiteral("the JSON is malformed (%1)").arg(error)};
            return false;
        }
        const Value root = json_.root();
        const JsonFields fields(json_, root);
        const Value defs = fields.value(u"defs");
        if (root.kind == '{' && defs.kind == '{') {
            sites_.isProject = true;
            const JsonFields definitions(json_, defs);
            json_.elements(definitions.value(u"tilesets"), [&](int64_t index, Value tileset) {
                addTileset(tileset, QStringLiteral("defs.tilesets[%1]").arg(index));
            });
            if (tilesetsOnly)
                return true;
            json_.elements(definitions.value(u"layers"), [&](int64_t index, Value layer) {
                addLayerDefinition(layer, QStringLiteral("defs.layers[%1]").arg(index));
            });
            addOlderTiles(definitions);
            json_.elements(fields.value(u"levels"), [&](int64_t index, Value level) {
                addLevel(level, QStringLiteral("levels[%1]").arg(index));
            });
            json_.elements(fields.value(u"worlds"), [&](int64_t world, Value value) {
                json_.elements(JsonFields(json_, value).value(u"levels"), [&](int64_t index,
                                                                              Value level) {
                    addLevel(level, QStringLiteral("worlds[%1].levels[%2]").arg(world).arg(index));
                });
            });
        } else if (root.kind == '{' && fields.find(u"layerInstances") && !tilesetsOnly) {
            addLevel(root, QString());
        } else {
            problem = {root.span.begin, QString(),
                       QStringLiteral("it is neither an LDtk project nor an LDtk level")};
            return false;
        }
        walkRects(root, QString());
        return true;
    }

  private:
    QByteArrayView text(Span span) const
    {
        return QByteArrayView(bytes_).sliced(span.begin, span.size());
    }

    Number number(Value value) const
    {
        Number result;
        if (json_.integer(value, result.value))
            result.span = value.span;
        return result;
    }

    // A string's text, or empty for null and anything else.
    QString string(Value value) const
    {
        return value.kind == '"' ? json_.string(value) : QString();
    }

    void readNumber(LdtkTilesetSite& site, Value value, const QString& key, int64_t& target,
                    Span& span)
    {
        if (!value.valid())
            return;
        span = value.span;
        if (json_.integer(value, target) && target >= 0 && target <= INT32_MAX)
            return;
        target = -1;
        span = Span();
        if (!site.problem)
            site.problem = Problem{value.span.begin, joined(site.where, key),
                                   QStringLiteral("%1 is not a whole number")
                                       .arg(quotedPath(QString::fromUtf8(text(value.span))))};
    }

    // A list of ids whose dropped tiles leave it.
    void addIdList(int64_t uid, Value array, const QString& where)
    {
        IdList list;
        list.separator = ",";
        const size_t first = sites_.ids.size();
        json_.elements(array, [&](int64_t index, Value id) {
            if (index == 0)
                list.elements.begin = id.span.begin;
            else if (index == 1)
                list.separator = text({list.elements.end, id.span.begin}).toByteArray();
            list.elements.end = id.span.end;
        });
        addIds(uid, array, where);
        if (!list.elements.valid())
            return;
        for (size_t i = first; i < sites_.ids.size(); ++i)
            sites_.ids[i].list = int(sites_.lists.size());
        sites_.lists.push_back(list);
    }

    void addIds(int64_t uid, Value array, const QString& where)
    {
        json_.elements(array, [&](int64_t index, Value id) {
            if (id.kind == '[') { // a rule's rectangles of tiles
                addIds(uid, id, QStringLiteral("%1[%2]").arg(where, QString::number(index)));
                return;
            }
            addId(uid, id, QStringLiteral("%1[%2]").arg(where, QString::number(index)));
        });
    }

    void addId(int64_t uid, Value id, const QString& where)
    {
        if (id.kind == 'n' || !id.valid())
            return;
        Number number;
        number.span = id.span;
        if (!json_.integer(id, number.value))
            number.value = -1; // refused when the tileset is the sheet
        sites_.ids.push_back({uid, number, where});
    }

    void addTileset(Value object, const QString& where)
    {
        if (object.kind != '{')
            return;
        const JsonFields fields(json_, object);
        LdtkTilesetSite site;
        site.at = object.span.begin;
        TilesetFacts& facts = site.facts;
        facts.folder = folder_;
        facts.name = string(fields.value(u"identifier"));
        facts.image = string(fields.value(u"relPath"));
        site.where = QStringLiteral("%1 (tileset %2)").arg(where, quotedPath(facts.name));
        Span uidSpan;
        readNumber(site, fields.value(u"uid"), QStringLiteral("uid"), facts.key, uidSpan);
        readNumber(site, fields.value(u"tileGridSize"), QStringLiteral("tileGridSize"),
                   facts.tileWidth, uidSpan);
        facts.tileHeight = facts.tileWidth;
        readNumber(site, fields.value(u"spacing"), QStringLiteral("spacing"), facts.spacing,
                   site.spacing);
        readNumber(site, fields.value(u"padding"), QStringLiteral("padding"), facts.margin,
                   site.padding);
        readNumber(site, fields.value(u"pxWid"), QStringLiteral("pxWid"), facts.imageWidth,
                   site.pxWid);
        readNumber(site, fields.value(u"pxHei"), QStringLiteral("pxHei"), facts.imageHeight,
                   site.pxHei);
        int64_t rows = -1;
        readNumber(site, fields.value(u"__cWid"), QStringLiteral("__cWid"), facts.columns,
                   site.cWid);
        readNumber(site, fields.value(u"__cHei"), QStringLiteral("__cHei"), rows, site.cHei);
        if (facts.spacing < 0)
            facts.spacing = 0;
        if (facts.margin < 0)
            facts.margin = 0;
        if (facts.tileWidth <= 0 && !site.problem)
            site.problem =
                Problem{site.at, site.where, QStringLiteral("the tileset gives no tileGridSize")};
        // LDtk counts its tiles over the columns and rows it states.
        if (facts.columns >= 0 && rows >= 0)
            facts.tileCount = facts.columns * rows;

        const int64_t uid = facts.key;
        addJsonArrayEntries(json_, site.customData, fields.value(u"customData"), 0, u"tileId");
        json_.elements(fields.value(u"enumTags"), [&](int64_t index, Value tag) {
            addIdList(
                uid, JsonFields(json_, tag).value(u"tileIds"),
                QStringLiteral("%1, enumTags[%2].tileIds").arg(site.where, QString::number(index)));
        });
        json_.elements(fields.value(u"savedSelections"), [&](int64_t index, Value selection) {
            addIdList(uid, JsonFields(json_, selection).value(u"ids"),
                      QStringLiteral("%1, savedSelections[%2].ids")
                          .arg(site.where, QString::number(index)));
        });
        const Value cache = fields.value(u"cachedPixelData");
        if (cache.kind == '{') {
            const JsonFields pixels(json_, cache);
            if (const Value opaque = pixels.value(u"opaqueTiles"); opaque.kind == '"')
                site.opaqueTiles = json_.stringInside(opaque);
            if (const Value colors = pixels.value(u"averageColors"); colors.kind == '"')
                site.averageColors = json_.stringInside(colors);
        }
        sites_.tilesets.push_back(site);
    }

    void addLayerDefinition(Value object, const QString& where)
    {
        const JsonFields fields(json_, object);
        int64_t uid = -1;
        if (!json_.integer(fields.value(u"tilesetDefUid"), uid))
            json_.integer(fields.value(u"autoTilesetDefUid"), uid); // before LDtk 1.2
        const QString name = QStringLiteral("%1 (layer %2)")
                                 .arg(where, quotedPath(string(fields.value(u"identifier"))));
        json_.elements(fields.value(u"autoRuleGroups"), [&](int64_t group, Value value) {
            json_.elements(JsonFields(json_, value).value(u"rules"), [&](int64_t index,
                                                                         Value rule) {
                const JsonFields ruleFields(json_, rule);
                const QString at = QStringLiteral("%1, autoRuleGroups[%2].rules[%3]")
                                       .arg(name, QString::number(group), QString::number(index));
                // Each rectangle of tiles (before LDtk 1.4 all the tiles) is one stamp.
                const bool stamp = string(ruleFields.value(u"tileMode")) == u"Stamp";
                const Value rects = ruleFields.value(u"tileRectsIds");
                json_.elements(rects, [&](int64_t index, Value rect) {
                    const size_t first = sites_.ids.size();
                    const QString name =
                        QStringLiteral("%1.tileRectsIds[%2]").arg(at, QString::number(index));
                    if (rect.kind == '[')
                        addIds(uid, rect, name);
                    else
                        addId(uid, rect, name);
                    if (stamp)
                        sites_.stamps.push_back({first, sites_.ids.size(), at});
                });
                const size_t first = sites_.ids.size();
                addIds(uid, ruleFields.value(u"tileIds"), at + QStringLiteral(".tileIds"));
                if (stamp)
                    sites_.stamps.push_back({first, sites_.ids.size(), at});
            });
        });
    }

    // Tiles as files before LDtk 1.2 and 1.4 name them: an entity's tileId in its tilesetId, an
    // enum value's tileId and __tileSrcRect [x, y, w, h] in the enum's iconTilesetUid.
    void addOlderTiles(const JsonFields& definitions)
    {
        json_.elements(definitions.value(u"entities"), [&](int64_t index, Value entity) {
            const JsonFields fields(json_, entity);
            int64_t uid = -1;
            if (json_.integer(fields.value(u"tilesetId"), uid))
                addId(uid, fields.value(u"tileId"),
                      QStringLiteral("defs.entities[%1] (entity %2), tileId")
                          .arg(index)
                          .arg(quotedPath(string(fields.value(u"identifier")))));
        });
        for (const char16_t* key : {u"enums", u"externalEnums"}) {
            json_.elements(definitions.value(key), [&](int64_t index, Value value) {
                const JsonFields fields(json_, value);
                int64_t uid = -1;
                if (!json_.integer(fields.value(u"iconTilesetUid"), uid))
                    return;
                const QString name = string(fields.value(u"identifier"));
                const QString where =
                    QStringLiteral("defs.%1[%2] (enum %3)")
                        .arg(QString::fromUtf16(key), QString::number(index), quotedPath(name));
                json_.elements(fields.value(u"values"), [&](int64_t at, Value enumValue) {
                    const JsonFields valueFields(json_, enumValue);
                    addId(uid, valueFields.value(u"tileId"),
                          QStringLiteral("%1, values[%2].tileId").arg(where, QString::number(at)));
                    std::vector<Number> sides;
                    json_.elements(valueFields.value(u"__tileSrcRect"),
                                   [&](int64_t, Value side) { sides.push_back(number(side)); });
                    if (sides.size() == 4)
                        sites_.rects.push_back({{{}, uid},
                                                sides[0],
                                                sides[1],
                                                sides[2],
                                                sides[3],
                                                enumValue.span.begin,
                                                name,
                                                {}});
                });
            });
        }
    }

    void addLevel(Value object, const QString& where)
    {
        const JsonFields fields(json_, object);
        const QString name = string(fields.value(u"identifier"));
        const QString level = where.isEmpty()
                                  ? QStringLiteral("level %1").arg(quotedPath(name))
                                  : QStringLiteral("%1 (level %2)").arg(where, quotedPath(name));
        const Value layers = fields.value(u"layerInstances");
        const QString external = string(fields.value(u"externalRelPath"));
        if (sites_.isProject && layers.kind != '[' && !external.isEmpty())
            sites_.levelFiles << pathFrom(folder_, external);
        json_.elements(layers, [&](int64_t index, Value layer) {
            addLayer(layer, QStringLiteral("%1, layerInstances[%2]").arg(level).arg(index));
        });
    }

    void addLayer(Value object, const QString& where)
    {
        const JsonFields fields(json_, object);
        int64_t uid = -1;
        if (!json_.integer(fields.value(u"overrideTilesetUid"), uid) &&
            !json_.integer(fields.value(u"__tilesetDefUid"), uid))
            return; // draws no tiles
        if (!sites_.isProject)
            sites_.drawnFrom.insert(uid);
        const int layer = int(sites_.layerNames.size());
        sites_.layerNames.push_back(
            QStringLiteral("%1 (layer %2)")
                .arg(where, quotedPath(string(fields.value(u"__identifier")))));
        for (const bool autoTiles : {false, true}) {
            json_.elements(fields.value(autoTiles ? u"autoLayerTiles" : u"gridTiles"),
                           [&](int64_t index, Value tile) {
                               addTile(uid, layer, int(index), autoTiles, tile);
                           });
        }
    }

    void addTile(int64_t uid, int layer, int index, bool autoTile, Value object)
    {
        TileSite tile;
        tile.tilesetUid = uid;
        tile.layer = layer;
        tile.index = index;
        tile.autoTile = autoTile;
        tile.at = object.span.begin;
        tile.end = object.span.end - 1;
        // Tiles come by the hundred thousand: their few keys are told apart by their bytes.
        json_.members(object, [&](const Member& member) {
            const QByteArrayView key = text(member.keyText);
            if (key == "t") {
                tile.t = number(member.value);
            } else if (key == "f") {
                tile.f = number(member.value);
                if (!tile.f.valid())
                    tile.f.value = -1;
            } else if (key == "src") {
                json_.elements(member.value, [&](int64_t i, Value coordinate) {
                    if (i == 0)
                        tile.srcX = number(coordinate);
                    else if (i == 1)
                        tile.srcY = number(coordinate);
                    else
                        tile.srcY = Number(); // more than two: unreadable
                });
            }
        });
        if (tile.f.value < 0)
            tile.f = {{-2, -2}, -1}; // present but unreadable
        sites_.tiles.push_back(tile);
    }

    // Finds every tileset rectangle: any object with a tileset uid and a place and size in
    // pixels, wherever LDtk keeps one (entity and enum definitions, rule group icons, entities,
    // field values and their defaults). owner is the nearest enclosing object's identifier.
    void walkRects(Value value, const QString& owner)
    {
        if (value.kind == '[') {
            json_.elements(value, [&](int64_t, Value element) {
                if (element.kind == '{' || element.kind == '[')
                    walkRects(element, owner);
            });
            return;
        }
        if (value.kind != '{')
            return;
        const JsonFields fields(json_, value);
        QString name = owner;
        if (const Value id = fields.value(u"__identifier"); id.kind == '"')
            name = json_.string(id);
        else if (const Value id2 = fields.value(u"identifier"); id2.kind == '"')
            name = json_.string(id2);
        addEditorRects(fields, name);
        // In LDtk 1.0 files an entity definition's tileRect leaves its tileset to tilesetId.
        if (const Value old = fields.value(u"tileRect");
            old.kind == '{' && !JsonFields(json_, old).find(u"tilesetUid"))
            addRect(number(fields.value(u"tilesetId")), JsonFields(json_, old), {}, old, name);
        if (fields.find(u"tilesetUid")) {
            // LDtk 1.0 files keep a tile rectangle as srcRect [x, y, w, h].
            std::vector<Number> sides;
            json_.elements(fields.value(u"srcRect"),
                           [&](int64_t, Value side) { sides.push_back(number(side)); });
            if (sides.size() == 4 || (fields.find(u"x") && fields.find(u"y") && fields.find(u"w") &&
                                      fields.find(u"h"))) {
                addRect(number(fields.value(u"tilesetUid")), fields, sides, value, name);
                return;
            }
        }
        for (const Member& member : fields.all()) {
            if (member.value.kind != '{' && member.value.kind != '[')
                continue;
            // The tiles of layers and the cells of IntGrid layers hold no rectangle.
            if (member.key == u"gridTiles" || member.key == u"autoLayerTiles" ||
                member.key == u"intGridCsv" || member.key == u"tilesets")
                continue;
            walkRects(member.value, name);
        }
    }

    // A rectangle of the tileset uid: its sides, or else the object's x, y, w and h.
    void addRect(Number uid, const JsonFields& fields, const std::vector<Number>& sides,
                 Value object, const QString& owner)
    {
        if (!uid.valid())
            return;
        RectSite rect{uid, {}, {}, {}, {}, object.span.begin, owner, {}};
        Number* targets[] = {&rect.x, &rect.y, &rect.w, &rect.h};
        const char16_t* keys[] = {u"x", u"y", u"w", u"h"};
        for (size_t i = 0; i < 4; ++i)
            *targets[i] = sides.size() == 4 ? sides[i] : number(fields.value(keys[i]));
        if (!sites_.isProject)
            sites_.drawnFrom.insert(uid.value);
        sites_.rects.push_back(rect);
    }

    // The editor's own copies of Tile field values, "x,y,w,h" strings: a field instance's
    // realEditorValues (of the tileset its __value names) and a field definition's default.
    void addEditorRects(const JsonFields& fields, const QString& owner)
    {
        int64_t uid = -1;
        std::vector<Value> params;
        auto paramsOf = [&](Value value) {
            const Value list = JsonFields(json_, value).value(u"params");
            json_.elements(list, [&](int64_t index, Value param) {
                if (index == 0 && param.kind == '"')
                    params.push_back(param);
            });
        };
        const QString type = string(fields.value(u"__type"));
        if (type == u"Tile" || type == u"Array<Tile>") {
            Value value = fields.value(u"__value");
            if (value.kind == '[')
                json_.elements(value, [&](int64_t index, Value element) {
                    if (index == 0)
                        value = element;
                });
            if (value.kind != '{' ||
                !json_.integer(JsonFields(json_, value).value(u"tilesetUid"), uid))
                return;
            json_.elements(fields.value(u"realEditorValues"),
                           [&](int64_t, Value element) { paramsOf(element); });
        } else if (json_.integer(fields.value(u"tilesetUid"), uid) &&
                   fields.value(u"defaultOverride").kind == '{') {
            paramsOf(fields.value(u"defaultOverride"));
        }
        for (const Value param : params) {
            const QStringList parts = json_.string(param).split(u',');
            RectSite rect;
            int64_t* numbers[] = {&rect.x.value, &rect.y.value, &rect.w.value, &rect.h.value};
            bool readable = parts.size() == 4;
            for (qsizetype i = 0; readable && i < 4; ++i)
                *numbers[i] = parts[i].toLongLong(&readable);
            if (!readable)
                continue; // not a rectangle: some other value
            rect.uid.value = uid;
            rect.at = param.span.begin;
            rect.owner = owner;
            rect.text = json_.stringInside(param);
            if (!sites_.isProject)
                sites_.drawnFrom.insert(uid);
            sites_.rects.push_back(rect);
        }
    }

    const QByteArray& bytes_;
    JsonScanner json_;
    QString folder_;
    Sites& sites_;
};

// How one of the sheet's tilesets stands before and after the remap.
struct SheetTileset {
    const LdtkTilesetSite* site = nullptr;
    TilesetFacts facts;
    int64_t count = 0;
    int64_t columns = 0;
    int64_t pitch = 0; // tile size and spacing
    // Afterwards.
    int64_t newPadding = 0;
    int64_t newSpacing = 0;
    int64_t newColumns = 0;
    int64_t newRows = 0;
    int64_t newWidth = 0;
    int64_t newHeight = 0;

    int64_t x(int64_t tile) const { return facts.margin + tile % columns * pitch; }
    int64_t y(int64_t tile) const { return facts.margin + tile / columns * pitch; }
    int64_t newX(int64_t tile) const
    {
        return newPadding + tile % newColumns * (facts.tileWidth + newSpacing);
    }
    int64_t newY(int64_t tile) const
    {
        return newPadding + tile / newColumns * (facts.tileWidth + newSpacing);
    }
};

// LDtk's flip bits: 1 mirrors left to right, 2 top to bottom.
TileSymmetry symmetryOfFlips(int64_t f)
{
    return TileSymmetry((f & 1 ? TileSymmetry::kH : 0) | (f & 2 ? TileSymmetry::kV : 0));
}

int64_t flipsOf(TileSymmetry symmetry)
{
    return (symmetry.bits() & TileSymmetry::kH ? 1 : 0) |
           (symmetry.bits() & TileSymmetry::kV ? 2 : 0);
}

// Rewrites the per-tile cache: one unit of `width` characters per tile, in tile order, for the
// `units` tiles of the columns and rows the tileset will state (the rest of a packed sheet's last
// row is empty). A cache that does not hold one unit per tile is left for LDtk to renew.
void remapCache(const QByteArray& bytes, Span span, int width, int64_t units,
                const TileRemap& remap, TextSplice& splice)
{
    if (!span.valid() || span.size() != qsizetype(remap.tileCount()) * width)
        return;
    const QByteArrayView old = QByteArrayView(bytes).sliced(span.begin, span.size());
    QByteArray now(qsizetype(std::max<int64_t>(units, remap.newTileCount())) * width, '0');
    std::vector<bool> filled(size_t(remap.newTileCount()), false);
    for (size_t tile = 0; tile < remap.newIndexOf.size(); ++tile) {
        const int32_t to = remap.newIndexOf[tile];
        if (to < 0 || filled[size_t(to)])
            continue; // a merged tile keeps the first original's data
        filled[size_t(to)] = true;
        std::copy_n(old.data() + tile * width, width, now.data() + qsizetype(to) * width);
    }
    if (now != old)
        splice.replace(span, now);
}

class Remapper
{
  public:
    Remapper(const QByteArray& bytes, const Sites& sites, const TileRemap& remap,
             LevelBytesResult& result, TileUse* use)
        : bytes_(bytes), sites_(sites), remap_(remap), result_(result), use_(use)
    {
    }

    // The sheet's tilesets among facts, checked against the remap; false with problem.
    bool prepare(const std::vector<TilesetFacts>& facts, const std::vector<bool>& isSheet,
                 const std::vector<const LdtkTilesetSite*>& tilesetSites, Problem& problem)
    {
        for (size_t i = 0; i < facts.size(); ++i) {
            if (!isSheet[i])
                continue;
            SheetTileset sheet;
            sheet.site = tilesetSites[i];
            sheet.facts = facts[i];
            if (sheet.site && sheet.site->problem) {
                problem = *sheet.site->problem;
                return false;
            }
            const qsizetype at = sheet.site ? sheet.site->at : 0;
            QString unfit = completeFromImage(sheet.facts);
            if (unfit.isEmpty() && use_)
                use_->tilesets.push_back(sheet.facts);
            if (unfit.isEmpty())
                unfit = checkSheetTileset(sheet.facts, remap_);
            if (unfit.isEmpty() && sheet.facts.tileWidth <= 0)
                unfit =
                    QStringLiteral("the tileset %1 gives no tileGridSize").arg(sheet.facts.label());
            if (unfit.isEmpty() && sheet.facts.knownColumns() <= 0)
                unfit = QStringLiteral("the tileset %1 does not say how many columns it has")
                            .arg(sheet.facts.label());
            if (!unfit.isEmpty()) {
                problem = {at, sheet.site ? sheet.site->where : QString(), unfit};
                return false;
            }
            sheet.count = sheet.facts.knownTileCount();
            sheet.columns = sheet.facts.knownColumns();
            sheet.pitch = sheet.facts.tileWidth + sheet.facts.spacing;
            sheet.newPadding = sheet.facts.margin;
            sheet.newSpacing = sheet.facts.spacing;
            sheet.newColumns = sheet.columns;
            sheet.newRows = (sheet.count + sheet.columns - 1) / sheet.columns;
            sheet.newWidth = sheet.facts.imageWidth;
            sheet.newHeight = sheet.facts.imageHeight;
            if (!remap_.isRearrangement()) {
                if (sheet.facts.margin != 0) {
                    problem = {at, sheet.site ? sheet.site->where : QString(),
                               QStringLiteral("the tileset %1 has a padding of %2 pixels, but a "
                                              "packed sheet starts at its corner")
                                   .arg(sheet.facts.label(), QString::number(sheet.facts.margin))};
                    return false;
                }
                sheet.newColumns = remap_.newColumns() > 0 ? remap_.newColumns() : sheet.columns;
                sheet.newRows = (remap_.newTileCount() + sheet.newColumns - 1) / sheet.newColumns;
                sheet.newWidth = sheet.newColumns * sheet.pitch;
                sheet.newHeight = sheet.newRows * sheet.pitch;
            } else if (remap_.grid != TileRemap::GridChange::None || remap_.changesLayout()) {
                const SheetGeometry after = geometryAfter(sheet.facts, remap_);
                sheet.newPadding = after.margin;
                sheet.newSpacing = after.spacing;
                sheet.newWidth = after.imageWidth;
                sheet.newHeight = after.imageHeight;
            }
            if (sheet.site && !geometryWritable(sheet, problem))
                return false;
            sheets_.emplace(sheet.facts.key, sheet);
        }
        return true;
    }

    // A value of the tileset that the remap must change has to be there to be changed.
    static bool geometryWritable(const SheetTileset& sheet, Problem& problem)
    {
        const LdtkTilesetSite& site = *sheet.site;
        const struct {
            Span span;
            int64_t before;
            int64_t after;
            const char* key;
        } values[] = {
            {site.spacing, sheet.facts.spacing, sheet.newSpacing, "spacing"},
            {site.padding, sheet.facts.margin, sheet.newPadding, "padding"},
            {site.pxWid, sheet.facts.imageWidth, sheet.newWidth, "pxWid"},
            {site.pxHei, sheet.facts.imageHeight, sheet.newHeight, "pxHei"},
            {site.cWid, sheet.columns, sheet.newColumns, "__cWid"},
            {site.cHei, sheet.count / sheet.columns, sheet.newRows, "__cHei"},
        };
        for (const auto& value : values) {
            if (!value.span.valid() && value.before != value.after) {
                problem = {site.at, site.where,
                           QStringLiteral("the tileset %1 gives no %2, which has to become %3")
                               .arg(sheet.facts.label(), QString::fromLatin1(value.key),
                                    QString::number(value.after))};
                return false;
            }
        }
        return true;
    }

    bool run(Problem& problem)
    {
        for (const auto& [uid, sheet] : sheets_) {
            if (!sheet.site)
                continue;
            rewriteTileset(sheet);
            // Custom data follows the rule of a Tiled tileset's per-tile data.
            if (!remap_.keepsIds)
                if (const std::optional<Problem> refused =
                        remapTileData(sheet.site->customData, bytes_, remap_,
                                      joined(sheet.site->where, QStringLiteral("customData")),
                                      splice_, result_.tilesMoved, nullptr, {}, jsonEdits())) {
                    problem = *refused;
                    return false;
                }
        }
        return stamps(problem) && ids(problem) && tiles(problem) && rects(problem);
    }

    TextSplice& splice() { return splice_; }

  private:
    void rewriteTileset(const SheetTileset& sheet)
    {
        const LdtkTilesetSite& site = *sheet.site;
        auto set = [&](Span span, int64_t value) {
            if (span.valid())
                splice_.replaceNumber(span, value);
        };
        if (!remap_.isRearrangement() || remap_.grid != TileRemap::GridChange::None ||
            remap_.changesLayout()) {
            set(site.spacing, sheet.newSpacing);
            set(site.padding, sheet.newPadding);
            set(site.pxWid, sheet.newWidth);
            set(site.pxHei, sheet.newHeight);
            set(site.cWid, sheet.newColumns);
            set(site.cHei, sheet.newRows);
        }
        if (!remap_.keepsIds) {
            const int64_t units = sheet.newColumns * sheet.newRows;
            remapCache(bytes_, site.opaqueTiles, 1, units, remap_, splice_);
            remapCache(bytes_, site.averageColors, 4, units, remap_, splice_);
        }
    }

    // A run that only reads notes the tiles shown: by layers, rectangles and rules (auto-layer
    // tiles come back from the rules whenever LDtk runs them).
    void markUsed(int64_t tile)
    {
        if (use_ && tile >= 0 && size_t(tile) < use_->named.size())
            use_->named[size_t(tile)] = 1;
    }

    const SheetTileset* sheetOf(int64_t uid) const
    {
        const auto found = sheets_.find(uid);
        return found == sheets_.end() ? nullptr : &found->second;
    }

    // A stamp rule lays its tiles out as they lie against each other in the tileset: they have to
    // keep that. Tiles beyond the tileset, dropped or turned are left for ids() to name.
    bool stamps(Problem& problem) const
    {
        for (const Stamp& stamp : sites_.stamps) {
            const SheetTileset* sheet =
                stamp.first < stamp.end ? sheetOf(sites_.ids[stamp.first].tilesetUid) : nullptr;
            if (!sheet || remap_.keepsIds)
                continue;
            auto place = [](int64_t tile, int64_t columns) {
                return std::pair{tile % columns, tile / columns};
            };
            QStringList tiles;
            bool together = true;
            const int64_t first = sites_.ids[stamp.first].id.value;
            for (size_t i = stamp.first; i < stamp.end; ++i) {
                const int64_t tile = sites_.ids[i].id.value;
                if (first < 0 || first >= sheet->count || tile < 0 || tile >= sheet->count ||
                    remap_.newIndexOf[size_t(tile)] < 0 ||
                    !remap_.symmetry(size_t(tile)).isIdentity())
                    break;
                tiles << QString::number(tile);
                const auto [x, y] = place(tile, sheet->columns);
                const auto [x0, y0] = place(first, sheet->columns);
                const auto [nx, ny] = place(remap_.newIndexOf[size_t(tile)], sheet->newColumns);
                const auto [nx0, ny0] = place(remap_.newIndexOf[size_t(first)], sheet->newColumns);
                together = together && x - x0 == nx - nx0 && y - y0 == ny - ny0;
            }
            if (!together && tiles.size() == qsizetype(stamp.end - stamp.first)) {
                problem = {sites_.ids[stamp.first].id.span.begin, stamp.where,
                           QStringLiteral("its stamp of tiles %1 does not move together as one "
                                          "block")
                               .arg(tiles.join(QStringLiteral(", ")))};
                return false;
            }
        }
        return true;
    }

    bool ids(Problem& problem)
    {
        if (remap_.keepsIds)
            return true;
        // A list whose tiles were dropped or merged is written anew.
        int list = -1;
        QByteArray listText;
        std::map<int32_t, int64_t> listed; // new tile -> the original that named it first
        bool shrinks = false;
        std::vector<std::pair<Span, int32_t>> renumbered; // in the list, when it keeps its size
        auto endList = [&] {
            if (list >= 0 && shrinks)
                splice_.replace(sites_.lists[size_t(list)].elements, listText);
            else
                for (const auto& [span, now] : renumbered)
                    splice_.replaceNumber(span, now);
            list = -1;
            listText.clear();
            listed.clear();
            renumbered.clear();
            shrinks = false;
        };
        for (size_t i = 0; i < sites_.ids.size(); ++i) {
            const IdSite& site = sites_.ids[i];
            if (site.list != list)
                endList();
            const SheetTileset* sheet = sheetOf(site.tilesetUid);
            if (!sheet)
                continue;
            const int64_t value = site.id.value;
            if (value < 0 || value >= sheet->count) {
                problem = {site.id.span.begin, site.where,
                           value < 0 && site.id.span.valid() && !text(site.id.span).startsWith('-')
                               ? QStringLiteral("%1 is not a tile id")
                                     .arg(quotedPath(QString::fromUtf8(text(site.id.span))))
                               : QStringLiteral("the tile id %1 lies beyond the tileset's %2 "
                                                "tiles")
                                     .arg(value)
                                     .arg(sheet->count)};
                return false;
            }
            if (site.list < 0)
                markUsed(value);
            const int32_t now = remap_.newIndexOf[size_t(value)];
            if (site.list >= 0) {
                // A tag or a selection holds a picture however it is turned; it lets a dropped
                // tile go and names a merged one once.
                list = site.list;
                const auto [first, fresh] = listed.emplace(now, value);
                if (now < 0 || (!fresh && first->second != value)) {
                    shrinks = true;
                    continue;
                }
                if (!listText.isEmpty())
                    listText += sites_.lists[size_t(list)].separator;
                listText += QByteArray::number(now);
                if (now != value) {
                    renumbered.emplace_back(site.id.span, now);
                    ++result_.tilesMoved;
                }
                continue;
            }
            // Definitions name tiles without flips.
            if (now < 0 || !remap_.symmetry(size_t(value)).isIdentity()) {
                problem = {site.id.span.begin, site.where,
                           QStringLiteral("tile %1 is named here, but it is %2")
                               .arg(value)
                               .arg(now < 0 ? QStringLiteral("dropped")
                                            : QStringLiteral("tile %1 turned").arg(now))};
                return false;
            }
            if (now != value) {
                splice_.replaceNumber(site.id.span, now);
                ++result_.tilesMoved;
            }
        }
        endList();
        return true;
    }

    bool tiles(Problem& problem)
    {
        for (const TileSite& tile : sites_.tiles) {
            const SheetTileset* sheet = sheetOf(tile.tilesetUid);
            if (!sheet)
                continue;
            const QString where = QStringLiteral("%1, %2[%3]")
                                      .arg(sites_.layerNames[size_t(tile.layer)],
                                           tile.autoTile ? QStringLiteral("autoLayerTiles")
                                                         : QStringLiteral("gridTiles"),
                                           QString::number(tile.index));
            auto fail = [&](qsizetype at, const QString& reason) {
                problem = {at, where, reason};
                return false;
            };
            if (!tile.t.valid() || !tile.srcX.valid() || !tile.srcY.valid())
                return fail(tile.at,
                            QStringLiteral("the tile lacks a whole-number t or src [x, y]"));
            if (tile.f.span.begin == -2 || tile.f.value < 0 || tile.f.value > 3)
                return fail(tile.f.span.begin >= 0 ? tile.f.span.begin : tile.at,
                            QStringLiteral("its flip bits f are not 0 to 3"));
            const int64_t t = tile.t.value;
            if (t < 0 || t >= sheet->count)
                return fail(tile.t.span.begin,
                            QStringLiteral("the tile id %1 lies beyond the tileset's %2 tiles")
                                .arg(t)
                                .arg(sheet->count));
            if (tile.srcX.value != sheet->x(t) || tile.srcY.value != sheet->y(t))
                return fail(tile.srcX.span.begin,
                            QStringLiteral("its src [%1, %2] disagrees with its tile id %3, "
                                           "which lies at [%4, %5]")
                                .arg(tile.srcX.value)
                                .arg(tile.srcY.value)
                                .arg(t)
                                .arg(sheet->x(t))
                                .arg(sheet->y(t)));
            markUsed(t);
            int64_t now = t;
            int64_t flips = tile.f.value;
            if (!remap_.keepsIds) {
                now = remap_.newIndexOf[size_t(t)];
                if (now < 0)
                    return fail(tile.t.span.begin,
                                QStringLiteral("it shows tile %1, which is dropped").arg(t));
                const TileSymmetry shown = symmetryOfFlips(flips).after(remap_.symmetry(size_t(t)));
                if (shown.bits() & TileSymmetry::kD)
                    return fail(tile.t.span.begin,
                                QStringLiteral("it shows tile %1, which becomes tile %2 turned a "
                                               "way LDtk cannot flip a tile")
                                    .arg(t)
                                    .arg(now));
                flips = flipsOf(shown);
            }
            if (now != t || flips != tile.f.value)
                ++result_.cellsChanged;
            if (tile.srcX.value != sheet->newX(now))
                splice_.replaceNumber(tile.srcX.span, sheet->newX(now));
            if (tile.srcY.value != sheet->newY(now))
                splice_.replaceNumber(tile.srcY.span, sheet->newY(now));
            if (flips != tile.f.value) {
                if (tile.f.valid())
                    splice_.replaceNumber(tile.f.span, flips);
                else
                    splice_.insert(tile.end,
                                   QByteArrayLiteral(",\"f\":") + QByteArray::number(flips));
            }
            if (now != t)
                splice_.replaceNumber(tile.t.span, now);
        }
        return true;
    }

    bool rects(Problem& problem)
    {
        for (const RectSite& rect : sites_.rects) {
            const SheetTileset* sheet = sheetOf(rect.uid.value);
            if (!sheet)
                continue;
            const QString where =
                rect.owner.isEmpty()
                    ? QStringLiteral("a tile rectangle")
                    : QStringLiteral("the tile rectangle of %1").arg(quotedPath(rect.owner));
            auto fail = [&](const QString& reason) {
                problem = {rect.at, where, reason};
                return false;
            };
            if (!rect.text.valid() &&
                (!rect.x.valid() || !rect.y.valid() || !rect.w.valid() || !rect.h.valid()))
                return fail(QStringLiteral("its x, y, w and h are not all whole numbers"));
            for (const Number& side : {rect.x, rect.y, rect.w, rect.h})
                if (side.value < 0 || side.value > INT32_MAX)
                    return fail(QStringLiteral("%1 is not a place in the tileset").arg(side.value));
            const int64_t g = sheet->facts.tileWidth;
            const int64_t spacing = sheet->facts.spacing;
            const int64_t left = rect.x.value - sheet->facts.margin;
            const int64_t top = rect.y.value - sheet->facts.margin;
            const int64_t across = (rect.w.value + spacing) / sheet->pitch;
            const int64_t down = (rect.h.value + spacing) / sheet->pitch;
            const int64_t column = left >= 0 ? left / sheet->pitch : -1;
            const int64_t row = top >= 0 ? top / sheet->pitch : -1;
            if (left < 0 || top < 0 || left % sheet->pitch != 0 || top % sheet->pitch != 0 ||
                across < 1 || down < 1 || across * sheet->pitch - spacing != rect.w.value ||
                down * sheet->pitch - spacing != rect.h.value || column + across > sheet->columns ||
                (row + down) * sheet->columns > sheet->count)
                return fail(QStringLiteral("[%1, %2, %3, %4] does not cover whole tiles of the "
                                           "tileset %5")
                                .arg(rect.x.value)
                                .arg(rect.y.value)
                                .arg(rect.w.value)
                                .arg(rect.h.value)
                                .arg(sheet->facts.label()));
            const int64_t first = row * sheet->columns + column;
            for (int64_t r = 0; use_ && r < down; ++r)
                for (int64_t c = 0; c < across; ++c)
                    markUsed(first + r * sheet->columns + c);
            int64_t newFirst = first;
            if (!remap_.keepsIds) {
                newFirst = remap_.newIndexOf[size_t(first)];
                for (int64_t r = 0; r < down; ++r) {
                    for (int64_t c = 0; c < across; ++c) {
                        const int64_t tile = first + r * sheet->columns + c;
                        const int32_t now = remap_.newIndexOf[size_t(tile)];
                        const bool together =
                            newFirst >= 0 && now >= 0 &&
                            newFirst % sheet->newColumns + across <= sheet->newColumns &&
                            now == newFirst + r * sheet->newColumns + c &&
                            remap_.symmetry(size_t(tile)).isIdentity();
                        if (!together)
                            return fail(across * down == 1
                                            ? QStringLiteral("its tile %1 is %2")
                                                  .arg(tile)
                                                  .arg(now < 0 ? QStringLiteral("dropped")
                                                               : QStringLiteral("turned"))
                                            : QStringLiteral("its %1 × %2 tiles from tile %3 do "
                                                             "not move together as one block")
                                                  .arg(across)
                                                  .arg(down)
                                                  .arg(first));
                    }
                }
            }
            const int64_t x = sheet->newX(newFirst);
            const int64_t y = sheet->newY(newFirst);
            const int64_t w = across * (g + sheet->newSpacing) - sheet->newSpacing;
            const int64_t h = down * (g + sheet->newSpacing) - sheet->newSpacing;
            if (x != rect.x.value || y != rect.y.value || newFirst != first)
                ++result_.tilesMoved;
            if (rect.text.valid()) {
                if (x != rect.x.value || y != rect.y.value || w != rect.w.value ||
                    h != rect.h.value)
                    splice_.replace(
                        rect.text,
                        QStringLiteral("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h).toUtf8());
                continue;
            }
            for (const auto& [site, value] : {std::pair{rect.x, x}, std::pair{rect.y, y},
                                              std::pair{rect.w, w}, std::pair{rect.h, h}})
                if (site.value != value)
                    splice_.replaceNumber(site.span, value);
        }
        return true;
    }

    QByteArrayView text(Span span) const
    {
        return QByteArrayView(bytes_).sliced(span.begin, span.size());
    }

    const QByteArray& bytes_;
    const Sites& sites_;
    const TileRemap& remap_;
    LevelBytesResult& result_;
    TileUse* use_;
    std::map<int64_t, SheetTileset> sheets_;
    TextSplice splice_;
};

LevelBytesResult failed(const QString& reason)
{
    LevelBytesResult result;
    result.reason = reason;
    return result;
}

} // namespace

namespace
{

// The project of an LDtk file: a project is its own; a level file's is where LDtk keeps it.
QString projectOf(const QString& path)
{
    if (QFileInfo(path).suffix().toLower() != u"ldtkl")
        return QFileInfo(path).absoluteFilePath();
    const QDir folder = QFileInfo(path).absoluteDir();
    return QDir::cleanPath(
        folder.absoluteFilePath(QStringLiteral("../%1.ldtk").arg(folder.dirName())));
}

bool readProjectTilesets(const QByteArray& bytes, const QString& folder,
                         std::vector<TilesetFacts>& tilesets, Problem& problem)
{
    Sites sites;
    if (!Scanner(bytes, folder, sites).run(problem, true))
        return false;
    for (const LdtkTilesetSite& site : sites.tilesets)
        tilesets.push_back(site.facts);
    return true;
}

LevelBytesResult remapLdtk(const QByteArray& bytes, const LevelContext& context)
{
    Sites sites;
    Problem problem;
    if (!Scanner(bytes, context.folder, sites).run(problem))
        return failedAt(bytes, problem);
    if (const QString shortfall =
            memoryShortfall(levelMemoryNeed(bytes.size(), int64_t(sites.tiles.size())));
        !shortfall.isEmpty())
        return failed(shortfall);

    std::vector<TilesetFacts> facts;
    std::vector<const LdtkTilesetSite*> tilesetSites;
    if (sites.isProject) {
        for (const LdtkTilesetSite& site : sites.tilesets) {
            facts.push_back(site.facts);
            tilesetSites.push_back(&site);
        }
    } else {
        const QString project =
            context.carriedBy.isEmpty() ? projectOf(context.path) : context.carriedBy;
        const ExternalTileset read =
            context.readTileset
                ? context.readTileset(project)
                : ExternalTileset{
                      {}, QStringLiteral("%1 is not read here").arg(quotedPath(project)), {}, {}};
        if (!read.error.isEmpty())
            return failed(QStringLiteral("its project cannot be used: %1").arg(read.error));
        for (const TilesetFacts& tileset : read.tilesets) {
            if (sites.drawnFrom.count(tileset.key)) {
                facts.push_back(tileset);
                tilesetSites.push_back(nullptr);
            }
        }
    }

    LevelBytesResult result;
    const SheetChoice choice =
        chooseSheet(facts, context.options.sheet, context.options.sheetOrByName);
    if (choice.verdict != SheetChoice::Verdict::Use) {
        // A level file carried along with its project that shows none of the sheet stays as it is.
        if (!sites.isProject && !context.carriedBy.isEmpty() &&
            choice.verdict == SheetChoice::Verdict::Skip) {
            result.status = LevelFileStatus::Updated;
            result.bytes = bytes;
            return result;
        }
        result.status = choice.verdict == SheetChoice::Verdict::Skip ? LevelFileStatus::Skipped
                                                                     : LevelFileStatus::Failed;
        result.reason = choice.reason;
        return result;
    }
    for (size_t i = 0; i < facts.size(); ++i)
        if (choice.isSheet[i])
            result.sheetImage = pathFrom(facts[i].folder, facts[i].image);

    Remapper remapper(bytes, sites, context.remap, result, context.options.use);
    if (!remapper.prepare(facts, choice.isSheet, tilesetSites, problem) || !remapper.run(problem))
        return failedAt(bytes, problem);
    result.status = LevelFileStatus::Updated;
    for (const QString& file : sites.levelFiles)
        result.carried.push_back({file, CarriedFile::Kind::Level});
    result.bytes = remapper.splice().isEmpty() ? bytes : remapper.splice().apply(bytes);
    return result;
}

class LdtkFormat : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("LDtk"); }
    QStringList patterns() const override
    {
        return {QStringLiteral("*.ldtk"), QStringLiteral("*.ldtkl")};
    }

    ExternalTileset readTilesets(const QByteArray& bytes, const QString& path) const override
    {
        ExternalTileset result;
        Problem problem;
        if (!readProjectTilesets(bytes, QFileInfo(path).absolutePath(), result.tilesets, problem))
            result.error = QStringLiteral("%1: %2").arg(linePlace(bytes, problem.at), problem.why);
        return result;
    }
    std::vector<TilesetFacts> shownTilesets(const QByteArray&,
                                            const LevelContext& context) const override
    {
        const QString project = projectOf(context.path);
        QFile file(project);
        std::vector<TilesetFacts> tilesets;
        Problem problem;
        if (file.open(QIODevice::ReadOnly))
            readProjectTilesets(file.readAll(), QFileInfo(project).absolutePath(), tilesets,
                                problem);
        return tilesets;
    }
    bool scan(const QByteArray&, const LevelContext&, LevelSites&, Problem&) const override
    {
        return false;
    }
    LevelBytesResult remap(const QByteArray& bytes, const LevelContext& context) const override
    {
        LevelBytesResult result = remapLdtk(bytes, context);
        result.othersRead = true; // a project's level files read it, a project its level files
        return result;
    }
};

} // namespace

const LevelFormat& ldtkFormat()
{
    static const LdtkFormat format;
    return format;
}
