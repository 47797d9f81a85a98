#include "cli/command_options.h"

#include <QColor>
#include <QRegularExpression>
#include <array>

#include "image/pixel_block.h"

namespace {

struct OptionSpec {
    Option option;
    const char* longName;  // without the leading "--"
    char shortName;        // 0 when there is none
    const char* valueName;  // nullptr for a switch
    const char* help;
};

constexpr std::array kOptionSpecs{
    OptionSpec{Option::Tile, "tile", 0, "N", "tile edge in pixels, 1 to 1024 (default 16)"},
    OptionSpec{Option::Gutter, "gutter", 0, "G", "width of the grid after each tile, 1 to 64"},
    OptionSpec{Option::Color, "color", 0, "COLOR",
               "grid colour: a name such as black, #rrggbb or #rgb (default magenta)"},
    OptionSpec{Option::Map, "map", 0, "M", "the map file (.zeko-map) to follow"},
    OptionSpec{Option::Block, "block", 0, "C,R,W,H",
               "a block of W x H whole tiles, its top-left at column C, row R"},
    OptionSpec{Option::To, "to", 0, "C,R", "the tile the block's top-left tile moves to"},
    OptionSpec{Option::MapOut, "map-out", 0, "MAP",
               "write the map after the moves, saying where each tile came from"},
    OptionSpec{Option::Sheet, "sheet", 0, "SHEET",
               "the levels' tileset image that is the sheet (a path or file name)"},
    OptionSpec{Option::Grid, "grid", 0, "CHANGE",
               "added or removed: the sheet's grid since the levels were made"},
    OptionSpec{Option::FirstId, "first-id", 0, "0|1",
               "the number of the sheet's first tile in CSV levels (default 0)"},
    OptionSpec{Option::Output, "output", 'o', "OUT",
               "write the result to OUT (for a sheet, .png or .bmp picks the format)"},
    OptionSpec{Option::OutDir, "out-dir", 0, "DIR",
               "write each result into DIR under its input's name"},
    OptionSpec{Option::InPlace, "in-place", 0, nullptr,
               "replace each input (of sheets, only .png and .bmp inputs)"},
    OptionSpec{Option::Crop, "crop", 0, nullptr,
               "drop the partial strips beyond the last whole tile"},
    OptionSpec{Option::Force, "force", 0, nullptr,
               "add a grid where one is found, remove lines where none is"},
    OptionSpec{Option::Flips, "flips", 0, nullptr,
               "a tile mirrored or turned counts as the same tile"},
    OptionSpec{Option::Columns, "columns", 0, "C",
               "tile columns of the result (default: the input's)"},
    OptionSpec{Option::RemapOut, "remap-out", 0, "R",
               "write the remap file that carries the change into levels"},
    OptionSpec{Option::Remap, "remap", 0, "R",
               "the remap file (sheet dedupe or prune writes it) to follow"},
    OptionSpec{Option::UsedBy, "used-by", 0, "LEVEL...",
               "the levels that use the sheet (the arguments up to the next option)"},
    OptionSpec{Option::TileProperty, "tile-property", 0, "NAME",
               "a tile property holding tile ids (may repeat; * for any text)"},
    OptionSpec{Option::Compression, "compression", 0, "Z",
               "how hard PNG results are compressed: fast (default), small or smallest"},
    OptionSpec{Option::Px, "px", 0, "E",
               "pixels each tile is extruded by on every side, 1 to 64 "
               "(default 1)"},
    OptionSpec{Option::Margin, "margin", 0, "M",
               "pixels around the tiles at the sheet's edges, 0 to 1024 (default 0)"},
    OptionSpec{Option::Spacing, "spacing", 0, "S",
               "pixels between neighbouring tiles, 0 to 1024 (default 0)"},
    OptionSpec{Option::Jobs, "jobs", 'j', "N",
               "work on up to N inputs at once (default and most: one per core)"},
    OptionSpec{Option::Quiet, "quiet", 'q', nullptr,
               "print only failures: no progress line, no line per file written"},
    OptionSpec{Option::Help, "help", 'h', nullptr, "show this help"},
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

// Stores one option's value; returns a usage error or an empty string.
QString store(CommandOptions& options, Option option, const QString& name, const QString& value)
{
    const auto outOfRange = [&](int low, int high) {
        return QStringLiteral("%1 takes a whole number from %2 to %3, not “%4”.")
            .arg(name)
            .arg(low)
            .arg(high)
            .arg(value);
    };
    switch (option) {
    case Option::Tile:
        if (const auto n = numberIn(value, kMinTileSize, kMaxTileSize)) {
            options.tileSize = *n;
            options.tileGiven = true;
            return {};
        }
        return outOfRange(kMinTileSize, kMaxTileSize);
    case Option::Gutter:
        if (const auto n = numberIn(value, kMinGutter, kMaxGutter)) {
            options.gutter = *n;
            return {};
        }
        return outOfRange(kMinGutter, kMaxGutter);
    case Option::Color:
        if (const auto colour = gridColour(value)) {
            options.gridColor = *colour;
            return {};
        }
        return QStringLiteral("%1 takes a colour name, #rrggbb or #rgb, not “%2”.")
            .arg(name, value);
    case Option::Map:
        options.mapPath = value;
        return {};
    case Option::Block:
        if (const auto n = numberList(value, 4, 0); n && (*n)[2] > 0 && (*n)[3] > 0) {
            options.blocks.emplace_back((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
            return {};
        }
        return QStringLiteral("%1 takes column,row,width,height in tiles (width and height at "
                              "least 1), not “%2”.").arg(name, value);
    case Option::To:
        if (const auto n = numberList(value, 2, 0)) {
            options.targets.emplace_back((*n)[0], (*n)[1]);
            return {};
        }
        return QStringLiteral("%1 takes column,row in tiles, not “%2”.").arg(name, value);
    case Option::MapOut:
        options.mapOut = value;
        return {};
    case Option::Sheet:
        options.sheet = value;
        return {};
    case Option::Grid:
        if (value == QLatin1String("added"))
            options.gridChange = TileRemap::GridChange::Added;
        else if (value == QLatin1String("removed"))
            options.gridChange = TileRemap::GridChange::Removed;
        else
            return QStringLiteral("%1 takes added or removed, not “%2”.").arg(name, value);
        return {};
    case Option::FirstId:
        if (const auto n = numberIn(value, 0, 1)) {
            options.firstId = *n;
            return {};
        }
        return QStringLiteral("%1 takes 0 or 1, not “%2”.").arg(name, value);
    case Option::Flips:
        options.flips = true;
        return {};
    case Option::Columns:
        if (const auto n = numberIn(value, 1, kMaxImageSide)) {
            options.columns = *n;
            return {};
        }
        return outOfRange(1, kMaxImageSide);
    case Option::RemapOut:
        options.mapOut = value;
        return {};
    case Option::Remap:
        options.remapPath = value;
        return {};
    case Option::UsedBy:
        options.usedBy << value;
        return {};
    case Option::TileProperty:
        if (value.isEmpty())
            return QStringLiteral("%1 takes the name of a tile property, not an empty one.")
                .arg(name);
        options.tileProperties << value;
        return {};
    case Option::Compression:
        if (value == QLatin1String("fast"))
            options.compression = PngCompression::Fast;
        else if (value == QLatin1String("small"))
            options.compression = PngCompression::Small;
        else if (value == QLatin1String("smallest"))
            options.compression = PngCompression::Smallest;
        else
            return QStringLiteral("%1 takes fast, small or smallest, not “%2”.").arg(name, value);
        return {};
    case Option::Output:
        options.output = value;
        return {};
    case Option::OutDir:
        options.outDir = value;
        return {};
    case Option::Px:
        if (const auto n = numberIn(value, 1, kMaxExtrusion)) {
            options.extrusion = *n;
            return {};
        }
        return outOfRange(1, kMaxExtrusion);
    case Option::Margin:
    case Option::Spacing:
        if (const auto n = numberIn(value, 0, kMaxMargin)) {
            (option == Option::Margin ? options.margin : options.spacing) = *n;
            return {};
        }
        return outOfRange(0, kMaxMargin);
    case Option::Jobs:
        if (const auto n = numberIn(value, 1, 1024)) {
            options.jobs = *n;
            return {};
        }
        return outOfRange(1, 1024);
    case Option::InPlace:
        options.inPlace = true;
        return {};
    case Option::Crop:
        options.crop = true;
        return {};
    case Option::Force:
        options.force = true;
        return {};
    case Option::Quiet:
        options.quiet = true;
        return {};
    case Option::Help:
        options.help = true;
        return {};
    }
    return {};
}

}  // namespace

ParsedOptions parseCommandOptions(const QStringList& arguments, OptionSet accepted)
{
    accepted = accepted.with({Option::Jobs, Option::Quiet, Option::Help});
    ParsedOptions parsed;
    CommandOptions& options = parsed.options;
    std::array<bool, kOptionSpecs.size()> seen{};
    bool optionsEnded = false;
    bool levelsFollow = false;  // after --used-by, plain arguments are its levels
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
        levelsFollow = entry->option == Option::UsedBy;
        // Block moves come in pairs, as many as the user likes.
        const bool repeats = entry->option == Option::Block || entry->option == Option::To ||
                             entry->option == Option::UsedBy ||
                             entry->option == Option::TileProperty;
        if (seen[index] && !repeats) {
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
        if (QString why = store(options, entry->option, name, value.value_or(QString()));
            !why.isEmpty()) {
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
    accepted = accepted.with({Option::Jobs, Option::Quiet, Option::Help});
    QString text;
    for (const OptionSpec& entry : kOptionSpecs) {
        if (!accepted.has(entry.option))
            continue;
        QString left = entry.shortName ? QStringLiteral("-%1, ").arg(QLatin1Char(entry.shortName))
                                      : QStringLiteral("    ");
        left += displayName(entry);
        if (entry.valueName)
            left += QLatin1Char(' ') + QLatin1StringView(entry.valueName);
        text += QStringLiteral("  %1  %2\n").arg(left, -20).arg(QString::fromUtf8(entry.help));
    }
    return text;
}
