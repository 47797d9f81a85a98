#include "cli/manual.h"

#include <QRegularExpression>
#include <QStringList>
#include <vector>

#include "cli/command_table.h"

namespace
{

// The commands' first words in table order, each once.
QStringList groups()
{
    QStringList found;
    for (const CommandSpec& command : commandTable())
        if (!found.contains(QLatin1StringView(command.group)))
            found << QLatin1StringView(command.group);
    return found;
}

bool hasSecondWord(const QString& group)
{
    const auto commands = commandsOf(group);
    return !commands.empty() && commands.front()->name[0] != 0;
}

// The first words that take a second one ("grid", "map", ...), in table order.
QStringList twoWordGroups()
{
    QStringList found;
    for (const QString& group : groups())
        if (hasSecondWord(group))
            found << group;
    return found;
}

// What a group word alone says in a list of commands: its commands, or the command's summary.
QString groupSummary(const QString& group)
{
    QStringList names;
    for (const CommandSpec* command : commandsOf(group))
        names << (hasSecondWord(group) ? QString(QLatin1StringView(command->name))
                                       : QString::fromUtf8(command->summary));
    return names.join(QStringLiteral(", "));
}

// The kind of file a command's inputs are.
ValueKind inputKind(const CommandSpec& command)
{
    return command.output == OutputKind::Levels ? ValueKind::Level : ValueKind::Sheet;
}

QStringList extensions(ValueKind kind)
{
    QStringList found;
    for (const QString& pattern : filePatterns(kind))
        found << pattern.mid(2); // "*.png" -> "png"
    return found;
}

// Lines of a help text, split into runs of prose and runs of indented examples.
struct Block {
    bool literal = false;
    QStringList lines;
};

std::vector<Block> blocksOf(const QString& text)
{
    std::vector<Block> blocks;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty()) {
            if (!blocks.empty() && !blocks.back().lines.isEmpty())
                blocks.emplace_back();
            continue;
        }
        const bool literal = line.startsWith(QLatin1String("  "));
        if (blocks.empty() || blocks.back().literal != literal ||
            (!literal && line.endsWith(QLatin1Char(':'))))
            blocks.push_back(Block{literal, {}});
        blocks.back().lines << line;
    }
    std::erase_if(blocks, [](const Block& block) { return block.lines.isEmpty(); });
    return blocks;
}

// ---- the manual page ----

// Text as roff shows it literally: backslashes, minus signs and any character beyond ASCII escaped,
// and no line taken for a request.
QString roff(const QString& text)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (c == U'\\')
            out += QStringLiteral("\\e");
        else if (c == U'-')
            out += QStringLiteral("\\-");
        else if (c > 0x7f)
            out += QStringLiteral("\\[u%1]").arg(
                QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
        else
            out += QChar(char16_t(c));
    }
    QStringList lines = out.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QStringLiteral("\\&"));
    return lines.join(QLatin1Char('\n'));
}

QString roffBlocks(const QString& text)
{
    QString out;
    for (const Block& block : blocksOf(text)) {
        if (block.literal) {
            out += QStringLiteral(".RS 4\n.nf\n");
            for (const QString& line : block.lines)
                out += roff(line.mid(2)) + QLatin1Char('\n');
            out += QStringLiteral(".fi\n.RE\n");
        } else {
            out += QStringLiteral(".PP\n");
            for (const QString& line : block.lines)
                out += roff(line.trimmed()) + QLatin1Char('\n');
        }
    }
    return out;
}

QString roffOptions(OptionSet options)
{
    QString out;
    for (const OptionDescription& option : describeOptions(options)) {
        out += QStringLiteral(".TP\n");
        if (!option.shortName.isEmpty())
            out += QStringLiteral("\\fB%1\\fR, ").arg(roff(option.shortName));
        out += QStringLiteral("\\fB%1\\fR").arg(roff(option.longName));
        if (!option.valueName.isEmpty())
            out += QStringLiteral(" \\fI%1\\fR").arg(roff(option.valueName));
        out += QLatin1Char('\n') + roff(option.help) + QLatin1Char('\n');
    }
    return out;
}

// ---- bash ----

QString bashFiles(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Other:
        return QStringLiteral("return");
    case ValueKind::AnyFile:
        return QStringLiteral("_tilegrid_files \"$cur\"");
    case ValueKind::Folder:
        return QStringLiteral("_tilegrid_folders \"$cur\"");
    default:
        return QStringLiteral("_tilegrid_files \"$cur\" ") +
               extensions(kind).join(QLatin1Char(' '));
    }
}

// ---- zsh ----

QString zshQuoted(QString text)
{
    text.replace(QLatin1Char('['), QLatin1Char('(')).replace(QLatin1Char(']'), QLatin1Char(')'));
    return text.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
}

QString zshAction(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Other:
        return QStringLiteral(" ");
    case ValueKind::AnyFile:
        return QStringLiteral("_files");
    case ValueKind::Folder:
        return QStringLiteral("_files -/");
    default:
        return QStringLiteral("_files -g \"*.(%1)(-.)\"")
            .arg(extensions(kind).join(QLatin1Char('|')));
    }
}

// ---- fish ----

QString fishQuoted(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return text.replace(QLatin1Char('\''), QStringLiteral("\\'"));
}

QString fishFiles(ValueKind kind)
{
    QStringList calls;
    for (const QString& extension : extensions(kind))
        calls << QStringLiteral("__fish_complete_suffix .%1").arg(extension);
    return QStringLiteral("(%1)").arg(calls.join(QStringLiteral("; ")));
}

} // namespace

QString manPage()
{
    QString page =
        QStringLiteral(
            ".TH TILEGRID 1 \"\" \"tilegrid %1\" \"User Commands\"\n"
            ".SH NAME\n"
            "tilegrid \\- tile sheet grid and map tool\n"
            ".SH SYNOPSIS\n"
            ".B tilegrid\n"
            ".RI [ FILE ]\n"
            ".br\n"
            ".B tilegrid\n"
            ".I COMMAND ARGUMENTS...\n"
            ".br\n"
            ".B tilegrid\n"
            ".I COMMAND\n"
            ".B \\-\\-help\n"
            ".br\n"
            ".B tilegrid \\-\\-version\n"
            ".SH DESCRIPTION\n"
            "Without a command, tilegrid opens its window (with FILE, when given), where "
            "a tile sheet is shown zoomed, its grid inserted or stripped and its tiles "
            "swapped by dragging. With a command, it works on sheets and levels without "
            "a window.\n")
            .arg(versionText().section(QLatin1Char(' '), 1).trimmed());
    page += roffBlocks(overviewHelp());
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CommandSpec& command : commandTable()) {
        page += QStringLiteral(".SS %1\n").arg(command.words());
        page += QStringLiteral(".B tilegrid %1\n%2\n.PP\n%3\n")
                    .arg(command.words(), roff(QString::fromUtf8(command.synopsis)),
                         roff(QString::fromUtf8(command.summary)));
        page += roffBlocks(QString::fromUtf8(command.details));
        page += QStringLiteral(".PP\nOptions:\n") + roffOptions(command.options);
    }
    page += QStringLiteral(".SH OUTPUT\n") + roffBlocks(outputHelp());
    page += QStringLiteral(".SH OPTIONS OF EVERY COMMAND\n") + roffOptions(OptionSet{});
    page += QStringLiteral(".SH EXIT STATUS\n") + roffBlocks(exitHelp());
    page += QStringLiteral(".SH EXAMPLES\n") + roffBlocks(programExamples());
    return page;
}

QString bashCompletion()
{
    QString script =
        QStringLiteral(
            "# bash completion for tilegrid: its commands, each command's options and the files "
            "each\n"
            "# option takes. Written from the program's command table.\n"
            "\n"
            "# Folders, and the files of the given extensions (any file when none are given).\n"
            "_tilegrid_files()\n"
            "{\n"
            "    local cur=$1 extension IFS=$'\\n'\n"
            "    shift\n"
            "    COMPREPLY+=($(compgen -d -- \"$cur\"))\n"
            "    if (($# == 0)); then\n"
            "        COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
            "    fi\n"
            "    for extension in \"$@\"; do\n"
            "        COMPREPLY+=($(compgen -f -X \"!*.$extension\" -- \"$cur\"))\n"
            "    done\n"
            "    compopt -o filenames 2>/dev/null\n"
            "}\n"
            "\n"
            "_tilegrid_folders()\n"
            "{\n"
            "    local IFS=$'\\n'\n"
            "    COMPREPLY+=($(compgen -d -- \"$1\"))\n"
            "    compopt -o filenames 2>/dev/null\n"
            "}\n"
            "\n"
            "_tilegrid()\n"
            "{\n"
            "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
            "    local command=${COMP_WORDS[1]} first=2 i\n"
            "    COMPREPLY=()\n"
            "    if ((COMP_CWORD == 1)); then\n"
            "        if [[ $cur == -* ]]; then\n"
            "            COMPREPLY=($(compgen -W '--help --version' -- \"$cur\"))\n"
            "            return\n"
            "        fi\n"
            "        COMPREPLY=($(compgen -W '%1' -- \"$cur\"))\n"
            "        %2\n"
            "        return\n"
            "    fi\n"
            "    case $command in\n")
            .arg(groups().join(QLatin1Char(' ')), bashFiles(ValueKind::Sheet));
    const QStringList twoWordGroups = ::twoWordGroups();
    script += QStringLiteral("    %1)\n"
                             "        if ((COMP_CWORD == 2)); then\n"
                             "            case $command in\n")
                  .arg(twoWordGroups.join(QLatin1Char('|')));
    for (const QString& group : twoWordGroups) {
        QStringList names;
        for (const CommandSpec* command : commandsOf(group))
            names << QLatin1StringView(command->name);
        script += QStringLiteral("            %1) COMPREPLY=($(compgen -W '%2' -- \"$cur\")) ;;\n")
                      .arg(group, names.join(QLatin1Char(' ')));
    }
    script += QStringLiteral("            esac\n"
                             "            return\n"
                             "        fi\n"
                             "        command+=\" ${COMP_WORDS[2]}\"\n"
                             "        first=3\n"
                             "        ;;\n"
                             "    esac\n"
                             "    # The value of the option before the word.\n"
                             "    case $prev in\n");
    // Every option, whichever command takes it: an option's value is of one kind everywhere.
    for (const OptionDescription& option : describeOptions(everyOption())) {
        if (option.valueName.isEmpty())
            continue;
        QString names = option.longName;
        if (!option.shortName.isEmpty())
            names = option.shortName + QLatin1Char('|') + names;
        script += QStringLiteral("    %1)\n        %2\n        return\n        ;;\n")
                      .arg(names, bashFiles(option.value));
    }
    script += QStringLiteral("    esac\n"
                             "    if [[ $cur == -* ]]; then\n"
                             "        case $command in\n");
    for (const CommandSpec& command : commandTable()) {
        QStringList names;
        for (const OptionDescription& option : describeOptions(command.options)) {
            if (!option.shortName.isEmpty())
                names << option.shortName;
            names << option.longName;
        }
        script += QStringLiteral("        \"%1\") COMPREPLY=($(compgen -W '%2' -- \"$cur\")) ;;\n")
                      .arg(command.words(), names.join(QLatin1Char(' ')));
    }
    script +=
        QStringLiteral("        esac\n"
                       "        return\n"
                       "    fi\n"
                       "    # An option of many values takes the words up to the next option.\n"
                       "    for ((i = COMP_CWORD - 1; i >= first; i--)); do\n"
                       "        case ${COMP_WORDS[i]} in\n");
    for (const OptionDescription& option : describeOptions(everyOption()))
        if (option.many)
            script +=
                QStringLiteral("        %1)\n            %2\n            return\n            ;;\n")
                    .arg(option.longName, bashFiles(option.value));
    script += QStringLiteral("        -*) break ;;\n"
                             "        esac\n"
                             "    done\n"
                             "    case $command in\n");
    for (const CommandSpec& command : commandTable())
        if (inputKind(command) != ValueKind::Sheet)
            script += QStringLiteral("    \"%1\") %2 ;;\n")
                          .arg(command.words(), bashFiles(inputKind(command)));
    script += QStringLiteral("    *) %1 ;;\n"
                             "    esac\n"
                             "}\n"
                             "complete -F _tilegrid tilegrid\n")
                  .arg(bashFiles(ValueKind::Sheet));
    return script;
}

QString zshCompletion()
{
    QString script = QStringLiteral(
        "#compdef tilegrid\n"
        "# zsh completion for tilegrid: its commands, each command's options and the files each\n"
        "# option takes. Written from the program's command table.\n"
        "\n"
        "_tilegrid() {\n"
        "  local -a commands\n"
        "  if (( CURRENT == 2 )); then\n"
        "    commands=(\n");
    for (const QString& group : groups())
        script += QStringLiteral("      '%1:%2'\n").arg(group, zshQuoted(groupSummary(group)));
    script += QStringLiteral("      '--help:show the help'\n"
                             "      '--version:show the version'\n"
                             "    )\n"
                             "    _describe -t commands 'tilegrid command' commands\n"
                             "    %1\n"
                             "    return\n"
                             "  fi\n"
                             "  local command=$words[2]\n"
                             "  case $command in\n")
                  .arg(zshAction(ValueKind::Sheet));
    for (const QString& group : groups()) {
        if (!hasSecondWord(group))
            continue;
        script += QStringLiteral("    %1)\n"
                                 "      if (( CURRENT == 3 )); then\n"
                                 "        commands=(\n")
                      .arg(group);
        for (const CommandSpec* command : commandsOf(group))
            script += QStringLiteral("          '%1:%2'\n")
                          .arg(QLatin1StringView(command->name),
                               zshQuoted(QString::fromUtf8(command->summary)));
        script += QStringLiteral("        )\n"
                                 "        _describe -t commands 'tilegrid %1 command' commands\n"
                                 "        return\n"
                                 "      fi\n"
                                 "      command=\"$command $words[3]\"\n"
                                 "      shift 2 words\n"
                                 "      (( CURRENT -= 2 ))\n"
                                 "      ;;\n")
                      .arg(group);
    }
    script += QStringLiteral("    *)\n"
                             "      shift words\n"
                             "      (( CURRENT -= 1 ))\n"
                             "      ;;\n"
                             "  esac\n"
                             "  case $command in\n");
    for (const CommandSpec& command : commandTable()) {
        script += QStringLiteral("    '%1')\n      _arguments -S \\\n").arg(command.words());
        for (const OptionDescription& option : describeOptions(command.options)) {
            QStringList names{option.longName};
            if (!option.shortName.isEmpty())
                names.prepend(option.shortName);
            for (const QString& name : names) {
                const QString repeat = option.repeats ? QStringLiteral("*") : QString();
                const QString equals =
                    name.startsWith(QLatin1String("--")) && !option.valueName.isEmpty()
                        ? QStringLiteral("=")
                        : QString();
                QString value;
                if (!option.valueName.isEmpty())
                    value = QStringLiteral(":%1:%2").arg(zshQuoted(option.valueName),
                                                         zshAction(option.value));
                script += QStringLiteral("        '%1%2%3[%4]%5' \\\n")
                              .arg(repeat, name, equals, zshQuoted(option.help), value);
            }
        }
        script +=
            QStringLiteral("        '*:file:%1'\n      ;;\n").arg(zshAction(inputKind(command)));
    }
    script += QStringLiteral("  esac\n}\n\n_tilegrid \"$@\"\n");
    return script;
}

QString fishCompletion()
{
    QString script = QStringLiteral(
        "# fish completion for tilegrid: its commands, each command's options and the files each\n"
        "# option takes. Written from the program's command table.\n"
        "\n"
        "# The command words given so far: \"grid add\", \"info\", \"grid\" or nothing.\n"
        "function __tilegrid_command\n"
        "    set -l words (commandline -opc)\n"
        "    set -e words[1]\n"
        "    switch \"$words[1]\"\n"
        "        case %1\n"
        "            if set -q words[2]\n"
        "                echo \"$words[1] $words[2]\"\n"
        "                return\n"
        "            end\n"
        "    end\n"
        "    set -q words[1]; and echo $words[1]\n"
        "end\n"
        "\n"
        "function __tilegrid_at\n"
        "    set -l typed (__tilegrid_command)\n"
        "    test \"$typed\" = \"$argv[1]\"\n"
        "end\n"
        "\n"
        "complete -c tilegrid -f\n"
        "complete -c tilegrid -n '__tilegrid_at \"\"' -l help -d 'show the help'\n"
        "complete -c tilegrid -n '__tilegrid_at \"\"' -l version -d 'show the version'\n"
        "complete -c tilegrid -n '__tilegrid_at \"\"' -a '%2'\n");
    const QStringList twoWordGroups = ::twoWordGroups();
    script = script.arg(twoWordGroups.join(QLatin1Char(' ')), fishFiles(ValueKind::Sheet));
    for (const QString& group : groups())
        script += QStringLiteral("complete -c tilegrid -n '__tilegrid_at \"\"' -a %1 -d '%2'\n")
                      .arg(group, fishQuoted(groupSummary(group)));
    for (const QString& group : twoWordGroups)
        for (const CommandSpec* command : commandsOf(group))
            script += QStringLiteral("complete -c tilegrid -n '__tilegrid_at %1' -a %2 -d '%3'\n")
                          .arg(group, QLatin1StringView(command->name),
                               fishQuoted(QString::fromUtf8(command->summary)));
    for (const CommandSpec& command : commandTable()) {
        const QString at = QStringLiteral("-n '__tilegrid_at \"%1\"'").arg(command.words());
        script += QStringLiteral("\ncomplete -c tilegrid %1 -a '%2'\n")
                      .arg(at, fishFiles(inputKind(command)));
        for (const OptionDescription& option : describeOptions(command.options)) {
            QString line =
                QStringLiteral("complete -c tilegrid %1 -l %2").arg(at, option.longName.mid(2));
            if (!option.shortName.isEmpty())
                line += QStringLiteral(" -s ") + option.shortName.mid(1);
            if (!option.valueName.isEmpty()) {
                line += QStringLiteral(" -r");
                if (option.value == ValueKind::AnyFile)
                    line += QStringLiteral(" -F");
                else if (option.value == ValueKind::Folder)
                    line += QStringLiteral(" -a '(__fish_complete_directories)'");
                else if (option.value != ValueKind::Other)
                    line += QStringLiteral(" -a '%1'").arg(fishFiles(option.value));
            }
            script += line + QStringLiteral(" -d '%1'\n").arg(fishQuoted(option.help));
        }
    }
    return script;
}

QString commandLineMarkdown()
{
    auto markdownBlocks = [](const QString& text) {
        QString out;
        for (const Block& block : blocksOf(text)) {
            if (block.literal) {
                out += QStringLiteral("```\n");
                for (const QString& line : block.lines)
                    out += line.mid(2) + QLatin1Char('\n');
                out += QStringLiteral("```\n\n");
            } else {
                QStringList words;
                for (const QString& line : block.lines)
                    words << line.trimmed();
                QString prose = words.join(QLatin1Char(' '));
                static const QRegularExpression special(QStringLiteral("([*_<>\\\\`])"));
                out += prose.replace(special, QStringLiteral("\\\\\\1")) + QStringLiteral("\n\n");
            }
        }
        return out;
    };
    auto markdownOptions = [](OptionSet options) {
        QString out;
        for (const OptionDescription& option : describeOptions(options)) {
            QString names = option.longName;
            if (!option.valueName.isEmpty())
                names += QLatin1Char(' ') + option.valueName;
            if (!option.shortName.isEmpty())
                names = option.shortName + QStringLiteral("`, `") + names;
            out += QStringLiteral("- `%1`: %2\n").arg(names, option.help);
        }
        return out + QLatin1Char('\n');
    };
    QString text = QStringLiteral(
        "# Command reference\n"
        "\n"
        "<!-- Written from the program's command table by `make docs`; a test checks that it\n"
        "     still agrees. Edit the table in src/cli/, not this file. -->\n"
        "\n"
        "`tilegrid` without a command opens the window; `tilegrid COMMAND ARGUMENTS...` works on\n"
        "sheets and levels without one, and `tilegrid COMMAND --help` prints what follows here\n"
        "for one command; `tilegrid --version` prints the version.\n"
        "\n");
    text += markdownBlocks(overviewHelp());
    text += QStringLiteral("| Command | What it does |\n|---|---|\n");
    for (const CommandSpec& command : commandTable())
        text +=
            QStringLiteral("| [`%1`](#%2) | %3 |\n")
                .arg(command.words(), command.words().replace(QLatin1Char(' '), QLatin1Char('-')),
                     QString::fromUtf8(command.summary));
    text += QLatin1Char('\n');
    for (const CommandSpec& command : commandTable()) {
        text += QStringLiteral("## %1\n\n```\ntilegrid %1 %2\n```\n\n")
                    .arg(command.words(), QString::fromUtf8(command.synopsis));
        text += markdownBlocks(QString::fromUtf8(command.details));
        text += QStringLiteral("Options:\n\n") + markdownOptions(command.options);
    }
    text += QStringLiteral("## Output\n\n") + markdownBlocks(outputHelp());
    text += QStringLiteral("## Options of every command\n\n") + markdownOptions(OptionSet{});
    text += QStringLiteral("## Exit status\n\n") + markdownBlocks(exitHelp());
    text += QStringLiteral("## Examples\n\n") + markdownBlocks(programExamples());
    text.chop(1); // one newline at the end
    return text;
}
