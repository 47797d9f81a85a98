#pragma once

// Carrying a sheet's rearrangement (and a grid inserted or removed) into the levels made against
// it: TMX maps, TSX tilesets and TX object templates, their JSON forms TMJ, TSJ and TJ, CSV grids
// of tile numbers, and LDtk projects and level files.
// Only the numbers that name the sheet's tiles change; every other byte stays as it stood.
//
// The window and the command line call remapLevelFiles(); remapLevelBytes() does one file's text
// without touching any file.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "level/level_output.h"
#include "level/tile_remap.h"
#include "level/tileset_facts.h"
#include "tilemap/tile_dedupe.h"

struct AtlasMerge;
class LevelScans;

// What the sheet's tilesets keep for one tile, as a run that changes nothing reads it.
struct TileData {
    QByteArray text;         // its entries' text without ids, list by list; empty: none
    bool differs = false;    // tilesets read gave it different data
    bool unturned = false;   // turned it would not show right: collision shapes, Wang or terrain
                             // ids, an animation, or it is another tile's frame
    // Its data mean something only among the sheet's tiles: they name tiles (frames, tile
    // properties), a Wang set or terrain types of the tileset.
    bool local = false;
    QByteArray tags; // the tag lists it is in (LDtk's enum tags), as read
};

// The sheet's tiles that levels name, as a run that changes nothing finds them.
struct TileUse {
    std::vector<uint8_t> named; // tile -> 1 when a cell or tile object shows it
    // Every animation of the sheet's tilesets: the animated tile and one of its frames' tiles.
    std::vector<std::pair<int32_t, int32_t>> frames;
    // The sheet's tilesets as the files give them (one per tileset read), for their tile size and
    // tile count.
    std::vector<TilesetFacts> tilesets;
    // tile -> its data, once a tileset's data were read (as many as named)
    std::vector<TileData> data;
    int dataRead = 0; // tilesets whose data were read
    // Rectangles of several tiles that levels draw as one (columns: the tileset's), which must
    // move together.
    std::vector<TileBlock> blocks;
};

struct LevelRemapOptions {
    // The sheet's image: a path (relative ones from the working folder), matched against the
    // images the levels' tilesets show by the file it names, or a bare file name, matched by name
    // where the levels show one image of that name (several refuse the run). Empty: each level's
    // one tileset image, and a level that shows several is refused.
    QString sheet;
    // Levels of bare tile numbers, which name no tileset: the number that names the sheet's first
    // tile, 0 or 1. Smaller numbers (and empty fields) are empty cells.
    int firstId = 0;
    // When set, what the files name is noted here; such a run is for reading only.
    TileUse* use = nullptr;
    // Names of tile properties (Tiled's TMX, TSX, TMJ, TSJ) whose values are tile ids of the
    // tile's own tileset, as animation frames are; '*' stands for any text ("animation-frame*").
    QStringList tileProperties;
    // A sheet named by a path that a level's tilesets do not show is still the one image of its
    // file name there (the window asks first whether that image holds the sheet).
    bool sheetOrByName = false;
    // A merge of several sheets into one atlas: when set, the remap given is not used.
    const AtlasMerge* merge = nullptr;
    // Where the files' scans are kept for later runs over them; none when null.
    LevelScans* scans = nullptr;
};

// Whether a property called name is one of patterns ('*' matching any text, nothing else special).
bool matchesTileProperty(const QString& name, const QStringList& patterns);

enum class LevelFileStatus {
    Updated,   // remapped and written
    Unchanged, // remapped, but its result is what its target holds already: not written
    Skipped,   // does not use the sheet, or came twice; left as it was
    Failed,    // could not be read, understood or written; left as it was
};

struct LevelFileResult {
    QString path;       // the file read
    QString outputPath; // where the result went (Updated, Unchanged)
    QString sheetImage; // Updated, Unchanged: the sheet's image as the file names it (absolute),
                        // or as the run was told for a CSV file
    LevelFileStatus status = LevelFileStatus::Failed;
    bool isTileset = false;  // a TSX or TSJ file
    qint64 cellsChanged = 0; // layer cells and tile objects that now name another tile
    qint64 tilesMoved = 0;   // per-tile entries, animation frames, Wang and terrain ids renumbered
    QString place;           // Failed: where in the file ("line 4, column 9, layer “Ground”")
    QString reason;          // Skipped or Failed: why, in plain words

    // One sentence for people: the file, what happened, and where and why when it did not work.
    QString message() const;
};

// A map's external tileset or template, as remapLevelBytes asks for it: the tileset's facts (a
// template's: those of the tileset its tile comes from; none for another object), or why it
// cannot be read.
struct ExternalTileset {
    TilesetFacts facts;
    QString error; // why, naming the file, with no full stop; empty when facts hold
    // A value of the file that could not be read, with its place; it matters only when the
    // tileset shows the sheet.
    QString problem;
    // A file that defines several tilesets for other files (each with its key), such as a project
    // for its level files.
    std::vector<TilesetFacts> tilesets;
    QByteArray text; // the file's text, when it was read
};
// Gives the tileset stored in, or named by, the file at an absolute path.
using ExternalTilesetReader = std::function<ExternalTileset(const QString& path)>;

// A file that goes with a level: a tileset or template file it names, a level file of a project.
struct CarriedFile {
    enum class Kind { Tileset, Template, Level };
    QString path; // absolute
    Kind kind = Kind::Tileset;
};

// What remapping one file's text gives; nothing is written.
struct LevelBytesResult {
    LevelFileStatus status = LevelFileStatus::Failed;
    QByteArray bytes; // Updated: the new text (the same bytes when nothing needed to change)
    bool isTileset = false;
    bool isTemplate = false; // a TX or TJ file
    qint64 cellsChanged = 0;
    qint64 tilesMoved = 0;
    QString place;
    QString reason;
    // The files that go with this one and show the sheet: they are remapped with it, once however
    // many files name them, and written with it all or nothing.
    std::vector<CarriedFile> carried;
    bool othersRead = false; // other files may read this one (a tileset, a template, a project)
    QString sheetImage;      // Updated: the sheet's image (see LevelFileResult)
    // New files written with this one, all or nothing (absolute path, text): an atlas's tileset.
    std::vector<std::pair<QString, QByteArray>> created;

    QStringList carriedOf(CarriedFile::Kind kind) const;
};

// Remaps the text of the level file at path (which only tells the format by its extension, and
// the folder that relative sources start from). readTileset is asked for each external tileset and
// template a map names; without it such maps are refused.
// carriedBy: the file that carried this one along (a map its tileset, a project its level file).
LevelBytesResult remapLevelBytes(const QByteArray& bytes, const QString& path,
                                 const TileRemap& remap, const LevelRemapOptions& options,
                                 const ExternalTilesetReader& readTileset = {},
                                 const QString& carriedBy = {});

// Reads a TSX or TSJ tileset file's text, or a template's tileset (facts.file is set when the
// template names a tileset file, whose facts then still have to be read). error is a plain reason
// when it is neither.
ExternalTileset readTilesetFacts(const QByteArray& bytes, const QString& path);

struct LevelRemapRun {
    QString
        error; // set when the run could not start (a remap that is no permutation, a bad first id)
    std::vector<LevelFileResult> files;

    int count(LevelFileStatus status) const;
    qint64 cellsChanged() const;
    // "3 files updated (412 cells changed), 1 skipped, 1 failed.", with "2 unchanged, " before
    // the skipped when there are.
    QString summary() const;
};

// Remaps each level file in turn and writes each result to output(path); a file that is skipped
// or fails is left untouched (one output refused says why), and the others are still done. External tilesets and templates that
// show the sheet are remapped once per run (however many maps name them, and whether or not they
// are in paths too), and only along with a map that uses them or when given themselves; each
// appears as a result of its own after the first map that names it. A map and the files it
// carries along are written all or nothing; a result that its target holds already is not
// written (Unchanged).
//
// Remapping is not idempotent: files remapped in two runs with the same remap are permuted twice.
LevelRemapRun remapLevelFiles(const QStringList& paths, const TileRemap& remap,
                              const LevelRemapOptions& options,
                              const LevelOutputPath& output = levelOutputInPlace());

// The files of a run of remapLevelFiles(paths, ..., options): the levels given, then the tileset,
// template and level files of the sheet they carry along, as absolute paths, each once. Nothing
// is written.
QStringList levelRunFiles(const QStringList& paths, const LevelRemapOptions& options);

// Which of the sheet's tiles (tileCount of them in columns columns) the levels use: those their
// cells and tile objects show (in templates and CSV files too), and the animation frames of those.
// The files are found and read as remapLevelFiles reads them, and none is written; run tells of
// each file as remapLevelFiles does (one that cannot be read is Failed).
// tile, when known, is the shape the sheet's tiles were cut at; its tilesets must have it.
struct TileUseRun {
    LevelRemapRun run;
    std::vector<bool> used;
    std::vector<TilesetFacts> tilesets; // the sheet's tilesets the files hold
    std::vector<TileData> data;          // tile -> what its tilesets keep for it
    std::vector<TileBlock> blocks;       // what must move together (see TileUse)
};
TileUseRun findUsedTiles(const QStringList& paths, int tileCount, int columns,
                         LevelRemapOptions options, std::optional<TileShape> tile = {});

// The sheet's tilesets that the levels hold, read as findUsedTiles reads them but checked against
// no sheet: what they say of the sheet's tiles before anything else is known.
std::vector<TilesetFacts> findSheetTilesets(const QStringList& paths, LevelRemapOptions options);
