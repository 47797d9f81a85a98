#include "cli/command_options.h"

#include <QColor>
#include <QRegularExpression>
#include <array>

#include "image/pixel_block.h"
#include "level/level_format.h"

namespace
{

// Stores one option's value; returns a usage error or an empty string.
using Store = QString (*)(CommandOptions& options, const QString& name, const QString& value);

// A whole number in [low, high], or nullopt.
std::optional<int> numberIn(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// Whole numbers of at least minimum, separated by commas, exactly count of them; or nullopt.
std::optional<std::vector<int>> numberList(const QString& text, qsizetype count, int minimum)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<int> numbers;
    for (const QString& part : parts) {
        const auto n = numberIn(part.trimmed(), minimum, kMaxImageSide);
        if (!n)
            return std::nullopt;
        numbers.push_back(*n);
    }
    return numbers;
}

// A grid colour as the help describes it: a colour name, #rrggbb or #rgb. Qt would also take
// alpha and 12-bit forms and "transparent", none of which an opaque grid line can show.
std::optional<QRgb> gridColour(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^(#[0-9a-fA-F]{3}|#[0-9a-fA-F]{6}|[a-zA-Z]+)$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QColor colour = QColor::fromString(text);
    if (!colour.isValid() || colour.alpha() != 255)
        return std::nullopt;
    return colour.rgb();
}

QString outOfRange(const QString& name, int low, int high, const QString& value)
{
    return QStringLiteral("%1 takes a whole number from %2 to %3, not “%4”.")
        .arg(name)
        .arg(low)
        .arg(high)
        .arg(value);
}

template <auto field, int low, int high>
QString storeNumber(CommandOptions& options, const QString& name, const QString& value)
{
    const auto n = numberIn(value, low, high);
    if (!n)
        return outOfRange(name, low, high, value);
    options.*field = *n;
    return {};
}

template <auto field>
QString storeText(CommandOptions& options, const QString&, const QString& value)
{
    options.*field = value;
    return {};
}

template <auto field> QString storeSwitch(CommandOptions& options, const QString&, const QString&)
{
    options.*field = true;
    return {};
}

// A tile shape: N for N x N, or WxH.
QString storeTile(CommandOptions& options, const QString& name, const QString& value)
{
    const QStringList sides =
        value.split(QLatin1Char('x'), Qt::KeepEmptyParts, Qt::CaseInsensitive);
    std::vector<int> edges;
    for (const QString& side : sides)
        if (const auto n = numberIn(side, kMinTileSize, kMaxTileSize))
            edges.push_back(*n);
    if (sides.size() > 2 || edges.size() != size_t(sides.size()))
        return QStringLiteral("%1 takes N or WxH, each a whole number from %2 to %3, not “%4”.")
            .arg(name)
            .arg(kMinTileSize)
            .arg(kMaxTileSize)
            .arg(value);
    options.tile = TileShape(edges.front(), edges.back());
    options.tileGiven = true;
    return {};
}

QString storeColour(CommandOptions& options, const QString& name, const QString& value)
{
    const auto colour = gridColour(value);
    if (!colour)
        return QStringLiteral("%1 takes a colour name, #rrggbb or #rgb, not “%2”.")
            .arg(name, value);
    options.gridColor = *colour;
    return {};
}

QString storeBlock(CommandOptions& options, const QString& name, const QString& value)
{
    const auto n = numberList(value, 4, 0);
    if (!n || (*n)[2] <= 0 || (*n)[3] <= 0)
        return QStringLiteral("%1 takes column,row,width,height in tiles (width and height at "
                              "least 1), not “%2”.")
            .arg(name, value);
    options.blocks.emplace_back((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
    return {};
}

QString storeTarget(CommandOptions& options, const QString& name, const QString& value)
{
    const auto n = numberList(value, 2, 0);
    if (!n)
        return QStringLiteral("%1 takes column,row in tiles, not “%2”.").arg(name, value);
    options.targets.emplace_back((*n)[0], (*n)[1]);
    return {};
}

QString storeGridChange(CommandOptions& options, const QString& name, const QString& value)
{
    if (value == QLatin1String("added"))
        options.gridChange = TileRemap::GridChange::Added;
    else if (value == QLatin1String("removed"))
        options.gridChange = TileRemap::GridChange::Removed;
    else
        return QStringLiteral("%1 takes added or removed, not “%2”.").arg(name, value);
    return {};
}

QString storeFirstId(CommandOptions& options, const QString& name, const QString& value)
{
    const auto n = numberIn(value, 0, 1);
    if (!n)
        return QStringLiteral("%1 takes 0 or 1, not “%2”.").arg(name, value);
    options.firstId = *n;
    return {};
}

QString storeLevel(CommandOptions& options, const QString&, const QString& value)
{
    options.usedBy << value;
    return {};
}

QString storeTileProperty(CommandOptions& options, const QString& name, const QString& value)
{
    if (value.isEmpty())
        return QStringLiteral("%1 takes the name of a tile property, not an empty one.").arg(name);
    options.tileProperties << value;
    return {};
}

QString storeCompression(CommandOptions& options, const QString& name, const QString& value)
{
    if (value == QLatin1String("fast"))
        options.compression = PngCompression::Fast;
    else if (value == QLatin1String("small"))
        options.compression = PngCompression::Small;
    else if (value == QLatin1String("smallest"))
        options.compression = PngCompression::Smallest;
    else
        return QStringLiteral("%1 takes fast, small or smallest, not “%2”.").arg(name, value);
    return {};
}

// How often an option may be given.
enum class Count {
    Once,
    Repeats, // as often as the user likes: --block and --to come in pairs
    Many,    // as often, and the arguments up to the next option are its values too
};

// One row per option: its names, its value and what kind of file that names, how often it may be
// given, its help and where its value goes.
struct OptionSpec {
    Option option;
    const char* longName;  // without the leading "--"
    char shortName;        // 0 when there is none
    const char* valueName; // nullptr for a switch
    ValueKind value;
    Count count;
    const char* help;
    Store store;
};

constexpr std::array kOptionSpecs{
    OptionSpec{Option::Tile, "tile", 0, "N|WxH", ValueKind::Other, Count::Once,
               "tile size in pixels: N for N x N, or width x height, each 1 to 1024 (default 16)",
               storeTile},
    OptionSpec{Option::Gutter, "gutter", 0, "G", ValueKind::Other, Count::Once,
               "width of the grid after each tile, 1 to 64",
               storeNumber<&CommandOptions::gutter, kMinGutter, kMaxGutter>},
    OptionSpec{Option::Color, "color", 0, "COLOR", ValueKind::Other, Count::Once,
               "grid colour: a name such as black, #rrggbb or #rgb (default magenta)", storeColour},
    OptionSpec{Option::Map, "map", 0, "M", ValueKind::MapFile, Count::Once,
               "the map file (.zeko-map) to follow", storeText<&CommandOptions::mapPath>},
    OptionSpec{Option::Block, "block", 0, "C,R,W,H", ValueKind::Other, Count::Repeats,
               "a block of W x H whole tiles, its top-left at column C, row R", storeBlock},
    OptionSpec{Option::To, "to", 0, "C,R", ValueKind::Other, Count::Repeats,
               "the tile the block's top-left tile moves to", storeTarget},
    OptionSpec{Option::MapOut, "map-out", 0, "MAP", ValueKind::MapFile, Count::Once,
               "write the map after the moves, saying where each tile came from",
               storeText<&CommandOptions::mapOut>},
    OptionSpec{Option::Sheet, "sheet", 0, "SHEET", ValueKind::Sheet, Count::Once,
               "the levels' tileset image that is the sheet (a path or file name)",
               storeText<&CommandOptions::sheet>},
    OptionSpec{Option::Grid, "grid", 0, "CHANGE", ValueKind::Other, Count::Once,
               "added or removed: the sheet's grid since the levels were made", storeGridChange},
    OptionSpec{Option::FirstId, "first-id", 0, "0|1", ValueKind::Other, Count::Once,
               "the number of the sheet's first tile in CSV levels (default 0)", storeFirstId},
    OptionSpec{Option::Output, "output", 'o', "OUT", ValueKind::AnyFile, Count::Once,
               "write the result to OUT (for a sheet, .png, .bmp or .webp picks the format)",
               storeText<&CommandOptions::output>},
    OptionSpec{Option::OutDir, "out-dir", 0, "DIR", ValueKind::Folder, Count::Once,
               "write each result into DIR under its input's name",
               storeText<&CommandOptions::outDir>},
    OptionSpec{Option::InPlace, "in-place", 0, nullptr, ValueKind::Other, Count::Once,
               "replace each input (of sheets, only .png, .bmp and .webp inputs)",
               storeSwitch<&CommandOptions::inPlace>},
    OptionSpec{Option::Crop, "crop", 0, nullptr, ValueKind::Other, Count::Once,
               "drop the partial strips beyond the last whole tile",
               storeSwitch<&CommandOptions::crop>},
    OptionSpec{Option::Force, "force", 0, nullptr, ValueKind::Other, Count::Once,
               "add a grid where one is found, remove lines where none is",
               storeSwitch<&CommandOptions::force>},
    OptionSpec{Option::Flips, "flips", 0, nullptr, ValueKind::Other, Count::Once,
               "a tile mirrored or turned counts as the same tile",
               storeSwitch<&CommandOptions::flips>},
    OptionSpec{Option::Dedupe, "dedupe", 0, nullptr, ValueKind::Other, Count::Once,
               "identical tiles, within a sheet and across sheets, become one",
               storeSwitch<&CommandOptions::dedupe>},
    OptionSpec{Option::Columns, "columns", 0, "C", ValueKind::Other, Count::Once,
               "tile columns of the result (default: the input's)",
               storeNumber<&CommandOptions::columns, 1, kMaxImageSide>},
    OptionSpec{Option::RemapOut, "remap-out", 0, "R", ValueKind::RemapFile, Count::Once,
               "write the remap file that carries the change into levels",
               storeText<&CommandOptions::remapOut>},
    OptionSpec{Option::Remap, "remap", 0, "R", ValueKind::RemapFile, Count::Once,
               "the remap file (sheet dedupe or prune writes it) to follow",
               storeText<&CommandOptions::remapPath>},
    OptionSpec{Option::TilesetOut, "tileset-out", 0, "FILE", ValueKind::Level, Count::Once,
               "where the atlas's tileset goes when the merged tilesets were files of their own",
               storeText<&CommandOptions::tilesetOut>},
    OptionSpec{Option::UsedBy, "used-by", 0, "LEVEL...", ValueKind::Level, Count::Many,
               "the levels that use the sheet (the arguments up to the next option)", storeLevel},
    OptionSpec{Option::TileProperty, "tile-property", 0, "NAME", ValueKind::Other, Count::Repeats,
               "a tile property holding tile ids (may repeat; * for any text)", storeTileProperty},
    OptionSpec{Option::Compression, "compression", 0, "Z", ValueKind::Other, Count::Once,
               "how hard PNG results are compressed: fast (default), small or smallest",
               storeCompression},
    OptionSpec{Option::Px, "px", 0, "E", ValueKind::Other, Count::Once,
               "pixels each tile is extruded by on every side, 1 to 64 (default 1)",
               storeNumber<&CommandOptions::extrusion, 1, kMaxExtrusion>},
    OptionSpec{Option::Margin, "margin", 0, "M", ValueKind::Other, Count::Once,
               "pixels around the tiles at the sheet's edges, 0 to 1024 (default 0)",
               storeNumber<&CommandOptions::margin, 0, kMaxMargin>},
    OptionSpec{Option::Spacing, "spacing", 0, "S", ValueKind::Other, Count::Once,
               "pixels between neighbouring tiles, 0 to 1024 (default 0)",
               storeNumber<&CommandOptions::spacing, 0, kMaxMargin>},
    OptionSpec{Option::Jobs, "jobs", 'j', "N", ValueKind::Other, Count::Once,
               "work on up to N inputs at once (default and most: one per core)",
               storeNumber<&CommandOptions::jobs, 1, 1024>},
    OptionSpec{Option::Quiet, "quiet", 'q', nullptr, ValueKind::Other, Count::Once,
               "print only failures: no progress line, no line per file written",
               storeSwitch<&CommandOptions::quiet>},
    OptionSpec{Option::Help, "help", 'h', nullptr, ValueKind::Other, Count::Once, "show this help",
               storeSwitch<&CommandOptions::help>},
};

const OptionSpec* findLong(QStringView name)
{
    for (const OptionSpec& entry : kOptionSpecs)
        if (name == QLatin1StringView(entry.longName))
            return &entry;
    return nullptr;
}

const OptionSpec* findShort(QChar name)
{
    for (const OptionSpec& entry : kOptionSpecs)
        if (entry.shortName != 0 && name == QLatin1Char(entry.shortName))
            return &entry;
    return nullptr;
}

QString displayName(const OptionSpec& entry)
{
    return QStringLiteral("--") + QLatin1StringView(entry.longName);
}

} // namespace

ParsedOptions parseCommandOptions(const QStringList& arguments, OptionSet accepted)
{
    accepted = accepted.with({Option::Jobs, Option::Quiet, Option::Help});
    ParsedOptions parsed;
    CommandOptions& options = parsed.options;
    std::array<bool, kOptionSpecs.size()> seen{};
    bool optionsEnded = false;
    bool levelsFollow = false; // after --used-by, plain arguments are its levels
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) ||
            argument == QLatin1String("-")) {
            (levelsFollow && !optionsEnded ? options.usedBy : options.inputs) << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }

        // "--name", "--name=value" or "-x"; a short option takes its value from the next argument.
        QString name = argument;
        std::optional<QString> value;
        const OptionSpec* entry = nullptr;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (equals > 0) {
                name = argument.left(equals);
                value = argument.mid(equals + 1);
            }
            entry = findLong(QStringView(name).mid(2));
        } else if (argument.size() == 2) {
            entry = findShort(argument[1]);
        }
        if (!entry) {
            parsed.error = QStringLiteral("unknown option “%1”.").arg(name);
            return parsed;
        }
        if (!accepted.has(entry->option)) {
            parsed.error = QStringLiteral("this command does not take %1.").arg(name);
            return parsed;
        }
        const size_t index = size_t(entry - kOptionSpecs.data());
        levelsFollow = entry->count == Count::Many;
        if (seen[index] && entry->count == Count::Once) {
            parsed.error = QStringLiteral("%1 is given twice.").arg(displayName(*entry));
            return parsed;
        }
        seen[index] = true;
        if (!entry->valueName && value) {
            parsed.error = QStringLiteral("%1 takes no value.").arg(name);
            return parsed;
        }
        if (entry->valueName && !value) {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("%1 needs a value (%1 %2).")
                                   .arg(name, QLatin1StringView(entry->valueName));
                return parsed;
            }
            value = arguments[++i];
        }
        if (QString why = entry->store(options, name, value.value_or(QString())); !why.isEmpty()) {
            parsed.error = why;
            return parsed;
        }
    }
    return parsed;
}

bool isCommandOption(const QString& argument)
{
    if (argument.startsWith(QLatin1String("--"))) {
        const QStringView name = QStringView(argument).mid(2);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        return findLong(equals < 0 ? name : name.left(equals)) != nullptr;
    }
    return argument.size() == 2 && argument[0] == QLatin1Char('-') && findShort(argument[1]);
}

QString optionHelp(OptionSet accepted)
{
    QString text;
    for (const OptionDescription& entry : describeOptions(accepted)) {
        QString left = entry.shortName.isEmpty() ? QStringLiteral("    ")
                                                 : entry.shortName + QStringLiteral(", ");
        left += entry.longName;
        if (!entry.valueName.isEmpty())
            left += QLatin1Char(' ') + entry.valueName;
        text += QStringLiteral("  %1  %2\n").arg(left, -20).arg(entry.help);
    }
    return text;
}

OptionSet everyOption()
{
    OptionSet all{};
    for (const OptionSpec& entry : kOptionSpecs)
        all = all.with({entry.option});
    return all;
}

std::vector<OptionDescription> describeOptions(OptionSet accepted)
{
    accepted = accepted.with({Option::Jobs, Option::Quiet, Option::Help});
    std::vector<OptionDescription> found;
    for (const OptionSpec& entry : kOptionSpecs) {
        if (!accepted.has(entry.option))
            continue;
        OptionDescription& description = found.emplace_back();
        description.longName = displayName(entry);
        if (entry.shortName)
            description.shortName = QStringLiteral("-%1").arg(QLatin1Char(entry.shortName));
        if (entry.valueName)
            description.valueName = QLatin1StringView(entry.valueName);
        description.help = QString::fromUtf8(entry.help);
        description.value = entry.value;
        description.repeats = entry.count != Count::Once;
        description.many = entry.count == Count::Many;
    }
    return found;
}

QStringList filePatterns(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Sheet:
        return {QStringLiteral("*.png"), QStringLiteral("*.bmp"), QStringLiteral("*.jpg"),
                QStringLiteral("*.jpeg"), QStringLiteral("*.gif")};
    case ValueKind::Level:
        return levelFilePatterns();
    case ValueKind::MapFile:
        return {QStringLiteral("*.zeko-map")};
    case ValueKind::RemapFile:
        return {QStringLiteral("*.remap")};
    case ValueKind::Other:
    case ValueKind::AnyFile:
    case ValueKind::Folder:
        break;
    }
    return {};
}
