#pragma once

#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "document/png_writer.h"
#include "image/tile_layout.h"
#include "level/tile_remap.h"

// The options a command can take. Each command names the ones it accepts; --jobs, --quiet and
// --help are accepted by every command.
enum class Option {
    Tile,
    Gutter,
    Color,
    Map,
    Block,
    To,
    MapOut,
    Sheet,
    Grid,
    FirstId,
    Output,
    OutDir,
    InPlace,
    Crop,
    Force,
    Px,
    Margin,
    Spacing,
    Flips,
    Dedupe,
    Columns,
    RemapOut,
    Remap,
    TilesetOut,
    UsedBy,
    TileProperty,
    Compression,
    Jobs,
    Quiet,
    Help
};

class OptionSet
{
  public:
    constexpr OptionSet(std::initializer_list<Option> options)
    {
        for (Option option : options)
            bits_ |= bit(option);
    }
    constexpr bool has(Option option) const { return (bits_ & bit(option)) != 0; }
    constexpr OptionSet with(std::initializer_list<Option> more) const
    {
        OptionSet result = *this;
        for (Option option : more)
            result.bits_ |= bit(option);
        return result;
    }

  private:
    static_assert(unsigned(Option::Help) < 64, "an OptionSet holds up to 64 options; Help is last");
    static constexpr std::uint64_t bit(Option option)
    {
        return std::uint64_t(1) << unsigned(option);
    }
    std::uint64_t bits_ = 0;
};

inline constexpr int kMinTileSize = 1;
inline constexpr int kMaxTileSize = 1024;
inline constexpr int kMinGutter = 1;
inline constexpr int kMaxGutter = 64;
inline constexpr int kMaxExtrusion = 64;
inline constexpr int kMaxMargin = 1024; // for margin and spacing alike

// What the arguments after the command words said. Values not given keep these defaults.
struct CommandOptions {
    QStringList inputs;
    TileShape tile{16};
    bool tileGiven = false;
    std::optional<int> gutter;          // the grid's width, when the sheet has or gets one
    QRgb gridColor = qRgb(255, 0, 255); // the window's default grid colour
    QString mapPath;
    // Blocks of whole tiles (in tiles) and where each one's top-left tile goes, in the order given.
    std::vector<QRect> blocks;
    std::vector<QPoint> targets;
    QString mapOut;     // where the map after the moves is written; empty: nowhere
    QString remapOut;   // where the remap of a sheet command is written
    QString remapPath;  // the remap file levels remap follows instead of a map
    QString tilesetOut; // where the atlas's tileset goes when levels follow a merge
    bool flips = false;  // a tile turned by a symmetry counts as the same tile
    bool dedupe = false; // identical tiles become one (sheet merge)
    int columns = 0;     // tile columns of a packed result; 0: the input's
    QStringList usedBy;  // the levels whose tiles a sheet keeps
    QStringList tileProperties;  // tile properties whose values are tile ids ('*' for any text)
    QString sheet;  // the levels' tileset image that shows the sheet; empty: each level's one
    TileRemap::GridChange gridChange = TileRemap::GridChange::None;
    int firstId = 0; // the number of the sheet's first tile in CSV levels
    QString output;
    QString outDir;
    bool inPlace = false;
    bool crop = false;  // partial strips at the right and bottom may be dropped
    bool force = false; // grid commands do their work whatever grid the sheet has
    int extrusion = 1;  // pixels each tile gains on every side
    // The sheet's margin and spacing: for extrude, those the sheet has; for levels, those the
    // sheet's tilesets get.
    std::optional<int> margin;
    std::optional<int> spacing;
    PngCompression compression = PngCompression::Fast; // of the PNG results
    int jobs = 0;                                      // 0: one per core
    bool quiet = false;
    bool help = false;

    // The tiles as the sheet holds them: --tile, with the --gutter (none without) after each.
    TileLayout layout() const { return TileLayout::grid(tile, gutter.value_or(0)); }
    // The tiles at --margin and --spacing, as extrusion takes them.
    TileLayout spacedLayout() const
    {
        return TileLayout::spaced(tile.width, tile.height, margin.value_or(0), spacing.value_or(0));
    }
};

struct ParsedOptions {
    CommandOptions options;
    QString error; // a usage error in plain words, naming the offending argument
};

// Reads the arguments that follow the command words. Options may come before, between or after the
// inputs, as "--tile 16" or "--tile=16"; "--" ends the options. Only options in accepted are
// allowed.
ParsedOptions parseCommandOptions(const QStringList& arguments, OptionSet accepted);

// True when argument names one of the commands' options ("--jobs", "-q", "--tile=8").
bool isCommandOption(const QString& argument);

// One help line per accepted option, aligned, for a command's --help.
QString optionHelp(OptionSet accepted);

// What kind of file or folder an option's value names, so that shells can offer the right ones.
enum class ValueKind {
    Other,   // a number, a colour, a word: nothing to offer
    AnyFile, // a file of any kind
    Folder,
    Sheet,    // an image: .png, .bmp, .jpg, .jpeg, .gif
    Level,    // a level or tileset file
    MapFile,  // .zeko-map
    RemapFile // .remap
};

// One option as the help, the manual page and the shell completions describe it.
struct OptionDescription {
    QString longName;  // "--tile"
    QString shortName; // "-o"; empty when there is none
    QString valueName; // "N"; empty for a switch
    QString help;
    ValueKind value = ValueKind::Other;
    bool repeats = false; // may be given more than once
    bool many = false;    // the arguments up to the next option are its values too
};

// Every option some command takes.
OptionSet everyOption();

// The accepted options and the three every command takes, in help order.
std::vector<OptionDescription> describeOptions(OptionSet accepted);

// The file name patterns ("*.png", ...) of a kind of file; empty for Other, AnyFile and Folder.
QStringList filePatterns(ValueKind kind);
