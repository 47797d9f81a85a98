#include "support/toy_level_format.h"

namespace {

class ToyEdits : public LevelEdits
{
  public:
    void removeEntries(const TilesetSite&, const std::vector<bool>&, const QByteArray&,
                       TextSplice&) const override
    {
    }
};

// The next word from at on: its span, empty at the end of the line or text.
Span nextWord(const QByteArray& bytes, qsizetype& at, bool crossLines)
{
    while (at < bytes.size() && isBlank(bytes[at]) && (crossLines || bytes[at] != '\n'))
        ++at;
    const qsizetype begin = at;
    while (at < bytes.size() && !isBlank(bytes[at]))
        ++at;
    return {begin, at};
}

class ToyFormat : public LevelFormat
{
  public:
    QString names() const override { return QStringLiteral("Toy"); }
    QStringList patterns() const override { return {QStringLiteral("*.toy")}; }

    bool scan(const QByteArray& bytes, const LevelContext& context, LevelSites& sites,
              Problem& problem) const override
    {
        static const ToyEdits edits;
        sites.edits = &edits;
        qsizetype at = 0;
        const Span head = nextWord(bytes, at, false);
        if (QByteArrayView(bytes).sliced(head.begin, head.size()) != "toy") {
            problem = {0, QString(), QStringLiteral("it is no toy level")};
            return false;
        }
        TilesetSite tileset;
        TilesetFacts& facts = tileset.facts;
        const Span image = nextWord(bytes, at, false);
        facts.image = QString::fromUtf8(bytes.sliced(image.begin, image.size()));
        facts.folder = context.folder;
        facts.name = QStringLiteral("toy");
        facts.firstGid = 1;
        readTilesetNumber(tileset, bytes, nextWord(bytes, at, false), false, facts.name,
                          facts.tileWidth);
        facts.tileHeight = facts.tileWidth;
        tileset.columns = nextWord(bytes, at, false);
        readTilesetNumber(tileset, bytes, tileset.columns, false, facts.name, facts.columns);
        tileset.tileCount = nextWord(bytes, at, false);
        readTilesetNumber(tileset, bytes, tileset.tileCount, false, facts.name, facts.tileCount);
        sites.tilesets.push_back(tileset);
        CellBlock cells;
        cells.form = CellBlock::Form::Numbers;
        cells.at = at;
        cells.where = QStringLiteral("cells");
        for (Span gid = nextWord(bytes, at, true); gid.size() > 0; gid = nextWord(bytes, at, true))
            cells.numbers.push_back(gid);
        cells.width = int64_t(cells.numbers.size());
        cells.height = 1;
        sites.blocks.push_back(cells);
        return true;
    }
};

}  // namespace

const LevelFormat& toyLevelFormat()
{
    static const ToyFormat format;
    return format;
}
