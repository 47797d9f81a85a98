#include "level/formats/tmj/tmj_format.h"

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "level/json_scanner.h"

namespace
{

using Value = JsonScanner::Value;
using Member = JsonScanner::Member;

// A tileset's whole numbers, and where the remap finds those it may rewrite (null: never).
struct TilesetNumber {
    const char16_t* key;
    int64_t TilesetFacts::*fact;
    Span TilesetSite::*site;
};
constexpr TilesetNumber kTilesetNumbers[] = {
    {u"firstgid", &TilesetFacts::firstGid, nullptr},
    {u"tilewidth", &TilesetFacts::tileWidth, nullptr},
    {u"tileheight", &TilesetFacts::tileHeight, nullptr},
    {u"spacing", &TilesetFacts::spacing, &TilesetSite::spacing},
    {u"margin", &TilesetFacts::margin, &TilesetSite::margin},
    {u"tilecount", &TilesetFacts::tileCount, &TilesetSite::tileCount},
    {u"columns", &TilesetFacts::columns, &TilesetSite::columns},
    {u"imagewidth", &TilesetFacts::imageWidth, &TilesetSite::imageWidth},
    {u"imageheight", &TilesetFacts::imageHeight, &TilesetSite::imageHeight},
};

class JsonLevelScanner
{
  public:
    JsonLevelScanner(const QByteArray& bytes, const QString& folder, LevelSites& sites)
        : bytes_(bytes), json_(bytes), folder_(folder), sites_(sites)
    {
    }

    bool run(Problem& problem)
    {
        if (!json_.check(problem))
            return false;
        const Value root = json_.root();
        const JsonFields fields(json_, root);
        const QString type = json_.string(fields.value(u"type"));
        const bool looksLikeTileset =
            !fields.find(u"layers") &&
            (fields.find(u"tilecount") || fields.find(u"image") || fields.find(u"tilewidth"));
        if (root.kind == '{' && (type == u"tileset" || (type.isEmpty() && looksLikeTileset))) {
            sites_.isTileset = true;
            addTileset(root, QString());
            return true;
        }
        if (root.kind == '{' && type == u"template") {
            sites_.isTemplate = true;
            addTileset(fields.value(u"tileset"), QStringLiteral("tileset"));
            addObject(fields.value(u"object"), QStringLiteral("object"));
            return true;
        }
        if (root.kind != '{' || (type != u"map" && !fields.find(u"layers"))) {
            problem = {root.span.begin, QString(),
                       QStringLiteral("it is neither a map nor a tileset nor a template")};
            return false;
        }
        int64_t infinite = 0;
        infinite_ = fields.value(u"infinite").kind == 't' ||
                    (json_.integer(fields.value(u"infinite"), infinite) && infinite == 1);
        int64_t level = -1;
        if (json_.integer(fields.value(u"compressionlevel"), level))
            sites_.compressionLevel = int(std::clamp<int64_t>(level, -1, 22));
        json_.elements(fields.value(u"tilesets"), [&](int64_t index, Value tileset) {
            addTileset(tileset, QStringLiteral("tilesets[%1]").arg(index));
        });
        walkLayers(fields.value(u"layers"), QStringLiteral("layers"));
        return true;
    }

  private:
    QByteArrayView text(Span span) const
    {
        return QByteArrayView(bytes_).sliced(span.begin, span.size());
    }

    // An empty array or string, or null.
    bool holdsNothing(Value data) const
    {
        if (data.kind == 'n')
            return true;
        if (data.kind != '[' && data.kind != '"')
            return false;
        const QByteArrayView inside = text({data.span.begin + 1, data.span.end - 1});
        return std::all_of(inside.begin(), inside.end(), isBlank);
    }

    // A tile id that may be -1, none.
    void addId(TilesetSite& site, Value value)
    {
        if (value.valid())
            site.ids.push_back({value.span, true});
    }

    // Each element of array that is an object: its member key as a tile id.
    void addIdsOf(TilesetSite& site, Value array, QStringView key)
    {
        json_.elements(array, [&](int64_t, Value item) {
            if (item.kind == '{')
                addId(site, JsonFields(json_, item).value(key));
        });
    }

    // Each member of an object as an entry of list, keyed by its tile id. properties: each
    // entry's members are its tile's properties by name (an older file's tileproperties).
    void addKeyedEntries(TilesetSite& site, Value object, int list, bool properties = false)
    {
        if (object.kind != '{')
            return;
        const int container = int(site.containers.size());
        site.containers.push_back({{object.span.begin + 1, object.span.end - 1}, {}});
        int index = 0;
        json_.members(object, [&](const Member& member) {
            // The member's whole text, from its key's opening quote to the end of its value.
            const Span whole{member.keyText.begin - 1, member.value.span.end};
            site.containers.back().items.push_back(whole);
            addJsonEntry(json_, site, list, member.keyText, whole, member.value, container, index++,
                         properties);
        });
    }

    void addTileset(Value object, const QString& path)
    {
        if (object.kind != '{')
            return;
        const JsonFields fields(json_, object);
        TilesetSite site;
        site.at = object.span.begin;
        site.whole = object.span;
        site.firstGid = fields.value(u"firstgid").span;
        TilesetFacts& facts = site.facts;
        facts.folder = folder_;
        facts.name = json_.string(fields.value(u"name"));
        facts.image = json_.string(fields.value(u"image"));
        const QString where =
            path.isEmpty() ? QStringLiteral("tileset %1").arg(quotedPath(facts.name))
                           : QStringLiteral("%1 (tileset %2)").arg(path, quotedPath(facts.name));
        const QString source = json_.string(fields.value(u"source"));
        if (!sites_.isTileset && !source.isEmpty())
            facts.file = pathFrom(folder_, source);
        for (const TilesetNumber& number : kTilesetNumbers) {
            const Value value = fields.value(number.key);
            if (value.valid())
                readTilesetNumber(site, bytes_, value.span, true, where, facts.*number.fact);
            if (number.site)
                site.*number.site = value.span;
        }
        if (facts.spacing < 0)
            facts.spacing = 0;

        // A missing spacing goes after the tile height (else after the last member), written
        // the way that member is.
        const Member* anchor = fields.find(u"tileheight");
        if (!anchor && !fields.all().empty())
            anchor = &fields.all().back();
        if (anchor) {
            site.spacingInsertAt = anchor->value.span.end;
            // A missing value is written as the one it follows: its blanks, its colon.
            const QByteArray before =
                "," + text({anchor->leadBegin, anchor->keyText.begin - 1}).toByteArray();
            const QByteArray after =
                text({anchor->keyText.end + 1, anchor->value.span.begin}).toByteArray();
            site.spacingPrefix = before + "\"spacing\"" + after;
            site.marginPrefix = before + "\"margin\"" + after;
        }

        // Older files key the tiles, and their properties, by their id.
        addJsonArrayEntries(json_, site, fields.value(u"tiles"), 0, u"id");
        const size_t arrayEntries = site.entries.size();
        addKeyedEntries(site, fields.value(u"tiles"), 0);
        addKeyedEntries(site, fields.value(u"tileproperties"), site.lists++, true);
        addKeyedEntries(site, fields.value(u"tilepropertytypes"), site.lists++);
        site.keyed = site.entries.size() > arrayEntries;
        json_.elements(fields.value(u"wangsets"), [&](int64_t, Value set) {
            if (set.kind != '{')
                return;
            const JsonFields wang(json_, set);
            site.sets.push_back({json_.string(wang.value(u"name")), set.span, false});
            addId(site, wang.value(u"tile"));
            for (const char16_t* colours : {u"colors", u"cornercolors", u"edgecolors"})
                addIdsOf(site, wang.value(colours), u"tile");
            addJsonArrayEntries(json_, site, wang.value(u"wangtiles"), site.lists++, u"tileid");
        });
        addIdsOf(site, fields.value(u"terrains"), u"tile");
        if (const Value terrains = fields.value(u"terrains"); terrains.valid())
            site.sets.push_back({{}, terrains.span, true});
        sites_.tilesets.push_back(std::move(site));
    }

    void walkLayers(Value layers, const QString& path)
    {
        json_.elements(layers, [&](int64_t index, Value layer) {
            if (layer.kind != '{')
                return;
            const QString here = QStringLiteral("%1[%2]").arg(path, QString::number(index));
            const JsonFields fields(json_, layer);
            const QString type = json_.string(fields.value(u"type"));
            // What follows the path of each part of the layer in messages.
            const QString named = QStringLiteral(", layer %1")
                                      .arg(quotedPath(json_.string(fields.value(u"name"))));
            if (type == u"group") {
                walkLayers(fields.value(u"layers"), here + QStringLiteral(".layers"));
            } else if (type == u"objectgroup") {
                json_.elements(fields.value(u"objects"), [&](int64_t item, Value object) {
                    addObject(object, here + QStringLiteral(".objects[%1]").arg(item) + named);
                });
            } else if (type == u"tilelayer" || (type.isEmpty() && fields.find(u"data"))) {
                addTileLayer(fields, here, named);
            }
        });
    }

    // An object's gid, and the template it is placed through.
    void addObject(Value object, const QString& where)
    {
        if (object.kind != '{')
            return;
        const JsonFields fields(json_, object);
        const Value gid = fields.value(u"gid");
        if (gid.valid())
            sites_.objects.push_back({gid.span, gid.span.begin, where});
        addTemplate(sites_, folder_, json_.string(fields.value(u"template")), object.span.begin,
                    where);
    }

    void addTileLayer(const JsonFields& fields, const QString& here, const QString& named)
    {
        const QString where = here + named;
        const QString encoding = json_.string(fields.value(u"encoding"));
        const QString compression = json_.string(fields.value(u"compression"));
        const auto method = layerCompressionNamed(compression);
        const bool base64 = encoding == u"base64";
        // What every block of the layer starts from.
        CellBlock model;
        model.compression = method.value_or(LayerCompression::None);
        const auto refuse = [&](QStringView key, const QString& why) {
            model.problem = Problem{fields.value(key).span.begin, where, why};
        };
        if (!base64 && !encoding.isEmpty() && encoding != u"csv")
            refuse(u"encoding",
                   QStringLiteral("the encoding %1 is unknown").arg(quotedPath(encoding)));
        else if (!method)
            refuse(u"compression",
                   QStringLiteral("the compression %1 is unknown").arg(quotedPath(compression)));
        else if (*method != LayerCompression::None && !base64)
            refuse(u"compression", QStringLiteral("only base64 data can be compressed"));

        const Value chunks = fields.value(u"chunks");
        if (chunks.kind == '[') {
            json_.elements(chunks, [&](int64_t index, Value chunk) {
                if (chunk.kind == '{')
                    addBlock(model, JsonFields(json_, chunk), base64,
                             here + QStringLiteral(".chunks[%1]").arg(index) + named, true);
            });
        } else if (fields.find(u"data") && !(infinite_ && holdsNothing(fields.value(u"data")))) {
            // Unless empty in an infinite map: without chunks such a layer has no cells, whatever
            // size it gives.
            addBlock(model, fields, base64, here + QStringLiteral(".data") + named, false);
        }
    }

    // The cells of a layer (holder) or of one of its chunks, and their size (and place).
    void addBlock(CellBlock block, const JsonFields& holder, bool base64, const QString& where,
                  bool chunk)
    {
        const Value data = holder.value(u"data");
        block.at = data.valid() ? data.span.begin : 0;
        block.where = where;
        int64_t* targets[] = {&block.width, &block.height, &block.originX, &block.originY};
        const char16_t* names[] = {u"width", u"height", u"x", u"y"};
        const char16_t* unreadable = nullptr;
        for (int i = 0; i < (chunk ? 4 : 2); ++i) {
            const Value value = holder.value(names[i]);
            if (!json_.integer(value, *targets[i]) || *targets[i] > INT32_MAX ||
                *targets[i] < (i < 2 ? 0 : INT32_MIN)) {
                *targets[i] = 0;
                if (!unreadable)
                    unreadable = names[i];
            }
        }
        if (chunk)
            block.where +=
                QStringLiteral(", chunk at (%1, %2)").arg(block.originX).arg(block.originY);
        if (unreadable && !block.problem)
            block.problem = Problem{block.at, block.where,
                                    QStringLiteral("its %1 is not a size or place")
                                        .arg(QString::fromUtf16(unreadable))};
        if (base64 && data.kind == '"') {
            block.form = CellBlock::Form::Base64;
            block.text = json_.stringInside(data);
            block.escaped = true;
        } else if (!base64 && data.kind == '[') {
            block.form = CellBlock::Form::CommaList;
            block.text = {data.span.begin + 1, data.span.end - 1};
        } else if (!block.problem) {
            block.problem =
                Problem{block.at, block.where,
                        base64 ? QStringLiteral("the data is not base64 text")
                               : QStringLiteral("the data is not an array of tile ids")};
        }
        sites_.blocks.push_back(std::move(block));
    }

    const QByteArray& bytes_;
    JsonScanner json_;
    QString folder_;
    LevelSites& sites_;
    bool infinite_ = false;
};

class TmjFormat : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("TMJ, TSJ, TJ"); }
    QString tilesetNames() const override { return QStringLiteral("TSJ"); }
    QStringList patterns() const override
    {
        return {QStringLiteral("*.tmj"), QStringLiteral("*.tsj"), QStringLiteral("*.tj"),
                QStringLiteral("*.json")};
    }
    bool claimsContent(char first) const override { return first == '{'; }

    bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
              Problem& problem) const override
    {
        sites.edits = &jsonEdits();
        return JsonLevelScanner(bytes, context.folder, sites).run(problem);
    }
};

} // namespace

const LevelFormat& tmjFormat()
{
    static const TmjFormat format;
    return format;
}
