#include "level/formats/tmx/tmx_format.h"

#include <QStringDecoder>
#include <QXmlStreamReader>

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

// Each element that matters, under the parent it matters in.
struct ChildRule {
    Kind parent;
    const char16_t* name;
    Kind kind;
};

constexpr ChildRule kChildRules[] = {
    {Kind::File, u"map", Kind::Map},
    {Kind::File, u"tileset", Kind::Tileset},
    {Kind::File, u"template", Kind::Template},
    {Kind::Template, u"tileset", Kind::Tileset},
    {Kind::Template, u"object", Kind::Object},
    {Kind::Map, u"tileset", Kind::Tileset},
    {Kind::Map, u"layer", Kind::Layer},
    {Kind::Map, u"objectgroup", Kind::ObjectLayer},
    {Kind::Map, u"group", Kind::Group},
    {Kind::Group, u"layer", Kind::Layer},
    {Kind::Group, u"objectgroup", Kind::ObjectLayer},
    {Kind::Group, u"group", Kind::Group},
    {Kind::Tileset, u"image", Kind::TilesetImage},
    {Kind::Tileset, u"tile", Kind::TileDef},
    {Kind::Tileset, u"wangsets", Kind::WangSets},
    {Kind::Tileset, u"terraintypes", Kind::TerrainTypes},
    {Kind::TileDef, u"animation", Kind::Animation},
    {Kind::TileDef, u"properties", Kind::TileProperties},
    {Kind::TileProperties, u"property", Kind::TileProperty},
    {Kind::Animation, u"frame", Kind::Frame},
    {Kind::WangSets, u"wangset", Kind::WangSet},
    {Kind::WangSet, u"wangcolor", Kind::WangColor},
    {Kind::WangSet, u"wangcornercolor", Kind::WangColor},
    {Kind::WangSet, u"wangedgecolor", Kind::WangColor},
    {Kind::WangSet, u"wangtile", Kind::WangTile},
    {Kind::TerrainTypes, u"terrain", Kind::Terrain},
    {Kind::Layer, u"data", Kind::Data},
    {Kind::Data, u"chunk", Kind::Chunk},
    {Kind::Data, u"tile", Kind::DataTile},
    {Kind::Chunk, u"tile", Kind::DataTile},
    {Kind::ObjectLayer, u"object", Kind::Object},
};

Kind classify(Kind parent, QStringView name)
{
    for (const ChildRule& rule : kChildRules)
        if (rule.parent == parent && name == QStringView(rule.name))
            return rule.kind;
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

// Walks the attributes of a start tag in the raw text, giving each value's span (inside quotes).
class TagAttributes
{
  public:
    TagAttributes(const QByteArray& bytes, qsizetype tagBegin, qsizetype tagEnd)
        : bytes_(bytes), at_(tagBegin + 1), end_(tagEnd)
    {
        while (at_ < end_ && !isBlank(bytes_[at_]) && bytes_[at_] != '/' && bytes_[at_] != '>')
            ++at_;
        afterLast_ = at_;
    }

    bool next()
    {
        gapBegin_ = at_;
        while (at_ < end_ && isBlank(bytes_[at_]))
            ++at_;
        if (at_ >= end_ || bytes_[at_] == '/' || bytes_[at_] == '>')
            return false;
        const qsizetype nameBegin = at_;
        while (at_ < end_ && bytes_[at_] != '=' && !isBlank(bytes_[at_]))
            ++at_;
        nameBegin_ = nameBegin;
        name_ = QByteArrayView(bytes_).sliced(nameBegin, at_ - nameBegin);
        while (at_ < end_ && bytes_[at_] != '"' && bytes_[at_] != '\'')
            ++at_;
        if (at_ >= end_)
            return false;
        const char quote = bytes_[at_++];
        value_.begin = at_;
        while (at_ < end_ && bytes_[at_] != quote)
            ++at_;
        value_.end = at_;
        if (at_ < end_)
            ++at_;
        afterLast_ = at_;
        return true;
    }

    QByteArrayView name() const { return name_; }
    Span value() const { return value_; }
    // The blanks before this attribute's name.
    QByteArrayView gap() const
    {
        return QByteArrayView(bytes_).sliced(gapBegin_, nameBegin_ - gapBegin_);
    }
    // Just after the last attribute read (after the tag's name when none was).
    qsizetype afterLast() const { return afterLast_; }

  private:
    const QByteArray& bytes_;
    qsizetype at_;
    qsizetype end_;
    qsizetype gapBegin_ = 0;
    qsizetype nameBegin_ = 0;
    qsizetype afterLast_ = 0;
    QByteArrayView name_;
    Span value_;
};

Span attributeSpan(const QByteArray& bytes, qsizetype tagBegin, qsizetype tagEnd,
                   QByteArrayView name)
{
    TagAttributes attributes(bytes, tagBegin, tagEnd);
    while (attributes.next())
        if (attributes.name() == name)
            return attributes.value();
    return {};
}

bool isUtf8(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (uchar(c) >= 0x80) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString text = decoder.decode(bytes);
            return !decoder.hasError();
        }
    }
    return true;
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

struct LayerFacts {
    QString where;
    int64_t width = 0;
    int64_t height = 0;
    std::optional<Problem> problem;
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
                if (!encoding.isEmpty() && encoding.compare(u"utf-8", Qt::CaseInsensitive) != 0) {
                    problem = {0, QString(),
                               QStringLiteral("the file is written in %1; only UTF-8 is read")
                                   .arg(encoding.toString())};
                    return false;
                }
            } else if (token == QXmlStreamReader::DTD) {
                // Text expanded from the file's own entities stands nowhere in the file.
                if (!reader_.entityDeclarations().isEmpty()) {
                    problem = {offsets_.byteAt(reader_.characterOffset()), QString(),
                               QStringLiteral("the file declares entities of its own, which are "
                                              "not read here")};
                    return false;
                }
            } else if (token == QXmlStreamReader::StartElement) {
                const qsizetype tagEnd = offsets_.byteAt(reader_.characterOffset());
                // '<' cannot stand inside an attribute value, so the last one opens this tag.
                const qsizetype tagBegin = bytes_.lastIndexOf('<', tagEnd - 1);
                if (!isTag(tagBegin, tagEnd, problem))
                    return false;
                const Kind kind =
                    classify(stack_.empty() ? Kind::File : stack_.back().kind, reader_.name());
                if (stack_.empty()) {
                    if (kind == Kind::Other) {
                        problem = {tagBegin, QString(),
                                   QStringLiteral("it is neither a map nor a tileset nor a "
                                                  "template (it starts with <%1>)")
                                       .arg(reader_.name().toString())};
                        return false;
                    }
                    sites_.isTileset = kind == Kind::Tileset;
                    sites_.isTemplate = kind == Kind::Template;
                }
                stack_.push_back({kind, tagBegin, tagEnd});
                start(stack_.back());
            } else if (token == QXmlStreamReader::EndElement) {
                const qsizetype closeEnd = offsets_.byteAt(reader_.characterOffset());
                const Open open = stack_.back();
                stack_.pop_back();
                // A self-closing tag reads nothing more before its end.
                const qsizetype contentEnd =
                    closeEnd == open.tagEnd ? open.tagEnd : bytes_.lastIndexOf('<', closeEnd - 1);
                if (contentEnd < open.tagEnd ||
                    !isTag(contentEnd == open.tagEnd ? open.tagBegin : contentEnd, closeEnd,
                           problem))
                    return false;
                finish(open, contentEnd, closeEnd);
            }
        }
        if (reader_.hasError()) {
            problem = {offsets_.byteAt(reader_.characterOffset()), QString(),
                       QStringLiteral("the XML is malformed (%1)").arg(reader_.errorString())};
            return false;
        }
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
    };

    // Whether [begin, end) is a tag, as the reader's offsets promise; a defence against text the
    // offsets cannot follow.
    bool isTag(qsizetype begin, qsizetype end, Problem& problem) const
    {
        if (begin >= 0 && end > begin && end <= bytes_.size() && bytes_[begin] == '<' &&
            bytes_[end - 1] == '>')
            return true;
        problem = {std::max<qsizetype>(begin, 0), QString(),
                   QStringLiteral("the XML could not be followed here")};
        return false;
    }

    void start(Open& open)
    {
        switch (open.kind) {
        case Kind::Map:
            infinite_ = attributeText("infinite") == u"1";
            if (const Span span = attribute(open, "compressionlevel"); span.valid()) {
                int64_t level = -1;
                if (parseWholeNumber(text(span), true, level))
                    sites_.compressionLevel = int(std::clamp<int64_t>(level, -1, 22));
            }
            break;
        case Kind::Tileset:
            startTileset(open);
            break;
        case Kind::TilesetImage:
            startImage(open);
            break;
        case Kind::TileDef:
            addEntry(open, "id", 0);
            break;
        case Kind::WangTile:
            if (!sites_.tilesets.empty())
                addEntry(open, "tileid", sites_.tilesets.back().lists - 1);
            break;
        case Kind::Frame:
            addFrame(open);
            break;
        case Kind::TileProperty:
            addProperty(open);
            break;
        case Kind::WangSet:
            if (!sites_.tilesets.empty())
                ++sites_.tilesets.back().lists;
            addTileId(open, "tile", true);
            break;
        case Kind::WangColor:
        case Kind::Terrain:
            addTileId(open, "tile", true);
            break;
        case Kind::Layer:
            startLayer(open);
            break;
        case Kind::Data:
            startData(open);
            break;
        case Kind::Chunk:
            startChunk(open);
            break;
        case Kind::DataTile:
            addCell(open);
            break;
        case Kind::ObjectLayer:
            layers_.push_back({layerWhere(), 0, 0, {}});
            break;
        case Kind::Object: {
            const QString where =
                layers_.empty()
                    ? QStringLiteral("object")
                    : layers_.back().where + QStringLiteral(", object %1").arg(attributeText("id"));
            if (const Span gid = attribute(open, "gid"); gid.valid())
                sites_.objects.push_back({gid, open.tagBegin, where});
            addTemplate(sites_, folder_, attributeText("template"), open.tagBegin, where);
            break;
        }
        default:
            break;
        }
    }

    void finish(const Open& open, qsizetype contentEnd, qsizetype closeEnd)
    {
        if (open.entry >= 0) {
            TileEntry& entry = sites_.tilesets.back().entries[size_t(open.entry)];
            entry.whole.end = closeEnd;
            if (open.kind == Kind::TileDef) {
                TagAttributes attributes(bytes_, open.tagBegin, open.tagEnd);
                int count = 0;
                while (attributes.next())
                    ++count;
                entry.empty = count == 1 && isBlankText(open.tagEnd, contentEnd);
            }
        } else if (open.kind == Kind::Chunk && open.block >= 0) {
            setText(sites_.blocks[size_t(open.block)], open.tagEnd, contentEnd);
        } else if (open.kind == Kind::Data && !open.chunks) {
            // A layer of an infinite map holds its cells in chunks; without any it is empty.
            if (infinite_ && open.block < 0 && isBlankText(open.tagEnd, contentEnd))
                return;
            Open data = open;
            if (data.block < 0)
                newBlock(data, dataForm_);
            CellBlock& block = sites_.blocks[size_t(data.block)];
            if (block.form != CellBlock::Form::Numbers)
                setText(block, open.tagEnd, contentEnd);
        }
    }

    bool isBlankText(qsizetype begin, qsizetype end) const
    {
        for (qsizetype i = begin; i < end; ++i)
            if (!isBlank(bytes_[i]))
                return false;
        return true;
    }

    void startTileset(const Open& open)
    {
        TilesetSite site;
        site.at = open.tagBegin;
        TilesetFacts& facts = site.facts;
        facts.folder = folder_;
        facts.name = attributeText("name");
        const QString source = attributeText("source");
        if (!sites_.isTileset && !source.isEmpty())
            facts.file = pathFrom(folder_, source);
        TagAttributes attributes(bytes_, open.tagBegin, open.tagEnd);
        // A missing spacing goes after the tile height, as the attributes are usually ordered, with
        // the same blanks before it; without a tile height, after the last attribute.
        site.spacingInsertAt = attributes.afterLast();
        site.spacingPrefix = " spacing=\"";
        bool placed = false;
        while (attributes.next()) {
            const QByteArrayView name = attributes.name();
            const Span value = attributes.value();
            if (name == "firstgid")
                readNumber(site, value, facts.firstGid);
            else if (name == "tilewidth")
                readNumber(site, value, facts.tileWidth);
            else if (name == "tileheight")
                readNumber(site, value, facts.tileHeight);
            else if (name == "spacing")
                readNumber(site, site.spacing = value, facts.spacing);
            else if (name == "margin")
                readNumber(site, site.margin = value, facts.margin);
            else if (name == "tilecount")
                readNumber(site, site.tileCount = value, facts.tileCount);
            else if (name == "columns")
                readNumber(site, site.columns = value, facts.columns);
            if (!placed) {
                site.spacingInsertAt = attributes.afterLast();
                site.spacingPrefix = attributes.gap().toByteArray() + "spacing=\"";
                placed = name == "tileheight";
            }
        }
        site.spacingSuffix = "\"";
        sites_.tilesets.push_back(std::move(site));
    }

    void startImage(const Open& open)
    {
        TilesetSite& site = sites_.tilesets.back();
        site.facts.image = attributeText("source");
        site.imageWidth = attribute(open, "width");
        site.imageHeight = attribute(open, "height");
        if (site.imageWidth.valid())
            readNumber(site, site.imageWidth, site.facts.imageWidth);
        if (site.imageHeight.valid())
            readNumber(site, site.imageHeight, site.facts.imageHeight);
    }

    void addEntry(Open& open, QByteArrayView name, int list)
    {
        if (sites_.tilesets.empty())
            return;
        TilesetSite& site = sites_.tilesets.back();
        TileEntry entry;
        entry.list = list;
        entry.id = attribute(open, name);
        entry.whole.begin = open.tagBegin;
        if (!entry.id.valid())
            return;
        open.entry = int(site.entries.size());
        site.entries.push_back(std::move(entry));
    }

    // An animation frame's tile, inside the <tile> entry two levels up.
    void addFrame(const Open& open)
    {
        const Open& tile = stack_[stack_.size() - 3];
        const Span value = attribute(open, "tileid");
        if (tile.entry >= 0 && value.valid())
            sites_.tilesets.back().entries[size_t(tile.entry)].frames.push_back(value);
    }

    // A custom property of the <tile> entry two levels up; one whose value is its text (several
    // lines) names no tile.
    void addProperty(const Open& open)
    {
        const Open& tile = stack_[stack_.size() - 3];
        const Span value = attribute(open, "value");
        if (tile.entry >= 0 && value.valid())
            sites_.tilesets.back().entries[size_t(tile.entry)].properties.push_back(
                {attributeText("name"), value});
    }

    void addTileId(const Open& open, QByteArrayView name, bool noneAllowed)
    {
        if (sites_.tilesets.empty())
            return;
        if (const Span value = attribute(open, name); value.valid())
            sites_.tilesets.back().ids.push_back({value, noneAllowed});
    }

    QString layerWhere() const
    {
        return QStringLiteral("layer %1").arg(quotedPath(attributeText("name")));
    }

    void startLayer(const Open& open)
    {
        LayerFacts layer{layerWhere(), 0, 0, {}};
        for (const char* name : {"width", "height"}) {
            const Span value = attribute(open, name);
            int64_t& target = name[0] == 'w' ? layer.width : layer.height;
            if (!parseWholeNumber(text(value), false, target) || target > INT32_MAX)
                layer.problem =
                    Problem{open.tagBegin, layer.where,
                            QStringLiteral("its %1 is not a size").arg(QString::fromLatin1(name))};
        }
        layers_.push_back(layer);
    }

    void startData(Open& open)
    {
        const QString encoding = attributeText("encoding");
        const QString compression = attributeText("compression");
        dataProblem_.reset();
        dataCompression_ = LayerCompression::None;
        if (encoding.isEmpty()) {
            dataForm_ = CellBlock::Form::Numbers;
        } else if (encoding == u"csv") {
            dataForm_ = CellBlock::Form::CommaList;
        } else if (encoding == u"base64") {
            dataForm_ = CellBlock::Form::Base64;
        } else {
            dataProblem_ =
                Problem{open.tagBegin, layers_.back().where,
                        QStringLiteral("the encoding %1 is unknown").arg(quotedPath(encoding))};
        }
        if (const auto method = layerCompressionNamed(compression)) {
            dataCompression_ = *method;
        } else {
            dataProblem_ = Problem{
                open.tagBegin, layers_.back().where,
                QStringLiteral("the compression %1 is unknown").arg(quotedPath(compression))};
        }
        if (dataCompression_ != LayerCompression::None && dataForm_ != CellBlock::Form::Base64)
            dataProblem_ = Problem{open.tagBegin, layers_.back().where,
                                   QStringLiteral("only base64 data can be compressed")};
    }

    void newBlock(Open& open, CellBlock::Form form)
    {
        const LayerFacts& layer = layers_.back();
        CellBlock block;
        block.form = form;
        block.compression = dataCompression_;
        block.width = layer.width;
        block.height = layer.height;
        block.at = open.tagBegin;
        block.where = layer.where;
        block.problem = layer.problem ? layer.problem : dataProblem_;
        open.block = int(sites_.blocks.size());
        sites_.blocks.push_back(std::move(block));
    }

    void startChunk(Open& open)
    {
        Open& data = stack_[stack_.size() - 2];
        data.chunks = true;
        newBlock(open, dataForm_);
        CellBlock& block = sites_.blocks.back();
        block.problem = dataProblem_;
        if (data.block >= 0 && !block.problem)
            block.problem = Problem{open.tagBegin, block.where,
                                    QStringLiteral("the data mixes chunks and tiles")};
        int64_t* targets[] = {&block.originX, &block.originY, &block.width, &block.height};
        const char* names[] = {"x", "y", "width", "height"};
        for (int i = 0; i < 4; ++i) {
            const bool signedValue = i < 2;
            if (!parseWholeNumber(text(attribute(open, names[i])), signedValue, *targets[i]) ||
                *targets[i] > INT32_MAX || *targets[i] < INT32_MIN) {
                *targets[i] = 0;
                if (!block.problem)
                    block.problem = Problem{open.tagBegin, block.where,
                                            QStringLiteral("the chunk's %1 is not a number")
                                                .arg(QString::fromLatin1(names[i]))};
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
            newBlock(parent, dataForm_);
        CellBlock& block = sites_.blocks[size_t(parent.block)];
        if (block.form != CellBlock::Form::Numbers) {
            if (!block.problem)
                block.problem = Problem{open.tagBegin, block.where,
                                        QStringLiteral("the data holds <tile> elements, but "
                                                       "says it is encoded")};
            return;
        }
        block.numbers.push_back(attribute(open, "gid"));
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

    Span attribute(const Open& open, QByteArrayView name) const
    {
        return attributeSpan(bytes_, open.tagBegin, open.tagEnd, name);
    }

    QByteArrayView text(Span span) const
    {
        return span.valid() ? QByteArrayView(bytes_).sliced(span.begin, span.size())
                            : QByteArrayView();
    }

    void readNumber(TilesetSite& site, Span value, int64_t& target)
    {
        readTilesetNumber(site, bytes_, value, false,
                          QStringLiteral("tileset %1").arg(quotedPath(site.facts.name)), target);
    }

    const QByteArray& bytes_;
    QString folder_;
    LevelSites& sites_;
    QXmlStreamReader reader_;
    ByteOffsets offsets_;
    std::vector<Open> stack_;
    std::vector<LayerFacts> layers_;
    CellBlock::Form dataForm_ = CellBlock::Form::Numbers;
    LayerCompression dataCompression_ = LayerCompression::None;
    std::optional<Problem> dataProblem_;
    bool infinite_ = false;
};

} // namespace

namespace
{

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
        if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff")) {
            problem = {0, QString(), QStringLiteral("the file is UTF-16 text; only UTF-8 is read")};
            return false;
        }
        if (!isUtf8(bytes)) {
            problem = {0, QString(), QStringLiteral("the file is not UTF-8 text")};
            return false;
        }
        return XmlScanner(asciiAsUtf8(bytes), context.folder, sites).run(problem);
    }
};

} // namespace

const LevelFormat& tmxFormat()
{
    static const TmxFormat format;
    return format;
}
