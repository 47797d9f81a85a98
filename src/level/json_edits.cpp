#include "level/level_edits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "level/level_sites.h"

bool LevelEdits::plainText(QByteArrayView written, QByteArray& plain) const
{
    plain = written.toByteArray();
    return true;
}

namespace {

// Takes the removed items of a JSON array or object out, each with a comma beside it: a run of
// them after a kept item with the comma before the run, a run at the start with the comma after
// it; when none stays the brackets are left empty.
void removeItems(const EntryContainer& container, const std::vector<bool>& removed,
                 TextSplice& splice)
{
    const size_t count = container.items.size();
    for (size_t first = 0; first < count;) {
        if (!removed[first]) {
            ++first;
            continue;
        }
        size_t last = first;
        while (last + 1 < count && removed[last + 1])
            ++last;
        if (first > 0)
            splice.replace({container.items[first - 1].end, container.items[last].end}, {});
        else if (last + 1 < count)
            splice.replace({container.items[first].begin, container.items[last + 1].begin}, {});
        else
            splice.replace(container.inside, {});
        first = last + 1;
    }
}

QString jsonText(const QJsonValue& value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

TileDataParts jsonParts(QByteArrayView text, bool keyed)
{
    TileDataParts parts;
    const QByteArray trimmed = text.toByteArray().trimmed();
    // A keyed entry is a member ("5": {...}) rather than an object.
    const bool member = trimmed.startsWith('"');
    QJsonObject object =
        QJsonDocument::fromJson(member ? '{' + trimmed + '}' : trimmed).object();
    if (member && !object.isEmpty())
        object = object.begin()->toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        if (keyed) {
            parts.push_back({QStringLiteral("property:") + key, jsonText(it.value())});
        } else if (key == u"properties" && it.value().isArray()) {
            for (const QJsonValue property : it.value().toArray())
                parts.push_back(
                    {QStringLiteral("property:") + property[u"name"].toString(), jsonText(property)});
        } else if (!isTileIdKey(key)) {
            parts.push_back({key, jsonText(it.value())});
        }
    }
    return parts;
}

class JsonEdits : public LevelEdits
{
  public:
    TileDataParts dataParts(QByteArrayView entry, bool keyed) const override
    {
        return entry.isEmpty() ? TileDataParts{} : jsonParts(entry, keyed);
    }

    void removeEntries(const TilesetSite& site, const std::vector<bool>& removed,
                       const QByteArray&, TextSplice& splice) const override
    {
        std::vector<std::vector<bool>> items(site.containers.size());
        for (size_t c = 0; c < site.containers.size(); ++c)
            items[c].assign(site.containers[c].items.size(), false);
        for (size_t i = 0; i < site.entries.size(); ++i)
            if (removed[i])
                items[size_t(site.entries[i].container)][size_t(site.entries[i].item)] = true;
        for (size_t c = 0; c < site.containers.size(); ++c)
            removeItems(site.containers[c], items[c], splice);
    }

    void removeTilesets(const std::vector<TilesetSite>& tilesets, const std::vector<bool>& removed,
                        const QByteArray&, TextSplice& splice) const override
    {
        // The map's tilesets are the items of its one array of them.
        EntryContainer list;
        for (const TilesetSite& tileset : tilesets)
            list.items.push_back(tileset.whole);
        removeItems(list, removed, splice);
    }

    QByteArray atlasTileset(const AtlasTileset& atlas) const override
    {
        const QByteArray inner = atlas.indent + ' ';
        QByteArrayList members;
        const auto add = [&](const char* key, const QByteArray& value) {
            members << inner + '"' + key + "\":" + value;
        };
        const auto number = [&](const char* key, int64_t value) {
            add(key, QByteArray::number(value));
        };
        const auto list = [&](const std::vector<QByteArray>& items) {
            QByteArray text = "[\n";
            for (size_t i = 0; i < items.size(); ++i)
                text += inner + ' ' + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
            return text + inner + ']';
        };
        if (atlas.firstGid > 0)
            number("firstgid", atlas.firstGid);
        if (!atlas.source.isEmpty())
            return "{\"firstgid\":" + QByteArray::number(atlas.firstGid) +
                   ", \"source\":" + jsonString(atlas.source) + "}";
        // In the order Tiled writes them.
        number("columns", atlas.columns);
        add("image", jsonString(atlas.image));
        number("imageheight", atlas.imageHeight);
        number("imagewidth", atlas.imageWidth);
        number("margin", atlas.margin);
        add("name", jsonString(atlas.name));
        number("spacing", atlas.spacing);
        if (!atlas.terrains.isEmpty())
            add("terrains", atlas.terrains);
        number("tilecount", atlas.tileCount);
        number("tileheight", atlas.tileHeight);
        if (!atlas.tiles.empty())
            add("tiles", list(atlas.tiles));
        number("tilewidth", atlas.tileWidth);
        if (atlas.firstGid == 0) {
            add("type", "\"tileset\"");
            add("version", "\"1.10\"");
        }
        if (!atlas.wangSets.empty())
            add("wangsets", list(atlas.wangSets));
        return "{\n" + members.join(",\n") + "\n" + atlas.indent + '}' +
               (atlas.firstGid == 0 ? "\n" : "");
    }

    bool plainText(QByteArrayView written, QByteArray& plain) const override
    {
        if (!written.contains('\\'))
            return LevelEdits::plainText(written, plain);
        plain.clear();
        for (qsizetype i = 0; i < written.size(); ++i) {
            if (written[i] == '\\') {
                if (i + 1 >= written.size() || written[i + 1] != '/')
                    return false;
                ++i;
            }
            plain.append(written[i]);
        }
        return true;
    }
};

}  // namespace

QByteArray jsonString(const QString& text)
{
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).chopped(1).sliced(1);
}

const LevelEdits& jsonEdits()
{
    static const JsonEdits edits;
    return edits;
}

TileSymmetry LevelEdits::symmetryOfFlips(int64_t) const
{
    return TileSymmetry();
}

bool LevelEdits::flipsOf(TileSymmetry symmetry, int64_t& flips) const
{
    flips = 0;
    return symmetry.isIdentity();
}

QByteArray LevelEdits::newFlips(int64_t) const
{
    return {};
}
