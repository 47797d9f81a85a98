#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <vector>

#include "level/text_splice.h"
#include "level/tile_data_difference.h"
#include "tilemap/tile_symmetry.h"

struct TilesetSite;

// The one tileset of an atlas that replaces a map's tilesets of the sheets merged into it.
struct AtlasTileset {
    int64_t firstGid = 0;  // 0: the tileset is a file of its own
    QString source;        // set: only a reference to that file (relative), with firstGid
    QString name;
    QString image;         // relative to the file that holds the tileset
    int64_t tileWidth = 0;
    int64_t tileHeight = 0;
    int64_t margin = 0;
    int64_t spacing = 0;
    int64_t tileCount = 0;
    int64_t columns = 0;
    int64_t imageWidth = 0;
    int64_t imageHeight = 0;
    std::vector<QByteArray> tiles;     // its per-tile entries as written, in tile order
    std::vector<QByteArray> wangSets;  // its Wang sets as written
    QByteArray terrains;               // an older file's terrain types as written, or empty
    QByteArray indent;                 // the blanks before the tileset's own line
};

// How a format writes its own text, for the changes that are more than a new number.
class LevelEdits
{
  public:
    virtual ~LevelEdits() = default;
    // Takes the entries of site that removed marks out of the text, each with what separates it
    // from the others.
    virtual void removeEntries(const TilesetSite& site, const std::vector<bool>& removed,
                               const QByteArray& bytes, TextSplice& splice) const = 0;
    // The text of an atlas tileset, or empty when the format cannot write one yet.
    virtual QByteArray atlasTileset(const AtlasTileset&) const { return {}; }
    // Takes the map's tilesets that removed marks out of it, with what separates them from the
    // others; one at least stays.
    virtual void removeTilesets(const std::vector<TilesetSite>&, const std::vector<bool>&,
                                const QByteArray&, TextSplice&) const
    {
    }
    // The parts of the data of a tile's entry as written (see TileDataParts), for saying how two
    // tiles' data differ; keyed: the entry's members are properties (an older JSON file's
    // tileproperties). None when the format cannot tell them.
    virtual TileDataParts dataParts(QByteArrayView, bool) const { return {}; }
    // A value's text as it reads, the format's escapes undone; false when it cannot be read.
    virtual bool plainText(QByteArrayView written, QByteArray& plain) const;

    // Placed tiles: the turn that the flips as written show, and the flips for a turn (false
    // when the format cannot write it); and the text that adds flips to a tile that has none.
    virtual TileSymmetry symmetryOfFlips(int64_t flips) const;
    virtual bool flipsOf(TileSymmetry symmetry, int64_t& flips) const;
    virtual QByteArray newFlips(int64_t flips) const;
    // The largest flips value written.
    virtual int64_t maxFlips() const { return 0; }
    // The format's name, for "a way FORMAT cannot flip a tile".
    virtual QString name() const { return {}; }
    // What its files call a placed tile's number, its place in the image and its flips, for
    // messages.
    struct PlacedNames {
        QString number;
        QString place;
        QString flips;
    };
    virtual PlacedNames placedNames() const
    {
        return {QStringLiteral("tile id"), QStringLiteral("place"), QStringLiteral("flips")};
    }
};

// JSON's way: an item leaves with a comma beside it, and a string may write '/' as "\/".
const LevelEdits& jsonEdits();
// A string as JSON writes it, in its quotes.
QByteArray jsonString(const QString& text);
