#include "cli/command_options.h"

#include <QColor>
#include <array>

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
               "grid colour: a name such as magenta or black, or #rrggbb (default magenta)"},
    OptionSpec{Option::Map, "map", 0, "M", "the map file (.zeko-map) to follow"},
    OptionSpec{Option::Sheet, "sheet", 0, "SHEET",
               "the levels' tileset image that is the sheet (a path or file name)"},
    OptionSpec{Option::Grid, "grid", 0, "CHANGE",
               "added or removed: the sheet's grid since the levels were made"},
    OptionSpec{Option::FirstId, "first-id", 0, "0|1",
               "the number of the sheet's first tile in CSV levels (default 0)"},
    OptionSpec{Option::Output, "output", 'o', "OUT",
               "write the result to OUT (for a sheet, .png or .bmp picks the format)"},
    OptionSpec{Option::OutDir, "out-dir", 0, "DIR",
               "write each result into DIR under its input's name (created when missing)"},
    OptionSpec{Option::InPlace, "in-place", 0, nullptr,
               "replace each input (of sheets, only .png and .bmp inputs)"},
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
    case Option::Color: {
        const QColor colour = QColor::fromString(value);
        if (!colour.isValid())
            return QStringLiteral("%1 takes a colour name or #rrggbb, not “%2”.").arg(name, value);
        options.gridColor = colour.rgb();
        return {};
    }
    case Option::Map:
        options.mapPath = value;
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
    case Option::Output:
        options.output = value;
        return {};
    case Option::OutDir:
        options.outDir = value;
        return {};
    case Option::Jobs:
        if (const auto n = numberIn(value, 1, 1024)) {
            options.jobs = *n;
            return {};
        }
        return outOfRange(1, 1024);
    case Option::InPlace:
        options.inPlace = true;
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
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) ||
            argument == QLatin1String("-")) {
            options.inputs << argument;
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
        if (seen[index]) {
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
        text += QStringLiteral("  %1  %2\n").arg(left, -20).arg(QLatin1StringView(entry.help));
    }
    return text;
}
