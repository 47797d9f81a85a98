#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "level/tile_remap.h"
#include "level/tileset_facts.h"

// Global tile ids of a map under a remap: an id in [firstgid, firstgid + tilecount) of a tileset
// that shows the sheet names the tile's new number, and its flip bits say the cell's own turn
// followed by the turn that shows the new tile as the old one; every other id stays. The fourth
// flag bit (a hexagonal turn) is kept as it was.
class GidRemapper
{
  public:
    static constexpr uint32_t kFlagBits = 0xf0000000u;
    static constexpr uint32_t kOtherFlagBits = 0x10000000u;  // not a symmetry of the square

    // tilesets: all of the map's tilesets; isSheet: which show the sheet (their tile count already
    // checked against remap). remap must outlive the remapper, and so must named: when given, each
    // sheet tile that map() meets is marked there.
    GidRemapper(const std::vector<TilesetFacts>& tilesets, const std::vector<bool>& isSheet,
                const TileRemap& remap, std::vector<uint8_t>* named = nullptr);
    // A merge into an atlas: a tileset with a remap names atlas tiles from atlasFirst on (from its
    // own first gid when atlasFirst is 0); any other keeps its tiles, which start at newFirst[t]
    // (its own first gid when it stays).
    GidRemapper(const std::vector<TilesetFacts>& tilesets,
                const std::vector<const TileRemap*>& remaps, uint32_t atlasFirst,
                const std::vector<int64_t>& newFirst);

    // Empty when the tilesets' gid ranges can be told apart, otherwise why not.
    const QString& problem() const { return problem_; }

    // The gid's new value; false when it lies beyond the sheet tileset it belongs to (past its last
    // tile but before the next tileset's first gid) or names a dropped tile.
    bool map(uint32_t gid, uint32_t& result) const
    {
        const uint32_t id = gid & ~kFlagBits;
        for (const Range& range : ranges_) {
            if (id >= range.first && id < range.owned) {
                if (id >= range.end)
                    return false;
                const uint32_t tile = id - range.first;
                if (!range.remap) {
                    if (uint64_t(range.newFirst) + tile > ~kFlagBits)
                        return false;
                    result = (gid & kFlagBits) | (range.newFirst + tile);
                    return true;
                }
                if (named_)
                    (*named_)[tile] = 1;
                const int32_t now = range.remap->newIndexOf[tile];
                if (now < 0)
                    return false;
                // The cell showed its turn of the old tile, which is the new tile turned by the
                // tile's symmetry: both turns, the tile's first.
                const TileSymmetry turn =
                    TileSymmetry::ofGid(gid).after(range.remap->symmetry(tile));
                result =
                    (gid & kOtherFlagBits) | turn.gidBits() | (range.newFirst + uint32_t(now));
                return true;
            }
        }
        result = gid;
        return true;
    }

    // Why map() refused gid, in plain words.
    QString beyondReason(uint32_t gid) const;

  private:
    struct Range {
        uint32_t first;  // the sheet tileset's first gid
        uint32_t end;    // one past its last tile
        uint32_t owned;  // one past the last gid it owns: the next tileset's first gid
        QString label;
        const TileRemap* remap;  // null: the tiles only move to start at newFirst
        uint32_t newFirst;
    };
    // The tilesets by first gid; empty with problem_ when two cannot be told apart.
    std::vector<const TilesetFacts*> ordered(const std::vector<TilesetFacts>& tilesets);

    std::vector<Range> ranges_;
    std::vector<uint8_t>* named_;
    QString problem_;
};
