#include "level/formats/ldtk/ldtk_format.h"
#include "level/formats/ldtk/ldtk_merge.h"

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

using Number = NumberSite;

QString joined(const QString& first, const QString& second)
{
    return first.isEmpty() ? second : first + QStringLiteral(", ") + second;
}

class Scanner
{
  public:
    Scanner(const QByteArray& bytes, const QString& folder, LevelSites& sites)
        : bytes_(bytes), json_(bytes), folder_(folder), sites_(sites)
    {
    }

    bool isProject() const { return isProject_; }

    bool run(Problem& problem, bool tilesetsOnly = false)
    {
        if (!json_.check(problem))
            return false;
        const Value root = json_.root();
        const JsonFields fields(json_, root);
        const Value defs = fields.value(u"defs");
        if (root.kind == '{' && defs.kind == '{') {
            isProject_ = true;
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

    void readNumber(TilesetSite& site, Value value, const QString& key, int64_t& target,
                    Span& span)
    {
        if (!value.valid())
            return;
        readTilesetNumber(site, bytes_, value.span, true, joined(site.where, key), target);
        if (target >= 0)
            span = value.span;
    }

    // A list of ids whose dropped tiles leave it.
    void addIdList(int64_t uid, Value array, const QString& where, bool tags = false)
    {
        NamedTileList list;
        list.tags = tags;
        list.separator = ",";
        const size_t first = sites_.named.size();
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
        for (size_t i = first; i < sites_.named.size(); ++i)
            sites_.named[i].list = int(sites_.lists.size());
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
        sites_.named.push_back({uid, number, where});
    }

    void addTileset(Value object, const QString& where)
    {
        if (object.kind != '{')
            return;
        const JsonFields fields(json_, object);
        TilesetSite site;
        site.at = object.span.begin;
        site.whole = object.span;
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
                   site.margin);
        readNumber(site, fields.value(u"pxWid"), QStringLiteral("pxWid"), facts.imageWidth,
                   site.imageWidth);
        readNumber(site, fields.value(u"pxHei"), QStringLiteral("pxHei"), facts.imageHeight,
                   site.imageHeight);
        int64_t rows = -1;
        readNumber(site, fields.value(u"__cWid"), QStringLiteral("__cWid"), facts.columns,
                   site.columns);
        readNumber(site, fields.value(u"__cHei"), QStringLiteral("__cHei"), rows, site.rows);
        facts.geometryNames = {QStringLiteral("spacing"), QStringLiteral("padding"),
                               QStringLiteral("pxWid"),   QStringLiteral("pxHei"),
                               QStringLiteral("__cWid"),  QStringLiteral("__cHei"),
                               QStringLiteral("tileGridSize")};
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
        // Custom data follows the rule of a Tiled tileset's per-tile data.
        addJsonArrayEntries(json_, site, fields.value(u"customData"), 0, u"tileId");
        site.dataWhere = joined(site.where, QStringLiteral("customData"));
        json_.elements(fields.value(u"enumTags"), [&](int64_t index, Value tag) {
            addIdList(
                uid, JsonFields(json_, tag).value(u"tileIds"),
                QStringLiteral("%1, enumTags[%2].tileIds").arg(site.where, QString::number(index)),
                true);
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
                site.caches.push_back({json_.stringInside(opaque), 1});
            if (const Value colors = pixels.value(u"averageColors"); colors.kind == '"')
                site.caches.push_back({json_.stringInside(colors), 4});
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
                    const size_t first = sites_.named.size();
                    const QString name =
                        QStringLiteral("%1.tileRectsIds[%2]").arg(at, QString::number(index));
                    if (rect.kind == '[')
                        addIds(uid, rect, name);
                    else
                        addId(uid, rect, name);
                    if (stamp)
                        sites_.stamps.push_back({first, sites_.named.size(), at});
                });
                const size_t first = sites_.named.size();
                addIds(uid, ruleFields.value(u"tileIds"), at + QStringLiteral(".tileIds"));
                if (stamp)
                    sites_.stamps.push_back({first, sites_.named.size(), at});
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
        if (isProject_ && layers.kind != '[' && !external.isEmpty())
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
        if (!isProject_)
            sites_.drawnFrom.insert(uid);
        const QString layer = QStringLiteral("%1 (layer %2)")
                                  .arg(where, quotedPath(string(fields.value(u"__identifier"))));
        for (const char16_t* key : {u"gridTiles", u"autoLayerTiles"}) {
            const int group = int(sites_.groupNames.size());
            sites_.groupNames.push_back(
                QStringLiteral("%1, %2").arg(layer, QString::fromUtf16(key)));
            json_.elements(fields.value(key), [&](int64_t index, Value tile) {
                addTile(uid, group, int(index), tile);
            });
        }
    }

    void addTile(int64_t uid, int group, int index, Value object)
    {
        PlacedTile tile;
        tile.tileset = uid;
        tile.group = group;
        tile.index = index;
        tile.at = object.span.begin;
        tile.end = object.span.end - 1;
        // Tiles come by the hundred thousand: their few keys are told apart by their bytes.
        json_.members(object, [&](const Member& member) {
            const QByteArrayView key = text(member.keyText);
            if (key == "t") {
                tile.t = number(member.value);
            } else if (key == "f") {
                tile.flips = number(member.value);
                if (!tile.flips.valid())
                    tile.flips.value = -1;
            } else if (key == "src") {
                json_.elements(member.value, [&](int64_t i, Value coordinate) {
                    if (i == 0)
                        tile.x = number(coordinate);
                    else if (i == 1)
                        tile.y = number(coordinate);
                    else
                        tile.y = Number(); // more than two: unreadable
                });
            }
        });
        if (tile.flips.value < 0)
            tile.flips = {{-2, -2}, -1}; // present but unreadable
        sites_.placed.push_back(tile);
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
        addTilesetNames(fields);
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

    // The members of an object that name a tileset by its uid, and a layer's copy of the image
    // of the tileset it shows.
    void addTilesetNames(const JsonFields& fields)
    {
        static const QStringView keys[] = {u"tilesetUid",        u"tilesetDefUid",
                                           u"__tilesetDefUid",   u"overrideTilesetUid",
                                           u"autoTilesetDefUid", u"iconTilesetUid",
                                           u"tilesetId"};
        int64_t shown = -1;
        if (!json_.integer(fields.value(u"overrideTilesetUid"), shown))
            json_.integer(fields.value(u"__tilesetDefUid"), shown);
        for (const Member& member : fields.all()) {
            if (member.key == u"__tilesetRelPath" && member.value.kind == '"')
                sites_.tilesetImages.push_back({member.value.span, shown});
            else if (std::find(std::begin(keys), std::end(keys), member.key) != std::end(keys))
                if (const Number uid = number(member.value); uid.valid())
                    sites_.tilesetKeys.push_back(uid);
        }
    }

    // A rectangle of the tileset uid: its sides, or else the object's x, y, w and h.
    void addRect(Number uid, const JsonFields& fields, const std::vector<Number>& sides,
                 Value object, const QString& owner)
    {
        if (!uid.valid())
            return;
        TileRect rect{uid, {}, {}, {}, {}, object.span.begin, owner, {}};
        Number* targets[] = {&rect.x, &rect.y, &rect.w, &rect.h};
        const char16_t* keys[] = {u"x", u"y", u"w", u"h"};
        for (size_t i = 0; i < 4; ++i)
            *targets[i] = sides.size() == 4 ? sides[i] : number(fields.value(keys[i]));
        if (!isProject_)
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
            TileRect rect;
            int64_t* numbers[] = {&rect.x.value, &rect.y.value, &rect.w.value, &rect.h.value};
            bool readable = parts.size() == 4;
            for (qsizetype i = 0; readable && i < 4; ++i)
                *numbers[i] = parts[i].toLongLong(&readable);
            if (!readable)
                continue; // not a rectangle: some other value
            rect.tileset.value = uid;
            rect.at = param.span.begin;
            rect.owner = owner;
            rect.text = json_.stringInside(param);
            if (!isProject_)
                sites_.drawnFrom.insert(uid);
            sites_.rects.push_back(rect);
        }
    }

    const QByteArray& bytes_;
    JsonScanner json_;
    QString folder_;
    LevelSites& sites_;
    bool isProject_ = false;
};

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
    LevelSites sites;
    if (!Scanner(bytes, folder, sites).run(problem, true))
        return false;
    for (const TilesetSite& site : sites.tilesets)
        tilesets.push_back(site.facts);
    return true;
}

// LDtk writes its files as JSON; a placed tile's f holds its flips, 1 left to right, 2 top to
// bottom.
class LdtkEdits : public LevelEdits
{
  public:
    void removeEntries(const TilesetSite& site, const std::vector<bool>& removed,
                       const QByteArray& bytes, TextSplice& splice) const override
    {
        jsonEdits().removeEntries(site, removed, bytes, splice);
    }
    TileDataParts dataParts(QByteArrayView entry, bool keyed) const override
    {
        return jsonEdits().dataParts(entry, keyed);
    }
    TileSymmetry symmetryOfFlips(int64_t f) const override
    {
        return TileSymmetry((f & 1 ? TileSymmetry::kH : 0) | (f & 2 ? TileSymmetry::kV : 0));
    }
    bool flipsOf(TileSymmetry symmetry, int64_t& flips) const override
    {
        flips = (symmetry.bits() & TileSymmetry::kH ? 1 : 0) |
                (symmetry.bits() & TileSymmetry::kV ? 2 : 0);
        return !(symmetry.bits() & TileSymmetry::kD);
    }
    QByteArray newFlips(int64_t flips) const override
    {
        return QByteArrayLiteral(",\"f\":") + QByteArray::number(flips);
    }
    int64_t maxFlips() const override { return 3; }
    QString name() const override { return QStringLiteral("LDtk"); }
    PlacedNames placedNames() const override
    {
        return {QStringLiteral("t"), QStringLiteral("src"), QStringLiteral("f")};
    }
};

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
    bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
              Problem& problem) const override
    {
        static const LdtkEdits edits;
        sites.edits = &edits;
        sites.byGid = false;  // by tileset uid
        Scanner scanner(bytes, context.folder, sites);
        if (!scanner.run(problem))
            return false;
        if (!scanner.isProject()) {
            // A level file takes its tilesets from its project.
            sites.tilesetsFrom =
                context.carriedBy.isEmpty() ? projectOf(context.path) : context.carriedBy;
            sites.tilesetsFromNoun = QStringLiteral("project");
        }
        return true;
    }
    LevelBytesResult remap(const QByteArray& bytes, const LevelContext& context) const override
    {
        LevelBytesResult result = LevelFormat::remap(bytes, context);
        result.othersRead = true;  // a project's level files read it, a project its level files
        return result;
    }

  protected:
    LevelBytesResult remapScanned(const LevelSites& sites, const QByteArray& bytes,
                                  const LevelContext& context) const override
    {
        return context.options.merge ? mergeLdtkSites(sites, bytes, context)
                                     : remapSites(sites, bytes, context);
    }
};

} // namespace

const LevelFormat& ldtkFormat()
{
    static const LdtkFormat format;
    return format;
}
