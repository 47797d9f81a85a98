#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "document/problem.h"
#include "level/layer_codec.h"
#include "level/level_edits.h"
#include "level/level_remap.h"
#include "level/text_splice.h"
#include "level/tileset_facts.h"

// Everything in a map or tileset file that the remap may rewrite, found by the XML or JSON reader
// with its place in the text. The readers only find; remapSites() decides and rewrites, the same
// way for both formats.

// A tile number local to a tileset that only points at a tile: the representative tile of a Wang
// set, colour or terrain (which may be -1, none).
struct TileIdSite {
    Span value;
    bool noneAllowed = false;
};

// What a tileset keeps for one tile: a <tile> element or tiles[] object (properties, animation,
// collision shapes, terrain), a Wang tile of one Wang set, or an older JSON file's keyed
// properties. The entry goes where its tile goes, and leaves the file with a dropped tile.
// A custom property of a tile, with the place of its value (inside the quotes of a string).
struct TileProperty {
    QString name;
    Span value;
};

struct TileEntry {
    int list = 0;             // 0: the <tile> entries; entries of one list are one kind of data
    Span id;                  // the tile id (a key's text for keyed entries)
    Span whole;               // the element, object or member
    std::vector<Span> frames; // the tile ids of its animation frames
    // Its custom properties; those the run names as holding tile ids count like frames.
    std::vector<TileProperty> properties;
    bool empty = false; // it holds nothing but its id
    int container = -1; // JSON: the array or object holding it; -1: an XML element
    int item = 0;       // JSON: its place among the container's items
};

// A JSON array or object of entries, with the places of all its items (entries or not), so that
// items can be taken out with their commas.
struct EntryContainer {
    Span inside; // between the brackets
    std::vector<Span> items;
};

struct TilesetSite {
    TilesetFacts facts;
    qsizetype at = 0; // where the tileset starts
    Span whole;       // the whole tileset, where the format keeps it apart
    Span firstGid;    // the first gid's value, in a map
    // Its Wang sets (and an older file's terrain types) as written, each with its name.
    struct Set {
        QString name;
        Span whole;
        bool terrains = false; // the terrain types, which the tiles name by their place
    };
    std::vector<Set> sets;
    std::vector<TileIdSite> ids;
    std::vector<TileEntry> entries;
    std::vector<EntryContainer> containers;
    int lists = 1;      // entry lists so far: <tile> entries, then one per Wang set or keyed table
    bool keyed = false; // some entries are keyed by their tile id (an older JSON file)
    Span spacing;       // the spacing value; invalid when the file leaves it out
    Span margin;        // the same for the margin; a missing one goes with spacing
    qsizetype spacingInsertAt = -1; // where a missing spacing goes: prefix, the number, suffix
    QByteArray spacingPrefix;
    QByteArray marginPrefix; // the same for a missing margin
    QByteArray spacingSuffix;
    Span tileCount; // the tile count and columns values; invalid when absent
    Span columns;
    Span imageWidth; // the image size values; invalid when absent
    Span imageHeight;
    Span rows; // where the file states its rows
    // Per-tile caches the file keeps, one unit of width characters per tile in tile order.
    struct Cache {
        Span span;
        int width = 1;
    };
    std::vector<Cache> caches;
    QString where;     // the tileset's place in the file, for messages; may be empty
    QString dataWhere; // where its per-tile data is; empty: “tileset “name””
    // A value that could not be read; it matters only when the tileset shows the sheet.
    std::optional<Problem> problem;
};

// The cells of one layer or chunk, in one of the forms the files write them.
struct CellBlock {
    enum class Form {
        CommaList, // decimal gids separated by commas (XML csv, the inside of a JSON array)
        Numbers,   // gids already located one by one (XML <tile gid> elements); invalid: empty cell
        Base64,    // base64 of 32-bit little-endian gids, maybe compressed
    };
    Form form = Form::CommaList;
    Span text;                 // CommaList, Base64: the text of the cells
    bool escaped = false;      // written with the format's escapes, undone before it is read
    std::vector<Span> numbers; // Numbers
    LayerCompression compression = LayerCompression::None;
    int64_t width = 0;
    int64_t height = 0;
    int64_t originX = 0; // a chunk's position, for naming cells
    int64_t originY = 0;
    qsizetype at = 0;
    QString where;
    std::optional<Problem> problem; // the block cannot be read; matters for the sheet only
};

// A tile object's gid.
struct GidSite {
    Span value;
    qsizetype at = 0;
    QString where;
};

// An object placed through a template file, which holds its tile and that tile's tileset.
struct TemplateSite {
    QString file; // absolute
    qsizetype at = 0;
    QString where;
};

// A whole number in the text and where it stands.
struct NumberSite {
    Span span;
    int64_t value = 0;
    bool valid() const { return span.valid(); }
};

// A tile named by its number in the tileset keyed tileset, outside that tileset: a rule's tile,
// an enum tag, a saved selection. One in a list (NamedTileList) may leave it when dropped and
// stands once when merged; any other must stay unturned.
struct NamedTile {
    int64_t tileset = -1;
    NumberSite id; // value -1 when the text is no whole number
    QString where;
    int list = -1;
};

struct NamedTileList {
    Span elements;        // from the first element to the end of the last
    QByteArray separator; // as written between the first two
    bool tags = false;    // its tiles share a meaning (a tag), not only a place in the editor
};

// Named tiles [first, end) that are drawn as one block, laid out as they lie in the tileset.
struct TileStamp {
    size_t first = 0;
    size_t end = 0;
    QString where;
};

// A tile placed in a layer by its number and its pixel place in the image, with its flips.
struct PlacedTile {
    int64_t tileset = -1;
    NumberSite t;
    NumberSite x;
    NumberSite y;
    NumberSite flips; // invalid when left out (no flip); span.begin -2 when unreadable
    qsizetype at = 0;
    qsizetype end = 0; // where missing flips go
    int group = 0;     // its layer: an index into LevelSites::groupNames
    int index = 0;     // its place in the layer
};

// A rectangle of a tileset in pixels: an entity's tile, a field's value, an icon.
struct TileRect {
    NumberSite tileset;
    NumberSite x;
    NumberSite y;
    NumberSite w;
    NumberSite h;
    qsizetype at = 0;
    QString owner; // what shows it
    // The four numbers written as one text "x,y,w,h" (the numbers then have no span of their
    // own); invalid for numbers of their own.
    Span text;
};

struct LevelSites {
    const LevelEdits* edits = nullptr; // the format's own way of writing its text
    bool byGid = true; // cells and objects name tiles by global ids over all the tilesets
    // Cells of bare tile numbers that name no tileset: the fields of bareText between any of
    // bareSeparators. The sheet is the one the run names, its first tile is numbered
    // options.firstId, smaller numbers are empty cells, and the cells hold no flips.
    bool bare = false;
    Span bareText;
    QByteArray bareSeparators;
    bool isTileset = false;
    bool isTemplate = false; // a template file: one object and the tileset its gid counts in
    int compressionLevel = -1;
    std::vector<TilesetSite> tilesets;
    std::vector<CellBlock> blocks;
    std::vector<GidSite> objects;
    std::vector<TemplateSite> templates; // each template file once
    std::vector<NamedTile> named;
    std::vector<NamedTileList> lists;
    std::vector<TileStamp> stamps;
    std::vector<PlacedTile> placed;
    std::vector<QString> groupNames; // the layers of placed tiles, for messages
    std::vector<TileRect> rects;
    // The file whose tilesets the keyed sites name when this one defines none of its own (a level
    // file's project), with the keys they name; noun: what it is, for messages ("project").
    QString tilesetsFrom;
    QString tilesetsFromNoun;
    std::set<int64_t> drawnFrom;
    // Where the file names a tileset by its key outside the tileset itself (a layer's, an
    // entity's, a rectangle's tileset), and where a layer keeps a copy of the image of the
    // tileset it shows; a merge of sheets points them at the atlas's tileset.
    std::vector<NumberSite> tilesetKeys;
    struct ImageSite {
        Span text; // the string, quotes and all
        int64_t tileset = -1;
    };
    std::vector<ImageSite> tilesetImages;
    QStringList levelFiles; // files of its own that go with it and are remapped with it
};

// Notes that an object at `at` is placed through the template file source (relative to folder),
// once per file; an empty source is none.
void addTemplate(LevelSites& sites, const QString& folder, const QString& source, qsizetype at,
                 const QString& where);

struct LevelContext {
    const TileRemap& remap;
    const LevelRemapOptions& options;
    QString path;   // absolute
    QString folder; // the folder of path: where relative sources start
    const ExternalTilesetReader& readTileset;
    QString carriedBy; // the file this one goes along with (its map, its project); empty if none
};

// The tilesets a file's sites count in: its own (with their sites) and those it names in other
// files, then the tilesets of its templates' tiles.
struct LevelTilesets {
    std::vector<TilesetFacts> facts;
    std::vector<const TilesetSite*> sites; // null for a tileset only read from another file
    std::vector<QString> problems;         // what is wrong with a tileset file
    std::vector<TilesetFacts> templates;
};
std::optional<LevelBytesResult> readLevelTilesets(const LevelSites& sites, const QByteArray& bytes,
                                                  const LevelContext& context,
                                                  LevelTilesets& found);

class GidRemapper;
// Rewrites the gids of the cells and tile objects as gids says.
std::optional<LevelBytesResult> remapLevelGids(const LevelSites& sites, const QByteArray& bytes,
                                               const GidRemapper& gids, LevelBytesResult& result,
                                               TextSplice& splice);

// Carries a map through a merge of several sheets into one atlas (context.options.merge).
LevelBytesResult mergeSites(const LevelSites& sites, const QByteArray& bytes,
                            const LevelContext& context);

// Reads a tileset's value at span (the whole number the format wrote, signed where allowSign)
// into target when it lies in [0, 2^31); otherwise target becomes -1 and, unless one is noted
// already, the tileset's problem is "“text” is not a whole number" at the value, in where.
void readTilesetNumber(TilesetSite& site, QByteArrayView bytes, Span span, bool allowSign,
                       const QString& where, int64_t& target);

// A whole number within [0, 2^32) written with decimal digits only.
bool parseGid(QByteArrayView text, uint32_t& gid);

// Moves the entries that a tileset keeps for its tiles (site.entries, site.ids) with their
// tiles: merged tiles keep one entry when their data are the same and are refused naming both when
// they differ, and a dropped tile's entries leave the file. use, when set, notes the animations.
// The values of the properties that tileProperties names (see matchesTileProperty) are tile ids
// of this tileset, kept and renumbered as animation frames are.
std::optional<Problem> remapTileData(const TilesetSite& site, const QByteArray& bytes,
                                     const TileRemap& remap, const QString& where,
                                     TextSplice& splice, qint64& moved, TileUse* use,
                                     const QStringList& tileProperties, const LevelEdits& edits);

// Folds what one tileset keeps for each of the sheet's tiles (here, as many as use.named) into
// what the tilesets read before said of them.
void foldTileData(TileUse& use, std::vector<TileData> here);

// Rewrites bare tile numbers (LevelSites::bare).
LevelBytesResult remapBareNumbers(const LevelSites& sites, const QByteArray& bytes,
                                  const LevelContext& context);

// Chooses the sheet among the sites' tilesets and rewrites what names its tiles.
LevelBytesResult remapSites(const LevelSites& sites, const QByteArray& bytes,
                            const LevelContext& context);

struct SheetChoice;
// The result of a file whose tilesets leave no sheet to remap (choice's verdict is not Use): one
// carried along that shows none of it stays as it is; any other is skipped or refused with
// choice's reason. result holds what is known of the file so far.
LevelBytesResult withoutTheSheet(const SheetChoice& choice, const QByteArray& bytes,
                                 const LevelContext& context, LevelBytesResult result);

// A failed result that says why, with no place.
LevelBytesResult failedWith(const QString& reason);
// The path of the image a tileset shows: its source, from the folder of the file holding it.
QString imageOf(const TilesetFacts& tileset);

// A failed result with the place of problem in bytes.
LevelBytesResult failedAt(const QByteArray& bytes, const Problem& problem);
