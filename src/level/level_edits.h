#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

#include "level/text_splice.h"
#include "tilemap/tile_symmetry.h"

struct TilesetSite;

// How a format writes its own text, for the changes that are more than a new number.
class LevelEdits
{
  public:
    virtual ~LevelEdits() = default;
    // Takes the entries of site that removed marks out of the text, each with what separates it
    // from the others.
    virtual void removeEntries(const TilesetSite& site, const std::vector<bool>& removed,
                               const QByteArray& bytes, TextSplice& splice) const = 0;
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
};

// JSON's way: an item leaves with a comma beside it, and a string may write '/' as "\/".
const LevelEdits& jsonEdits();
