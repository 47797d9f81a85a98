#include "level/tile_data_difference.h"

#include <utility>

#include "document/file_messages.h"

namespace {

using Parts = TileDataParts;

// What a part is called, once ("an animation") and in the plural ("animations").
std::pair<QString, QString> partName(QString key)
{
    if (key.startsWith(u'@'))
        key.remove(0, 1);
    if (key.startsWith(QStringLiteral("property:"))) {
        const QString name = quotedPath(key.mid(9));
        return {QStringLiteral("the property %1").arg(name),
                QStringLiteral("values of the property %1").arg(name)};
    }
    static const struct {
        const char16_t* key;
        const char* one;
        const char* many;
    } names[] = {
        {u"type", "a type", "types"},
        {u"class", "a class", "classes"},
        {u"probability", "a probability", "probabilities"},
        {u"animation", "an animation", "animations"},
        {u"objectgroup", "collision shapes", "collision shapes"},
        {u"terrain", "terrain ids", "terrain ids"},
        {u"image", "an image", "images"},
        {u"wangid", "Wang ids", "Wang ids"},
        {u"data", "custom data", "custom data"},
    };
    for (const auto& name : names)
        if (key == name.key)
            return {QString::fromUtf8(name.one), QString::fromUtf8(name.many)};
    return {quotedPath(key), QStringLiteral("values of %1").arg(quotedPath(key))};
}

const QString* find(const Parts& parts, const QString& key)
{
    for (const auto& [name, value] : parts)
        if (name == key)
            return &value;
    return nullptr;
}

}  // namespace

bool isTileIdKey(QStringView key)
{
    return key == u"id" || key == u"tileid" || key == u"tileId";
}

QString tileDataDifference(const TileDataParts& one, int64_t firstTile, const TileDataParts& other,
                           int64_t secondTile)
{
    Parts keys = one;
    for (const auto& part : other)
        if (!find(one, part.first))
            keys.push_back(part);
    for (const auto& [key, value] : keys) {
        const QString* a = find(one, key);
        const QString* b = find(other, key);
        if (a && b && *a == *b)
            continue;
        const auto [once, plural] = partName(key);
        if (a && b)
            return QStringLiteral("they have different %1").arg(plural);
        return QStringLiteral("tile %1 has %2, tile %3 none")
            .arg(a ? firstTile : secondTile)
            .arg(once)
            .arg(a ? secondTile : firstTile);
    }
    return {};
}
