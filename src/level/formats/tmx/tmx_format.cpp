#include "level/formats/tmx/tmx_format.h"

#include <QStringDecoder>
#include <QXmlStreamReader>
#include <algorithm>

#include "document/file_identity.h"
#include "document/file_messages.h"

namespace
{

// The elements that matter, by where they stand; everything else is Other and only passed over.
// File stands above the root element.
enum class Kind {
    Other, File, Map, Template, Group,
    Tileset, TilesetImage, TileDef, TileProperties, TileProperty, Animation, Frame,
    WangSets, WangSet, WangColor, WangTile, TerrainTypes, Terrain,
    Layer, Data, Chunk, DataTile, ObjectLayer, Object,
};

// Under each parent, the children that matter and what they are.
struct ChildRule {
    Kind parent;
    std::pair<const char16_t*, Kind> children[4];
};

constexpr ChildRule kChildRules[] = {
    {Kind::File, {{u"map", Kind::Map}, {u"tileset", Kind::Tileset}, {u"template", Kind::Template}}},
    {Kind::Template, {{u"tileset", Kind::Tileset}, {u"object", Kind::Object}}},
    {Kind::Map,
     {{u"tileset", Kind::Tileset}, {u"layer", Kind::Layer}, {u"objectgroup", Kind::ObjectLayer},
      {u"group", Kind::Group}}},
    {Kind::Group,
     {{u"layer", Kind::Layer}, {u"objectgroup", Kind::ObjectLayer}, {u"group", Kind::Group}}},
    {Kind::Tileset,
     {{u"image", Kind::TilesetImage}, {u"tile", Kind::TileDef}, {u"wangsets", Kind::WangSets},
      {u"terraintypes", Kind::TerrainTypes}}},
    {Kind::TileDef, {{u"animation", Kind::Animation}, {u"properties", Kind::TileProperties}}},
    {Kind::TileProperties, {{u"property", Kind::TileProperty}}},
    {Kind::Animation, {{u"frame", Kind::Frame}}},
    {Kind::WangSets, {{u"wangset", Kind::WangSet}}},
    {Kind::WangSet,
     {{u"wangcolor", Kind::WangColor}, {u"wangcornercolor", Kind::WangColor},
      {u"wangedgecolor", Kind::WangColor}, {u"wangtile", Kind::WangTile}}},
    {Kind::TerrainTypes, {{u"terrain", Kind::Terrain}}},
    {Kind::Layer, {{u"data", Kind::Data}}},
    {Kind::Data, {{u"chunk", Kind::Chunk}, {u"tile", Kind::DataTile}}},
    {Kind::Chunk, {{u"tile", Kind::DataTile}}},
    {Kind::ObjectLayer, {{u"object", Kind::Object}}},
};

Kind classify(Kind parent, QStringView name)
{
    for (const ChildRule& rule : kChildRules)
        if (rule.parent == parent)
            for (const auto& [childName, kind] : rule.children)
                if (childName && name == QStringView(childName))
                    return kind;
    return Kind::Other;
}

// Turns the reader's character offsets (UTF-16 units after any byte order mark) into byte offsets
// of the UTF-8 text, walking forward only.
class ByteOffsets
{
  public:
    explicit ByteOffsets(QByteArrayView bytes) : bytes_(bytes)
    {
        if (bytes.startsWith("\xef\xbb\xbf"))
            start_ = byte_ = 3;
    }

    qsizetype byteAt(qint64 offset)
    {
        if (offset < unit_) {
            unit_ = 0;
            byte_ = start_;
        }
        const qsizetype size = bytes_.size();
        while (unit_ < offset && byte_ < size) {
            const uchar lead = uchar(bytes_[byte_]);
            const int length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
            byte_ += length;
            unit_ += length == 4 ? 2 : 1;
        }
        return std::min(byte_, size);
    }

  private:
    QByteArrayView bytes_;
    qsizetype start_ = 0;
    qsizetype byte_ = 0;
    qint64 unit_ = 0;
};

// One attribute of a start tag as the raw text writes it.
struct RawAttribute {
    QByteArrayView name;
    Span gap;      // the blanks before the name
    Span value;    // inside the quotes
    qsizetype end; // just after the closing quote
};

struct RawTag {
    qsizetype nameEnd = 0; // just after the element's name
    std::vector<RawAttribute> attributes;
};

// Reads the attributes of the start tag [tagBegin, tagEnd) from the raw text into tag.
void readTag(QByteArrayView bytes, qsizetype tagBegin, qsizetype tagEnd, RawTag& tag)
{
    qsizetype at = tagBegin + 1;
    const auto skipWhile = [&](auto keepGoing) {
        while (at < tagEnd && keepGoing(bytes[at]))
            ++at;
    };
    skipWhile([](char c) { return !isBlank(c) && c != '/' && c != '>'; });
    tag.nameEnd = at;
    tag.attributes.clear();
    for (;;) {
        const qsizetype gapBegin = at;
        skipWhile(isBlank);
        if (at >= tagEnd || bytes[at] == '/' || bytes[at] == '>')
            return;
        const qsizetype nameBegin = at;
        skipWhile([](char c) { return c != '=' && !isBlank(c); });
        const QByteArrayView name = bytes.sliced(nameBegin, at - nameBegin);
        skipWhile([](char c) { return c != '"' && c != '\''; });
        if (at >= tagEnd)
            return;
        const char quote = bytes[at++];
        const qsizetype valueBegin = at;
        skipWhile([quote](char c) { return c != quote; });
        const Span value{valueBegin, at};
        if (at < tagEnd)
            ++at;
        tag.attributes.push_back({name, {gapBegin, nameBegin}, value, at});
    }
}

bool isUtf8(const QByteArray& bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// ASCII text is UTF-8 already: a declaration of US-ASCII is read as one of UTF-8, which the reader
// then decodes as such. The blanks after the name keep every byte where it was.
QByteArray asciiAsUtf8(const QByteArray& bytes)
{
    const qsizetype start = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    const qsizetype end = bytes.indexOf("?>", start);
    if (!QByteArrayView(bytes).sliced(start).startsWith("<?xml") || end < 0)
        return bytes;
    const QByteArray declaration = bytes.mid(start, end - start).toLower();
    for (const char quote : {'"', '\''}) {
        const qsizetype at = declaration.indexOf(quote + QByteArray("us-ascii") + quote);
        if (at >= 0) {
            QByteArray utf8 = bytes;
            return utf8.replace(start + at, 10, quote + QByteArray("UTF-8") + quote + "   ");
        }
    }
    return bytes;
}

// Refuses the whole file for why, at the byte offset at.
bool refuse(Problem& problem, qsizetype at, const QString& why)
{
    problem = {at, QString(), why};
    return false;
}

// The first thing wrong with a layer or cell block is the one it reports.
void noteFirst(std::optional<Problem>& problem, qsizetype at, const QString& where,
               const QString& why)
{
    if (!problem)
        problem = Problem{at, where, why};
}

// A tileset's whole-number attributes: the fact each one gives and, for those the remap may
// rewrite, where the site keeps its value's place.
struct TilesetNumber {
    const char* name;
    int64_t TilesetFacts::*fact;
    Span TilesetSite::*place;
};

constexpr TilesetNumber kTilesetNumbers[] = {
    {"firstgid", &TilesetFacts::firstGid, &TilesetSite::firstGid},
    {"tilewidth", &TilesetFacts::tileWidth, nullptr},
    {"tileheight", &TilesetFacts::tileHeight, nullptr},
    {"spacing", &TilesetFacts::spacing, &TilesetSite::spacing},
    {"margin", &TilesetFacts::margin, &TilesetSite::margin},
    {"tilecount", &TilesetFacts::tileCount, &TilesetSite::tileCount},
    {"columns", &TilesetFacts::columns, &TilesetSite::columns},
};

class XmlScanner
{
  public:
    XmlScanner(const QByteArray& bytes, const QString& folder, LevelSites& sites)
        : bytes_(bytes), folder_(folder), sites_(sites), reader_(bytes), offsets_(bytes)
    {
    }

    bool run(Problem& problem)
    {
        while (!reader_.atEnd()) {
            const QXmlStreamReader::TokenType token = reader_.readNext();
            if (token == QXmlStreamReader::StartDocument) {
                const QStringView encoding = reader_.documentEncoding();
                if (!encoding.isEmpty() && encoding.compare(u"utf-8", Qt::CaseInsensitive) != 0)
                    return refuse(problem, 0,
                                  QStringLiteral("the file is written in %1; only UTF-8 is read")
                                      .arg(encoding.toString()));
            } else if (token == QXmlStreamReader::DTD) {
                // Text expanded from the file's own entities stands nowhere in the file.
                if (!reader_.entityDeclarations().isEmpty())
                    return refuse(problem, offsets_.byteAt(reader_.characterOffset()),
                                  QStringLiteral("the file declares entities of its own, which "
                                                 "are not read here"));
            } else if (token == QXmlStreamReader::StartElement) {
                if (!startElement(problem))
                    return false;
            } else if (token == QXmlStreamReader::EndElement) {
                if (!endElement(problem))
                    return false;
            }
        }
        if (reader_.hasError())
            return refuse(problem, offsets_.byteAt(reader_.characterOffset()),
                          QStringLiteral("the XML is malformed (%1)").arg(reader_.errorString()));
        return true;
    }

  private:
    struct Open {
        Kind kind;
        qsizetype tagBegin;
        qsizetype tagEnd;
        int block = -1;      // Data, Chunk: the cell block its tiles go to
        int entry = -1;      // TileDef, WangTile: its entry in the tileset
        bool chunks = false; // Data: held chunks
        bool onlyId = false; // TileDef: has no other attribute
    };

    bool startElement(Problem& problem)
    {
        const qsizetype tagEnd = offsets_.byteAt(reader_.characterOffset());
        // '<' cannot stand inside an attribute value, so the last one opens this tag.
        const qsizetype tagBegin = bytes_.lastIndexOf('<', tagEnd - 1);
        if (!isTag(tagBegin, tagEnd, problem))
            return false;
        const Kind kind =
            classify(stack_.empty() ? Kind::File : stack_.back().kind, reader_.name());
        if (stack_.empty()) {
            if (kind == Kind::Other)
                return refuse(problem, tagBegin,
                              QStringLiteral("it is neither a map nor a tileset nor a template "
                                             "(it starts with <%1>)")
                                  .arg(reader_.name().toString()));
            sites_.isTileset = kind == Kind::Tileset;
            sites_.isTemplate = kind == Kind::Template;
        }
        stack_.push_back({kind, tagBegin, tagEnd});
        if (kind != Kind::Other) {
            readTag(bytes_, tagBegin, tagEnd, tag_);
            start(stack_.back());
        }
        return true;
    }

    bool endElement(Problem& problem)
    {
        const qsizetype closeEnd = offsets_.byteAt(reader_.characterOffset());
        const Open open = stack_.back();
        stack_.pop_back();
        // A self-closing tag reads nothing more before its end.
        const qsizetype contentEnd =
            closeEnd == open.tagEnd ? open.tagEnd : bytes_.lastIndexOf('<', closeEnd - 1);
        if (contentEnd < open.tagEnd ||
            !isTag(contentEnd == open.tagEnd ? open.tagBegin : contentEnd, closeEnd, problem))
            return false;
        finish(open, contentEnd, closeEnd);
        return true;
    }

    // Whether [begin, end) is a tag, as the reader's offsets promise; a defence against text the
    // offsets cannot follow.
    bool isTag(qsizetype begin, qsizetype end, Problem& problem) const
    {
        if (begin >= 0 && end > begin && end <= bytes_.size() && bytes_[begin] == '<' &&
            bytes_[end - 1] == '>')
            return true;
        return refuse(problem, std::max<qsizetype>(begin, 0),
                      QStringLiteral("the XML could not be followed here"));
    }

    // Every element below a tileset's belongs to the tileset read last; frames and properties to
    // the <tile> two levels up.
    void start(Open& open)
    {
        switch (open.kind) {
        case Kind::Map: {
            infinite_ = attributeText("infinite") == u"1";
            int64_t level = -1;
            if (parseWholeNumber(text(attribute("compressionlevel")), true, level))
                sites_.compressionLevel = int(std::clamp<int64_t>(level, -1, 22));
            return;
        }
        case Kind::Tileset:
            return startTileset(open);
        case Kind::TilesetImage: {
            TilesetSite& site = sites_.tilesets.back();
            site.facts.image = attributeText("source");
            readNumber(site, site.imageWidth = attribute("width"), site.facts.imageWidth);
            readNumber(site, site.imageHeight = attribute("height"), site.facts.imageHeight);
            return;
        }
        case Kind::TileDef:
        case Kind::WangTile:
            return addEntry(open);
        case Kind::Frame:
            if (const Span value = attribute("tileid"); value.valid() && outerEntry())
                outerEntry()->frames.push_back(value);
            return;
        case Kind::TileProperty:
            // One whose value is its text (several lines) names no tile.
            if (const Span value = attribute("value"); value.valid() && outerEntry())
                outerEntry()->properties.push_back({attributeText("name"), value});
            return;
        case Kind::TerrainTypes:
            sites_.tilesets.back().sets.push_back({{}, {open.tagBegin, -1}, true});
            return;
        case Kind::WangSet:
            ++sites_.tilesets.back().lists;
            sites_.tilesets.back().sets.push_back(
                {attributeText("name"), {open.tagBegin, -1}, false});
            [[fallthrough]];
        case Kind::WangColor:
        case Kind::Terrain:
            // The representative tile; -1 is none.
            if (const Span value = attribute("tile"); value.valid())
                sites_.tilesets.back().ids.push_back({value, true});
            return;
        case Kind::Layer:
        case Kind::ObjectLayer:
            return startLayer(open);
        case Kind::Data:
            return startData(open);
        case Kind::Chunk:
            return startChunk(open);
        case Kind::DataTile:
            return addCell(open);
        case Kind::Object:
            return addObject(open);
        default:
            return;
        }
    }

    void finish(const Open& open, qsizetype contentEnd, qsizetype closeEnd)
    {
        if (open.kind == Kind::Tileset) {
            sites_.tilesets.back().whole = {open.tagBegin, closeEnd};
        } else if (open.kind == Kind::WangSet || open.kind == Kind::TerrainTypes) {
            sites_.tilesets.back().sets.back().whole.end = closeEnd;
        } else if (open.entry >= 0) {
            TileEntry& entry = sites_.tilesets.back().entries[size_t(open.entry)];
            entry.whole.end = closeEnd;
            entry.empty = open.onlyId && isBlankText(open.tagEnd, contentEnd);
        } else if (open.kind == Kind::Chunk && open.block >= 0) {
            setText(sites_.blocks[size_t(open.block)], open.tagEnd, contentEnd);
        } else if (open.kind == Kind::Data && !open.chunks) {
            // A layer of an infinite map holds its cells in chunks; without any it is empty.
            if (infinite_ && open.block < 0 && isBlankText(open.tagEnd, contentEnd))
                return;
            const int index = open.block >= 0 ? open.block : newBlock(open.tagBegin);
            CellBlock& block = sites_.blocks[size_t(index)];
            if (block.form != CellBlock::Form::Numbers)
                setText(block, open.tagEnd, contentEnd);
        }
    }

    bool isBlankText(qsizetype begin, qsizetype end) const
    {
        return std::all_of(bytes_.begin() + begin, bytes_.begin() + end, isBlank);
    }

    void startTileset(const Open& open)
    {
        TilesetSite site;
        site.at = open.tagBegin;
        site.facts.folder = folder_;
        site.facts.name = attributeText("name");
        const QString source = attributeText("source");
        if (!sites_.isTileset && !source.isEmpty())
            site.facts.file = pathFrom(folder_, source);
        // A missing spacing goes after the tile height, as the attributes are usually ordered, with
        // the same blanks before it; without a tile height, after the last attribute.
        site.spacingInsertAt = tag_.nameEnd;
        QByteArray gap = " ";
        bool placed = false;
        for (const RawAttribute& raw : tag_.attributes) {
            for (const TilesetNumber& number : kTilesetNumbers) {
                if (raw.name != number.name)
                    continue;
                if (number.place)
                    site.*number.place = raw.value;
                readNumber(site, raw.value, site.facts.*number.fact);
            }
            if (!placed) {
                site.spacingInsertAt = raw.end;
                gap = text(raw.gap).toByteArray();
                placed = raw.name == "tileheight";
            }
        }
        site.spacingPrefix = gap + "spacing=\"";
        site.marginPrefix = gap + "margin=\"";
        site.spacingSuffix = "\"";
        sites_.tilesets.push_back(std::move(site));
    }

    // A <tile> entry of the tileset, or a Wang tile in the list of the Wang set read last.
    void addEntry(Open& open)
    {
        const bool wang = open.kind == Kind::WangTile;
        TilesetSite& site = sites_.tilesets.back();
        TileEntry entry;
        entry.list = wang ? site.lists - 1 : 0;
        entry.id = attribute(wang ? "tileid" : "id");
        entry.whole.begin = open.tagBegin;
        if (!entry.id.valid())
            return;
        open.entry = int(site.entries.size());
        open.onlyId = !wang && tag_.attributes.size() == 1;
        site.entries.push_back(std::move(entry));
    }

    // The entry of the <tile> two levels up; null when it has none.
    TileEntry* outerEntry()
    {
        const Open& tile = stack_[stack_.size() - 3];
        return tile.entry >= 0 ? &sites_.tilesets.back().entries[size_t(tile.entry)] : nullptr;
    }

    // What a layer's tag says of each block of its cells; an object layer, only its name.
    void startLayer(const Open& open)
    {
        CellBlock& layer = layers_.emplace_back();
        layer.where = QStringLiteral("layer %1").arg(quotedPath(attributeText("name")));
        if (open.kind == Kind::ObjectLayer)
            return;
        for (const char* name : {"width", "height"})
            if (!readInt32(name, false, name[0] == 'w' ? layer.width : layer.height))
                layer.problem =
                    Problem{open.tagBegin, layer.where,
                            QStringLiteral("its %1 is not a size").arg(QString::fromLatin1(name))};
    }

    // The data's form and compression hold for its chunks too; what is wrong with them, for every
    // block of the data.
    void startData(const Open& open)
    {
        const QString encoding = attributeText("encoding");
        const QString compression = attributeText("compression");
        const auto refuseData = [&](const QString& why) {
            dataProblem_ = Problem{open.tagBegin, layers_.back().where, why};
        };
        dataProblem_.reset();
        if (encoding.isEmpty())
            dataForm_ = CellBlock::Form::Numbers;
        else if (encoding == u"csv")
            dataForm_ = CellBlock::Form::CommaList;
        else if (encoding == u"base64")
            dataForm_ = CellBlock::Form::Base64;
        else
            refuseData(QStringLiteral("the encoding %1 is unknown").arg(quotedPath(encoding)));
        const auto method = layerCompressionNamed(compression);
        dataCompression_ = method.value_or(LayerCompression::None);
        if (!method)
            refuseData(
                QStringLiteral("the compression %1 is unknown").arg(quotedPath(compression)));
        if (dataCompression_ != LayerCompression::None && dataForm_ != CellBlock::Form::Base64)
            refuseData(QStringLiteral("only base64 data can be compressed"));
    }

    // A block of cells of the layer read last, starting at at; its index.
    int newBlock(qsizetype at)
    {
        CellBlock& block = sites_.blocks.emplace_back(layers_.back());
        block.form = dataForm_;
        block.compression = dataCompression_;
        block.at = at;
        if (!block.problem)
            block.problem = dataProblem_;
        return int(sites_.blocks.size()) - 1;
    }

    void startChunk(Open& open)
    {
        Open& data = stack_[stack_.size() - 2];
        data.chunks = true;
        open.block = newBlock(open.tagBegin);
        CellBlock& block = sites_.blocks[size_t(open.block)];
        block.problem = dataProblem_;
        if (data.block >= 0)
            noteFirst(block.problem, open.tagBegin, block.where,
                      QStringLiteral("the data mixes chunks and tiles"));
        int64_t* targets[] = {&block.originX, &block.originY, &block.width, &block.height};
        const char* names[] = {"x", "y", "width", "height"};
        for (int i = 0; i < 4; ++i) {
            if (!readInt32(names[i], i < 2, *targets[i])) {
                *targets[i] = 0;
                noteFirst(block.problem, open.tagBegin, block.where,
                          QStringLiteral("the chunk's %1 is not a number")
                              .arg(QString::fromLatin1(names[i])));
            }
        }
        block.where += QStringLiteral(", chunk at (%1, %2)").arg(block.originX).arg(block.originY);
    }

    void addCell(const Open& open)
    {
        Open& parent = stack_[stack_.size() - 2];
        if (parent.kind == Kind::Data && parent.chunks)
            return; // a stray tile beside chunks; the chunks already carry the complaint
        if (parent.block < 0)
            parent.block = newBlock(parent.tagBegin);
        CellBlock& block = sites_.blocks[size_t(parent.block)];
        if (block.form == CellBlock::Form::Numbers)
            block.numbers.push_back(attribute("gid"));
        else
            noteFirst(block.problem, open.tagBegin, block.where,
                      QStringLiteral("the data holds <tile> elements, but says it is encoded"));
    }

    void addObject(const Open& open)
    {
        const QString where =
            layers_.empty()
                ? QStringLiteral("object")
                : layers_.back().where + QStringLiteral(", object %1").arg(attributeText("id"));
        if (const Span gid = attribute("gid"); gid.valid())
            sites_.objects.push_back({gid, open.tagBegin, where});
        addTemplate(sites_, folder_, attributeText("template"), open.tagBegin, where);
    }

    void setText(CellBlock& block, qsizetype begin, qsizetype end)
    {
        // The blanks around the cells stay as they stood.
        while (begin < end && isBlank(bytes_[begin]))
            ++begin;
        while (end > begin && isBlank(bytes_[end - 1]))
            --end;
        block.text = {begin, end};
    }

    // An attribute of the current element with its entities resolved.
    QString attributeText(const char* name) const
    {
        return reader_.attributes().value(QLatin1StringView(name)).toString();
    }

    // Where the value of the current element's attribute name stands (inside the quotes); invalid
    // when it has none.
    Span attribute(QByteArrayView name) const
    {
        for (const RawAttribute& raw : tag_.attributes)
            if (raw.name == name)
                return raw.value;
        return {};
    }

    // The named attribute's whole number (signed where allowSign) when it fits in 32 bits.
    bool readInt32(const char* name, bool allowSign, int64_t& target) const
    {
        return parseWholeNumber(text(attribute(name)), allowSign, target) &&
               target >= INT32_MIN && target <= INT32_MAX;
    }

    QByteArrayView text(Span span) const
    {
        return span.valid() ? QByteArrayView(bytes_).sliced(span.begin, span.size())
                            : QByteArrayView();
    }

    // An absent value leaves the fact as it is.
    void readNumber(TilesetSite& site, Span value, int64_t& target)
    {
        if (value.valid())
            readTilesetNumber(site, bytes_, value, false,
                              QStringLiteral("tileset %1").arg(quotedPath(site.facts.name)),
                              target);
    }

    const QByteArray& bytes_;
    QString folder_;
    LevelSites& sites_;
    QXmlStreamReader reader_;
    ByteOffsets offsets_;
    std::vector<Open> stack_;
    RawTag tag_; // the current element's
    std::vector<CellBlock> layers_;
    CellBlock::Form dataForm_ = CellBlock::Form::Numbers;
    LayerCompression dataCompression_ = LayerCompression::None;
    std::optional<Problem> dataProblem_;
    bool infinite_ = false;
};

QByteArray escapedXml(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

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

TileDataParts xmlParts(QByteArrayView text)
{
    TileDataParts parts;
    QXmlStreamReader xml(text.toByteArray());
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement)
        return parts;
    for (const QXmlStreamAttribute& attribute : xml.attributes())
        if (!isTileIdKey(attribute.name().toString()))
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

// An element leaves with the blanks before it, so that its line goes.
class XmlEdits : public LevelEdits
{
  public:
    TileDataParts dataParts(QByteArrayView entry, bool) const override
    {
        return entry.isEmpty() ? TileDataParts{} : xmlParts(entry);
    }

    void removeEntries(const TilesetSite& site, const std::vector<bool>& removed,
                       const QByteArray& bytes, TextSplice& splice) const override
    {
        for (size_t i = 0; i < site.entries.size(); ++i)
            if (removed[i])
                removeElement(site.entries[i].whole, bytes, splice);
    }

    void removeTilesets(const std::vector<TilesetSite>& tilesets, const std::vector<bool>& removed,
                        const QByteArray& bytes, TextSplice& splice) const override
    {
        for (size_t t = 0; t < tilesets.size(); ++t)
            if (removed[t])
                removeElement(tilesets[t].whole, bytes, splice);
    }

    QByteArray atlasTileset(const AtlasTileset& atlas) const override
    {
        QByteArray text;
        if (atlas.firstGid > 0)
            text += "<tileset firstgid=\"" + QByteArray::number(atlas.firstGid) + "\"";
        if (!atlas.source.isEmpty())
            return text + " source=\"" + escapedXml(atlas.source) + "\"/>";
        if (atlas.firstGid == 0)
            text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset version=\"1.10\"";
        const auto number = [](const char* name, int64_t value) {
            return QByteArray(" ") + name + "=\"" + QByteArray::number(value) + "\"";
        };
        text += " name=\"" + escapedXml(atlas.name) + "\"" + number("tilewidth", atlas.tileWidth) +
                number("tileheight", atlas.tileHeight);
        if (atlas.spacing != 0)
            text += number("spacing", atlas.spacing);
        if (atlas.margin != 0)
            text += number("margin", atlas.margin);
        text += number("tilecount", atlas.tileCount) + number("columns", atlas.columns) + ">\n";
        const QByteArray inner = atlas.indent + ' ';
        text += inner + "<image source=\"" + escapedXml(atlas.image) + "\"" +
                number("width", atlas.imageWidth) + number("height", atlas.imageHeight) + "/>\n";
        if (!atlas.terrains.isEmpty())
            text += inner + atlas.terrains + '\n';
        for (const QByteArray& tile : atlas.tiles)
            text += inner + tile + '\n';
        if (!atlas.wangSets.empty()) {
            text += inner + "<wangsets>\n";
            for (const QByteArray& set : atlas.wangSets)
                text += inner + ' ' + set + '\n';
            text += inner + "</wangsets>\n";
        }
        return text + atlas.indent + "</tileset>" + (atlas.firstGid == 0 ? "\n" : "");
    }

  private:
    static void removeElement(Span whole, const QByteArray& bytes, TextSplice& splice)
    {
        qsizetype begin = whole.begin;
        while (begin > 0 && isBlank(bytes[begin - 1]))
            --begin;
        splice.replace({begin, whole.end}, {});
    }
};

class TmxFormat : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("TMX, TSX, TX"); }
    QString tilesetNames() const override { return QStringLiteral("TSX"); }
    QStringList patterns() const override
    {
        return {QStringLiteral("*.tmx"), QStringLiteral("*.tsx"), QStringLiteral("*.tx")};
    }
    bool claimsName(const QString& suffix) const override
    {
        return LevelFormat::claimsName(suffix) || suffix.compare(u"xml", Qt::CaseInsensitive) == 0;
    }
    bool claimsContent(char first) const override { return first == '<'; }

    bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
              Problem& problem) const override
    {
        if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff"))
            return refuse(problem, 0,
                          QStringLiteral("the file is UTF-16 text; only UTF-8 is read"));
        if (!isUtf8(bytes))
            return refuse(problem, 0, QStringLiteral("the file is not UTF-8 text"));
        static const XmlEdits edits;
        sites.edits = &edits;
        return XmlScanner(asciiAsUtf8(bytes), context.folder, sites).run(problem);
    }
};

} // namespace

const LevelFormat& tmxFormat()
{
    static const TmxFormat format;
    return format;
}
