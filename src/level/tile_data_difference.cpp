#include "level/tile_data_difference.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <utility>
#include <vector>

#include "document/file_messages.h"

namespace {

// The parts of a tile's data, each by a key ("@type" for an XML attribute, "animation",
// "property:solid") with its text written one way, so that equal parts compare equal.
using Parts = std::vector<std::pair<QString, QString>>;

QString attributesText(const QXmlStreamReader& xml)
{
    QString text;
    for (const QXmlStreamAttribute& attribute : xml.attributes())
        text += u' ' + attribute.name().toString() + u'=' + attribute.value().toString();
    return text;
}

// The element the reader stands at, with everything inside it, up to its end.
QString elementText(QXmlStreamReader& xml)
{
    QString text = attributesText(xml);
    for (int depth = 1; depth > 0 && !xml.atEnd();) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            text += u'<' + xml.name().toString() + attributesText(xml);
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            text += u'>';
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (!xml.isWhitespace())
                text += xml.text().toString().trimmed();
            break;
        default:
            break;
        }
    }
    return text;
}

bool isIdKey(const QString& key)
{
    return key == u"id" || key == u"tileid" || key == u"tileId";
}

Parts xmlParts(QByteArrayView text)
{
    Parts parts;
    QXmlStreamReader xml(text.toByteArray());
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement)
        return parts;
    for (const QXmlStreamAttribute& attribute : xml.attributes())
        if (!isIdKey(attribute.name().toString()))
            parts.push_back({u'@' + attribute.name().toString(), attribute.value().toString()});
    while (xml.readNextStartElement()) {
        if (xml.name() != u"properties") {
            const QString name = xml.name().toString();
            parts.push_back({name, elementText(xml)});
            continue;
        }
        while (xml.readNextStartElement()) {
            const QString name = xml.attributes().value(QStringLiteral("name")).toString();
            parts.push_back({QStringLiteral("property:") + name, elementText(xml)});
        }
    }
    return parts;
}

QString jsonText(const QJsonValue& value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

Parts jsonParts(QByteArrayView text, bool keyed)
{
    Parts parts;
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
        } else if (!isIdKey(key)) {
            parts.push_back({key, jsonText(it.value())});
        }
    }
    return parts;
}

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

QString tileDataDifference(QByteArrayView first, int64_t firstTile, QByteArrayView second,
                           int64_t secondTile, bool xml, bool keyed)
{
    const auto partsOf = [&](QByteArrayView text) {
        return text.isEmpty() ? Parts{} : xml ? xmlParts(text) : jsonParts(text, keyed);
    };
    const Parts one = partsOf(first);
    const Parts other = partsOf(second);
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
